#include "store/CloudSettingsFolder.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/AppPaths.h"
#include "store/AtomicFile.h"

namespace pellora {

namespace {

// What changes whenever a file is rewritten in place or replaced.
std::string fileSignature(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

CloudSettingsFolder::CloudSettingsFolder(std::filesystem::path dir, std::string machine,
                                         const Clock& clock, Logger log)
    : dir_(std::move(dir)), machine_(std::move(machine)), clock_(clock), log_(std::move(log)) {
    FileRead read = readWholeFile(ownFile(), maxFileBytes);
    if (read.status == FileRead::Status::ok) {
        if (auto decoded = SettingsFileCodec::decode(read.bytes)) {
            own_ = std::move(decoded->entries);
        } else {
            preserveDamagedFile_ = true;
        }
    } else if (read.status != FileRead::Status::missing) {
        preserveDamagedFile_ = true;
    }
    if (preserveDamagedFile_) {
        log_("synced settings file " + ownFile().string() +
             " cannot be read; starting from the other machines' copies");
    }
    refresh();
}

const SettingsEntry* CloudSettingsFolder::winner(const std::string& key) const {
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
    for (const auto& [name, peer] : peers_) {
        consider(peer.entries, name);
    }
    return best;
}

const SettingValue* CloudSettingsFolder::value(const std::string& key) const {
    const SettingsEntry* entry = winner(key);
    return entry && entry->value ? &*entry->value : nullptr;
}

bool CloudSettingsFolder::isRemoved(const std::string& key) const {
    const SettingsEntry* entry = winner(key);
    return entry && !entry->value;
}

void CloudSettingsFolder::stamp(const std::string& key, std::optional<SettingValue> value) {
    // A write made here after seeing another machine's value must win over it, even when
    // this machine's clock runs a little behind.
    double modified = clock_.now();
    if (const SettingsEntry* current = winner(key)) {
        modified = std::max(modified, current->modified + 0.001);
    }
    own_[key] = SettingsEntry{std::move(value), modified};
    ownDirty_ = true;
}

void CloudSettingsFolder::set(const std::string& key, SettingValue value) {
    stamp(key, std::move(value));
}

void CloudSettingsFolder::remove(const std::string& key) {
    if (winner(key) || own_.count(key)) {
        stamp(key, std::nullopt);
    }
}

bool CloudSettingsFolder::synchronize() {
    if (ownDirty_) {
        writeOwn();
    }
    return refresh();
}

void CloudSettingsFolder::writeOwn() {
    if (!ensureDirectory(dir_)) {
        log_("synced settings folder " + dir_.string() +
             " cannot be created; the change is kept and written with the next one");
        return;
    }
    if (preserveDamagedFile_) {
        std::error_code error;
        std::filesystem::path aside = ownFile();
        aside += ".damaged";
        std::filesystem::rename(ownFile(), aside, error);
        if (error && std::filesystem::exists(ownFile())) {
            log_("synced settings file " + ownFile().string() + " cannot be set aside (" +
                 error.message() + "); will try again with the next change");
            return;
        }
        preserveDamagedFile_ = false;
    }
    if (auto error = writeFileAtomically(ownFile(), SettingsFileCodec::encode(own_, true))) {
        log_("synced settings file " + ownFile().string() + " cannot be written (" + *error +
             "); will try again with the next change");
        return;
    }
    ownDirty_ = false;
}

bool CloudSettingsFolder::refresh() {
    std::map<std::string, std::filesystem::path> present;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir_, error), end; !error && it != end;
         it.increment(error)) {
        const auto& path = it->path();
        std::string name = path.filename().string();
        // Temporary files of this program and of sync tools start with a dot.
        if (path.extension() != ".json" || name.empty() || name[0] == '.' ||
            path.stem().string() == machine_) {
            continue;
        }
        present.emplace(path.stem().string(), path);
    }

    bool changed = false;
    for (auto it = peers_.begin(); it != peers_.end();) {
        if (present.count(it->first)) {
            ++it;
        } else {
            changed = changed || !it->second.entries.empty();
            it = peers_.erase(it);
        }
    }
    for (const auto& [name, path] : present) {
        std::string signature = fileSignature(path);
        auto existing = peers_.find(name);
        if (existing != peers_.end() && (existing->second.signature == signature ||
                                         existing->second.failedSignature == signature)) {
            continue;
        }
        FileRead read = readWholeFile(path, maxFileBytes);
        std::optional<SettingsFileCodec::Decoded> decoded;
        if (read.status == FileRead::Status::ok) {
            decoded = SettingsFileCodec::decode(read.bytes);
        }
        if (!decoded) {
            // Possibly caught half-way through a rewrite by a sync tool: keep what was read
            // before and look again at the next change.
            log_("synced settings file " + path.string() + " cannot be read (" +
                 (read.status == FileRead::Status::ok ? std::string("not a settings file")
                                                      : read.error) +
                 "); ignoring it for now");
            peers_[name].failedSignature = signature;
            continue;
        }
        for (const auto& key : decoded->skipped) {
            log_("synced settings file " + path.string() + ": key \"" + key +
                 "\" holds an unreadable value; ignoring it");
        }
        Peer& peer = peers_[name];
        changed = changed || peer.entries != decoded->entries;
        peer.signature = signature;
        peer.entries = std::move(decoded->entries);
    }
    return changed;
}

}  // namespace pellora
