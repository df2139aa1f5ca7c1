#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "store/SettingsFileCodec.h"

namespace pellora {

// The synced copy of the settings as this machine sees it, in memory: its own entries and
// every other machine's. Per key, the newest write (then the larger machine name) wins; a
// removal is kept as a tombstone so that it travels too.
class SyncedSettings {
  public:
    SyncedSettings(std::string machine, const Clock& clock, SettingsFileCodec::Decoded own = {});

    // The winning value of `key` across machines; nothing when absent or removed.
    const SettingValue* value(const std::string& key) const;
    // True when the newest word on `key` is that some machine removed it.
    bool isRemoved(const std::string& key) const;
    void set(const std::string& key, SettingValue value);
    // False when there was nothing to remove (this machine's entries are unchanged).
    bool remove(const std::string& key);

    // Takes in what the other machines' files hold now. True when that changed anything.
    bool apply(PeerChanges changes);

    const SettingsEntries& own() const { return own_; }
    const RawEntries& ownKept() const { return ownKept_; }

  private:
    const SettingsEntry* winner(const std::string& key) const;
    void stamp(const std::string& key, std::optional<SettingValue> value);

    std::string machine_;
    const Clock& clock_;
    SettingsEntries own_;
    RawEntries ownKept_;
    std::map<std::string, SettingsEntries> peers_;
};

}  // namespace pellora
