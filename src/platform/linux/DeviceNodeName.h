#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace pellora {

// The number of a kernel device node named `prefix` + N ("i2c-7", "video0"); nothing for any
// other name, a sign, or trailing characters.
inline std::optional<int> deviceNodeNumber(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) {
        return std::nullopt;
    }
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    if (*first < '0' || *first > '9') {
        return std::nullopt;
    }
    int n = -1;
    auto [end, error] = std::from_chars(first, last, n);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return n;
}

}  // namespace pellora
