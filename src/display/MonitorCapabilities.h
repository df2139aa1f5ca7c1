#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// What a monitor says about itself in its DDC/CI capabilities string (VESA MCCS), as far as
// it could be read: the type and model sections and the VCP codes with their allowed values.
struct MonitorCapabilities {
    std::string rawString;             // the whole text as read
    std::optional<std::string> model;  // inside "model(", unchanged
    std::optional<std::string> type;   // inside "type(", unchanged
    // VCP code -> the values listed for it (empty for a continuous control).
    std::map<std::uint8_t, std::vector<std::uint8_t>> vcps;

    bool operator==(const MonitorCapabilities&) const = default;

    // Never fails: whatever cannot be read is skipped. Characters are Unicode code points of
    // the UTF-8 text; a byte that is not part of valid UTF-8 counts as one character.
    static MonitorCapabilities parse(std::string_view text);

    // The stored JSON record: {"rawString", "model"?, "type"?, "vcps": [code, [values], ...]}.
    // Absent when a text field is not valid UTF-8, which JSON cannot carry unchanged.
    std::optional<std::string> encodeJSON() const;
    // Absent for anything that is not such a record (missing or mistyped fields, bytes out of
    // range, an odd "vcps" array, text that is not JSON).
    static std::optional<MonitorCapabilities> decodeJSON(std::string_view bytes);
};

}  // namespace pellora
