#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// How a monitor is run: only observed, or also driven by the learnt curve.
enum class Mode { learning, adapting };

// The stored text: "learning" or "adapting".
inline const char* modeText(Mode mode) {
    return mode == Mode::adapting ? "adapting" : "learning";
}

inline std::optional<Mode> modeFromText(std::string_view text) {
    if (text == "learning") {
        return Mode::learning;
    }
    if (text == "adapting") {
        return Mode::adapting;
    }
    return std::nullopt;
}

}  // namespace pellora
