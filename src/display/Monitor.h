#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// An external monitor, known by the three numbers its EDID gives.
struct Monitor {
    std::uint32_t vendor = 0;
    std::uint32_t model = 0;
    std::uint32_t serial = 0;

    bool operator==(const Monitor&) const = default;

    // "%08X-%08X-%08X": names everything kept for the monitor.
    std::string identifier() const;
    // "monitor." + identifier + ".": the start of every per-monitor settings key.
    std::string keyPrefix() const;

    // {"vendor":…,"model":…,"serial":…}
    std::string encodeJSON() const;
    static std::optional<Monitor> decodeJSON(std::string_view bytes);
};

}  // namespace pellora

template <>
struct std::hash<pellora::Monitor> {
    std::size_t operator()(const pellora::Monitor& m) const noexcept {
        std::size_t h = std::hash<std::uint32_t>{}(m.vendor);
        h = h * 31 + std::hash<std::uint32_t>{}(m.model);
        return h * 31 + std::hash<std::uint32_t>{}(m.serial);
    }
};
