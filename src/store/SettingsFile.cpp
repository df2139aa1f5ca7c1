#include "store/SettingsFile.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace pellora {

SettingsFile::SettingsFile(std::filesystem::path path, bool withHistory, std::string what,
                           Logger log)
    : path_(std::move(path)),
      withHistory_(withHistory),
      what_(std::move(what)),
      log_(std::move(log)) {}

SettingsFileCodec::Decoded SettingsFile::load() {
    FileRead read = readWholeFile(path_, maxFileBytes);
    if (read.status == FileRead::Status::missing) {
        return {};
    }
    std::optional<SettingsFileCodec::Decoded> decoded;
    if (read.status == FileRead::Status::ok) {
        decoded = SettingsFileCodec::decode(read.bytes);
    }
    if (!decoded) {
        log_(what_ + " " + path_.string() + " cannot be read (" +
             (read.status == FileRead::Status::ok ? std::string("not a settings file")
                                                  : read.error) +
             "); using defaults and keeping it as " + path_.filename().string() + ".damaged.<n>");
        setAside_ = true;
        return {};
    }
    for (const auto& [key, raw] : decoded->unreadable) {
        log_(what_ + " " + path_.string() + ": key \"" + key +
             "\" holds a value this version cannot read; using its default and keeping it");
    }
    if (!withHistory_) {
        std::erase_if(decoded->entries, [](const auto& item) { return !item.second.value; });
    }
    return std::move(*decoded);
}

bool SettingsFile::write(const SettingsEntries& entries, const RawEntries& kept) {
    const std::filesystem::path dir = path_.parent_path();
    if (!ensureDirectory(dir)) {
        log_(what_ + " folder " + dir.string() +
             " cannot be created; the change is kept in memory and written with the next one");
        return false;
    }
    if (setAside_) {
        if (auto error = setAsideDamaged(path_)) {
            log_(what_ + " " + path_.string() + " cannot be set aside (" + *error +
                 "); the change is kept in memory and written with the next one");
            return false;
        }
        setAside_ = false;
    }
    if (auto error =
            writeFileAtomically(path_, SettingsFileCodec::encode(entries, withHistory_, kept))) {
        log_(what_ + " " + path_.string() + " cannot be written (" + *error +
             "); will try again with the next change");
        return false;
    }
    return true;
}

}  // namespace pellora
