#include "store/PeerSettingsFiles.h"

#include <sys/stat.h>

#include <iterator>
#include <utility>

#include "platform/AtomicFile.h"
#include "store/SettingsFile.h"

namespace pellora {

namespace {

// What changes whenever a file is rewritten in place or replaced.
std::string fileSignature(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

PeerSettingsFiles::PeerSettingsFiles(std::filesystem::path dir, std::string machine, Logger log)
    : dir_(std::move(dir)), machine_(std::move(machine)), log_(std::move(log)) {}

bool PeerSettingsFiles::isPeerFile(const std::filesystem::path& name, const std::string& machine) {
    const std::string text = name.filename().string();
    // Temporary files of this program and of sync tools start with "." or "~".
    return name.extension() == ".json" && text.size() > 5 && text[0] != '.' && text[0] != '~' &&
           name.stem().string() != machine;
}

PeerChanges PeerSettingsFiles::scan() {
    // Beyond the limit, the machines already read stay, then the first names in order: never
    // the folder's listing order, which one more file can reshuffle.
    std::map<std::pair<bool, std::string>, std::filesystem::path> chosen;
    std::size_t beyondLimit = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir_, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::path& path = it->path();
        if (!isPeerFile(path.filename(), machine_)) {
            continue;
        }
        std::string name = path.stem().string();
        const bool unseen = !seen_.count(name);
        chosen.emplace(std::pair(unseen, std::move(name)), path);
        if (chosen.size() > maxPeers) {
            chosen.erase(std::prev(chosen.end()));
            ++beyondLimit;
        }
    }
    std::map<std::string, std::filesystem::path> present;
    for (auto& [key, path] : chosen) {
        present.emplace(key.second, std::move(path));
    }
    if (beyondLimit != ignoredBeyondLimit_ && beyondLimit > 0) {
        log_("synced settings folder " + dir_.string() + " holds more than " +
             std::to_string(maxPeers) + " machines' files; " + std::to_string(beyondLimit) +
             " of them are not read");
    }
    ignoredBeyondLimit_ = beyondLimit;

    PeerChanges changes;
    for (auto it = seen_.begin(); it != seen_.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        if (!it->second.signature.empty()) {
            changes[it->first] = std::nullopt;
        }
        it = seen_.erase(it);
    }
    for (const auto& [name, path] : present) {
        const std::string signature = fileSignature(path);
        Seen& seen = seen_[name];
        if (seen.signature == signature || seen.failedSignature == signature) {
            continue;
        }
        FileRead read = readWholeFile(path, SettingsFile::maxFileBytes);
        std::optional<SettingsFileCodec::Decoded> decoded;
        if (read.status == FileRead::Status::ok) {
            decoded = SettingsFileCodec::decode(read.bytes);
        }
        if (!decoded) {
            log_("synced settings file " + path.string() + " cannot be read (" +
                 (read.status == FileRead::Status::ok ? std::string("not a settings file")
                                                      : read.error) +
                 "); ignoring it for now");
            seen.failedSignature = signature;
            continue;
        }
        // Named one by one up to a few: a file of thousands would fill the whole debug log.
        std::size_t named = 0;
        for (const auto& [key, raw] : decoded->unreadable) {
            if (named++ == maxKeysNamed) {
                break;
            }
            log_("synced settings file " + path.string() + ": key \"" + key +
                 "\" holds a value this version cannot read; ignoring it");
        }
        if (decoded->unreadable.size() > maxKeysNamed) {
            log_("synced settings file " + path.string() + ": and " +
                 std::to_string(decoded->unreadable.size() - maxKeysNamed) +
                 " more keys hold values this version cannot read; ignoring them");
        }
        seen.signature = signature;
        seen.failedSignature.clear();
        changes[name] = std::move(decoded->entries);
    }
    return changes;
}

}  // namespace pellora
