#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/Clock.h"
#include "store/PeerSettingsFiles.h"
#include "store/SettingsFile.h"
#include "store/SyncedSettings.h"

namespace pellora::test {

// Another machine's share of the synced folder ("<machine>.json" and the others' files), from
// the settings store's own parts, worked synchronously on the caller's thread.
class OtherMachine {
  public:
    using Logger = std::function<void(const std::string&)>;

    OtherMachine(std::filesystem::path dir, std::string machine, const Clock& clock, Logger log)
        : dir_(std::move(dir)),
          file_(dir_ / (machine + ".json"), true, "synced settings file", log),
          peers_(dir_, machine, log),
          settings_(machine, clock, file_.load()) {
        refresh();
    }

    const SettingValue* value(const std::string& key) const { return settings_.value(key); }
    bool isRemoved(const std::string& key) const { return settings_.isRemoved(key); }
    void set(const std::string& key, SettingValue value) {
        settings_.set(key, std::move(value));
        dirty_ = true;
    }
    void remove(const std::string& key) { dirty_ = settings_.remove(key) || dirty_; }

    // Writes this machine's pending changes, reads the others' again; true when theirs changed.
    bool synchronize() {
        if (dirty_ && file_.write(settings_.own(), settings_.ownKept())) {
            dirty_ = false;
        }
        return refresh();
    }
    // Reads the other machines' files again without writing. True on a change.
    bool refresh() { return settings_.apply(peers_.scan()); }

  private:
    std::filesystem::path dir_;
    SettingsFile file_;
    PeerSettingsFiles peers_;
    SyncedSettings settings_;
    bool dirty_ = false;
};

}  // namespace pellora::test
