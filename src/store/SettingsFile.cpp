#include "store/SettingsFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace pellora {

namespace {

std::string userName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// `path` as one word of a shell command the user may paste: a home or XDG folder may hold
// spaces, quotes or other characters a shell would take apart.
std::string shellWord(const std::filesystem::path& path) {
    const std::string text = path.string();
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                                                "VWXYZ0123456789/._-+,:@%") == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

SettingsFile::SettingsFile(std::filesystem::path path, bool withHistory, std::string what,
                           Logger log)
    : path_(std::move(path)),
      withHistory_(withHistory),
      what_(std::move(what)),
      log_(std::move(log)) {}

SettingsFile::Place SettingsFile::resolve() const {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return {path_, std::nullopt};
    }
    if (withHistory_) {
        // The synced folder's links may come from another machine and lead to any file here.
        return {path_, "a symbolic link, which is not followed in the synced folder"};
    }
    // A dotfile manager (GNU Stow, chezmoi, home-manager) keeps the file elsewhere and links
    // it here: the file is wherever the links lead, if that is a file of this user's.
    char real[PATH_MAX];
    if (::realpath(path_.c_str(), real) == nullptr) {
        return {path_,
                "a symbolic link that leads nowhere (" + std::string(std::strerror(errno)) + ")"};
    }
    const std::filesystem::path target = real;
    if (::stat(real, &info) != 0 || !S_ISREG(info.st_mode)) {
        return {path_, "a symbolic link to " + target.string() + ", which is not a regular file"};
    }
    if (info.st_uid != ::geteuid()) {
        return {path_, "a symbolic link to " + target.string() + ", which belongs to another user"};
    }
    return {target, std::nullopt};
}

SettingsFileCodec::Decoded SettingsFile::load() {
    const Place place = resolve();
    if (place.refusal) {
        log_(what_ + " " + path_.string() + " cannot be read (" + *place.refusal +
             "); using defaults and keeping the link as " + path_.filename().string() +
             ".damaged.<n>");
        setAside_ = true;
        return {};
    }
    if (place.file != path_) {
        log_(what_ + " " + path_.string() + " is a link to " + place.file.string() +
             ", which is read and written in its place");
    }
    FileRead read = readWholeFile(place.file, maxFileBytes);
    if (read.status == FileRead::Status::missing) {
        return {};
    }
    if (read.status == FileRead::Status::denied) {
        // Replacing it would lose what it holds; the user can give access back, or, to a file
        // a run as root left (sudo -E, or a sudo that keeps HOME), take it back.
        problem_ = Problem{
            place.file, what_ + " " + place.file.string() + " cannot be read (" + read.error + ")",
            "Give yourself read and write access to it, then restart Pellora"};
        std::string command = "chmod u+rw " + shellWord(place.file);
        // A folder a sudo run made is root's too, and keeps the file out of reach: the owner
        // to name is that of the nearest of them this user may look at.
        std::filesystem::path owned = place.file;
        struct stat owner {};
        while (::stat(owned.c_str(), &owner) != 0 && owned.has_relative_path()) {
            owned = owned.parent_path();
        }
        if (owner.st_uid != ::geteuid() && owned.has_relative_path()) {
            const bool folder = owned != place.file;
            command = std::string("sudo chown ") + (folder ? "-R " : "") + userName(::geteuid()) +
                      " " + shellWord(owned);
            problem_->text += (folder ? ": its folder " + owned.string() + " belongs to "
                                      : std::string(": it belongs to ")) +
                              userName(owner.st_uid);
            problem_->fix = "Take it back with " + command + ", then restart Pellora";
        }
        log_(problem_->text + "; using defaults and leaving it as it is: changes are not saved " +
             "to it until it can be read (" + command + ", then restart Pellora)");
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
    if (problem_) {
        return false;
    }
    // Looked up again at each write: the link may have been changed meanwhile.
    Place place = resolve();
    if (place.refusal) {
        // Set aside, the link keeps leading where it did; a file of our own takes its place.
        setAside_ = true;
        place.file = path_;
    }
    const std::filesystem::path dir = place.file.parent_path();
    auto failed = [&](const std::string& text, const std::string& fix) {
        log_(text + "; the change is kept in memory and tried again in a while");
        std::error_code error;
        writeProblem_ = Problem{std::filesystem::exists(place.file, error) ? place.file : dir, text,
                                fix + "; Pellora saves them as soon as it can"};
        return false;
    };
    if (!ensureDirectory(dir)) {
        return failed("folder " + dir.string() + " for the " + what_ + " cannot be created",
                      "Move away what is in its place, or give yourself write access to the "
                      "folder that holds it");
    }
    if (setAside_) {
        // A damaged file a link leads to is kept beside it, and the link stays.
        if (auto error = setAsideDamaged(place.file)) {
            return failed(
                what_ + " " + place.file.string() + " cannot be set aside (" + *error + ")",
                "Give yourself write access to its folder");
        }
        setAside_ = false;
    }
    if (auto error = writeFileAtomically(place.file,
                                         SettingsFileCodec::encode(entries, withHistory_, kept))) {
        return failed(what_ + " " + place.file.string() + " cannot be written (" + *error + ")",
                      "Free some disk space, or give yourself write access to its folder");
    }
    writeProblem_.reset();
    return true;
}

}  // namespace pellora
