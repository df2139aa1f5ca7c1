#include "platform/AppPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QMessageAuthenticationCode>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

namespace pellora {

namespace {

std::filesystem::path homeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    // A bare environment (env -i, some service managers): the home the user database names,
    // not a shared folder that is emptied at boot and open to whoever makes it first.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir == '/') {
        return found->pw_dir;
    }
    return "/tmp";
}

std::filesystem::path xdgDir(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    // The XDG rules ignore relative paths.
    if (value && *value == '/') {
        return value;
    }
    return homeDir() / fallback;
}

std::string sanitized(const std::string& raw) {
    std::string out;
    for (char c : raw) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_') {
            out += c;
        }
    }
    return out.substr(0, 64);
}

}  // namespace

AppPaths AppPaths::fromEnvironment() {
    AppPaths paths;
    paths.dataDir = xdgDir("XDG_DATA_HOME", ".local/share") / "Pellora";
    paths.configDir = xdgDir("XDG_CONFIG_HOME", ".config") / "Pellora";
    paths.syncDir = paths.configDir / "sync";
    paths.autostartDir = xdgDir("XDG_CONFIG_HOME", ".config") / "autostart";
    // Beside the files it guards, not in XDG_RUNTIME_DIR: a launch from a shell that lacks the
    // session's runtime folder (su -, cron), or names one it cannot write in, writes these same
    // files and must meet the same lock. One per machine, so that a home shared between
    // machines (NFS) still lets each desk run its own.
    paths.runtimeDir = paths.configDir / ("run-" + machineName());
    return paths;
}

AppPaths AppPaths::underRoot(const std::filesystem::path& root) {
    AppPaths paths;
    paths.dataDir = root / "data" / "Pellora";
    paths.configDir = root / "config" / "Pellora";
    paths.syncDir = root / "config" / "Pellora" / "sync";
    paths.runtimeDir = root / "runtime";
    paths.autostartDir = root / "config" / "autostart";
    return paths;
}

bool ensureDirectory(const std::filesystem::path& dir) {
    std::error_code error;
    if (std::filesystem::is_directory(dir, error)) {
        return true;
    }
    // Each missing folder on the way is made private too: under a umask of 0 a parent such as
    // ~/.config would otherwise be writable by everyone, autostart entries included.
    std::filesystem::path made;
    for (const auto& part : dir) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) == 0) {
            ::chmod(made.c_str(), 0700);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return std::filesystem::is_directory(dir, error);
}

std::string machineName() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream in(path);
        std::string id;
        if (in >> id) {
            std::string clean = sanitized(id);
            if (!clean.empty()) {
                return clean;
            }
        }
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        std::string clean = sanitized(host);
        if (!clean.empty()) {
            return clean;
        }
    }
    return "this-machine";
}

std::string syncedMachineName() {
    const QByteArray mac = QMessageAuthenticationCode::hash(
        QByteArrayLiteral("org.pellora.Pellora synced settings"),
        QByteArray::fromStdString(machineName()), QCryptographicHash::Sha256);
    return mac.toHex().left(32).toStdString();
}

}  // namespace pellora
