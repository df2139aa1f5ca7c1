#include "store/LocalSettings.h"

#include "platform/AppPaths.h"
#include "store/AtomicFile.h"

namespace pellora {

LocalSettings::LocalSettings(std::filesystem::path file, Logger log)
    : file_(std::move(file)), log_(std::move(log)) {
    FileRead read = readWholeFile(file_, maxFileBytes);
    if (read.status == FileRead::Status::missing) {
        return;
    }
    if (read.status != FileRead::Status::ok) {
        log_("settings file " + file_.string() + " cannot be read (" + read.error +
             "); using defaults");
        preserveDamagedFile_ = true;
        return;
    }
    auto decoded = SettingsFileCodec::decode(read.bytes);
    if (!decoded) {
        log_("settings file " + file_.string() + " is damaged; using defaults and keeping it as " +
             file_.filename().string() + ".damaged");
        preserveDamagedFile_ = true;
        return;
    }
    for (const auto& key : decoded->skipped) {
        log_("settings file " + file_.string() + ": key \"" + key +
             "\" holds an unreadable value; using its default");
    }
    for (auto& [key, entry] : decoded->entries) {
        if (entry.value) {
            entries_.emplace(key, std::move(entry));
        }
    }
}

const SettingValue* LocalSettings::value(const std::string& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() || !it->second.value ? nullptr : &*it->second.value;
}

void LocalSettings::set(const std::string& key, SettingValue value) {
    entries_[key] = SettingsEntry{std::move(value), 0};
    write();
}

void LocalSettings::remove(const std::string& key) {
    if (entries_.erase(key) > 0) {
        write();
    }
}

void LocalSettings::write() {
    if (!ensureDirectory(file_.parent_path())) {
        log_("settings folder " + file_.parent_path().string() +
             " cannot be created; the change is kept in memory and written with the next one");
        return;
    }
    if (preserveDamagedFile_) {
        std::error_code error;
        std::filesystem::path aside = file_;
        aside += ".damaged";
        std::filesystem::rename(file_, aside, error);
        if (error && std::filesystem::exists(file_)) {
            log_("settings file " + file_.string() + " cannot be set aside (" + error.message() +
                 "); the change is kept in memory and written with the next one");
            return;
        }
        preserveDamagedFile_ = false;
    }
    // What was not written stays in memory, so the next write carries it too.
    if (auto error = writeFileAtomically(file_, SettingsFileCodec::encode(entries_, false))) {
        log_("settings file " + file_.string() + " cannot be written (" + *error +
             "); will try again with the next change");
    }
}

}  // namespace pellora
