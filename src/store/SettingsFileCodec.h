#pragma once

#include <map>
#include <optional>
#include <string>

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
// Entries this version cannot read (a damaged one, or a type from a newer version), kept
// as their JSON text so that rewriting the file does not lose them.
using RawEntries = std::map<std::string, std::string>;
// What a look at the synced folder found new, per other machine: its entries, or nothing
// when its file has gone.
using PeerChanges = std::map<std::string, std::optional<SettingsEntries>>;

// The typed JSON form shared by the local settings file and the synced copies:
// {"format":"pellora-settings","version":1,"values":{"key":{"type":"int","value":3,...}}}
class SettingsFileCodec {
  public:
    // The latest modification time a file may hold (about the year 33,658).
    static constexpr double maxModified = 1e12;

    struct Decoded {
        SettingsEntries entries;
        RawEntries unreadable;
    };

    // Nothing when the bytes are not a settings file at all; entries that cannot be read
    // are set apart. Never throws on any bytes.
    static std::optional<Decoded> decode(const std::string& bytes);
    // `withHistory` keeps tombstones and modification times (the synced form). `kept` are
    // written back as they were, for keys that `entries` does not hold.
    static std::string encode(const SettingsEntries& entries, bool withHistory,
                              const RawEntries& kept = {});
};

}  // namespace pellora
