#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/SettingValue.h"

namespace pellora {

// One key of a settings file. A removal is kept as an entry without a value (a tombstone)
// in the synced copy, so that the removal itself travels to other machines.
struct SettingsEntry {
    std::optional<SettingValue> value;
    double modified = 0;  // wall time of the write; the newest write of a key wins
    bool operator==(const SettingsEntry&) const = default;
};

using SettingsEntries = std::map<std::string, SettingsEntry>;

// The typed JSON form shared by the local settings file and the synced copies:
// {"format":"pellora-settings","version":1,"values":{"key":{"type":"int","value":3,...}}}
class SettingsFileCodec {
  public:
    struct Decoded {
        SettingsEntries entries;
        std::vector<std::string> skipped;  // keys whose entry was damaged, for the debug log
    };

    // Nothing when the bytes are not a settings file at all; damaged entries are skipped.
    static std::optional<Decoded> decode(const std::string& bytes);
    // `withHistory` keeps tombstones and modification times (the synced form).
    static std::string encode(const SettingsEntries& entries, bool withHistory);
};

}  // namespace pellora
