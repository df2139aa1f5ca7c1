#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace pellora {

// Raw bytes (JSON records and the like), kept apart from text.
struct Bytes {
    std::string data;
    bool operator==(const Bytes&) const = default;
};

// One stored setting: bytes, text, a 64-bit integer, a double or a bool.
using SettingValue = std::variant<Bytes, std::string, std::int64_t, double, bool>;

}  // namespace pellora
