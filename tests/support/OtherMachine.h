#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/Clock.h"
#include "store/PeerSettingsFiles.h"
#include "store/SettingsFile.h"
#include "store/SyncedSettings.h"

namespace pellora::test {

// Another machine's share of the synced folder, worked synchronously on the caller's thread:
// its own file "<machine>.json" and everyone else's, made of the parts the settings store
// keeps with its file work on a queue.
class OtherMachine {
  public:
    using Logger = std::function<void(const std::string&)>;

    OtherMachine(std::filesystem::path dir, std::string machine, const Clock& clock, Logger log);

    const SettingValue* value(const std::string& key) const { return settings_.value(key); }
    bool isRemoved(const std::string& key) const { return settings_.isRemoved(key); }
    void set(const std::string& key, SettingValue value);
    void remove(const std::string& key);

    // Writes this machine's pending changes and reads the other machines' files again.
    // True when what the other machines hold has changed.
    bool synchronize();
    // Reads the other machines' files again without writing. True on a change.
    bool refresh();

  private:
    std::filesystem::path dir_;
    SettingsFile file_;
    PeerSettingsFiles peers_;
    SyncedSettings settings_;
    bool dirty_ = false;
};

}  // namespace pellora::test
