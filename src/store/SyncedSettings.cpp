#include "store/SyncedSettings.h"

#include <algorithm>

namespace pellora {

SyncedSettings::SyncedSettings(std::string machine, const Clock& clock,
                               SettingsFileCodec::Decoded own)
    : machine_(std::move(machine)),
      clock_(clock),
      own_(std::move(own.entries)),
      ownKept_(std::move(own.unreadable)) {}

const SettingsEntry* SyncedSettings::winner(const std::string& key) const {
    const SettingsEntry* best = nullptr;
    const std::string* bestName = nullptr;
    auto consider = [&](const SettingsEntries& entries, const std::string& name) {
        auto it = entries.find(key);
        if (it == entries.end()) {
            return;
        }
        const SettingsEntry& entry = it->second;
        if (!best || entry.modified > best->modified ||
            (entry.modified == best->modified && name > *bestName)) {
            best = &entry;
            bestName = &name;
        }
    };
    consider(own_, machine_);
    for (const auto& [name, entries] : peers_) {
        consider(entries, name);
    }
    return best;
}

const SettingValue* SyncedSettings::value(const std::string& key) const {
    const SettingsEntry* entry = winner(key);
    return entry && entry->value ? &*entry->value : nullptr;
}

bool SyncedSettings::isRemoved(const std::string& key) const {
    const SettingsEntry* entry = winner(key);
    return entry && !entry->value;
}

void SyncedSettings::stamp(const std::string& key, std::optional<SettingValue> value) {
    // A write made here after seeing another machine's value must win over it, even when
    // this machine's clock runs a little behind.
    double modified = clock_.now();
    if (const SettingsEntry* current = winner(key)) {
        modified = std::max(modified, current->modified + 0.001);
    }
    // Never a time the files cannot hold: the write would be unreadable after a restart.
    modified = std::min(modified, SettingsFileCodec::maxModified);
    own_[key] = SettingsEntry{std::move(value), modified};
    ownKept_.erase(key);
}

void SyncedSettings::set(const std::string& key, SettingValue value) {
    stamp(key, std::move(value));
}

bool SyncedSettings::remove(const std::string& key) {
    if (winner(key) || ownKept_.count(key)) {
        stamp(key, std::nullopt);
        return true;
    }
    return false;
}

bool SyncedSettings::apply(PeerChanges changes) {
    bool changed = false;
    for (auto& [name, entries] : changes) {
        auto it = peers_.find(name);
        if (!entries) {
            if (it != peers_.end()) {
                changed = changed || !it->second.empty();
                peers_.erase(it);
            }
        } else if (it == peers_.end()) {
            changed = changed || !entries->empty();
            peers_.emplace(name, std::move(*entries));
        } else if (it->second != *entries) {
            changed = true;
            it->second = std::move(*entries);
        }
    }
    return changed;
}

}  // namespace pellora
