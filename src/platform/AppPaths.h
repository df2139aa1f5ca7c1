#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pellora {

// Where Pellora keeps its files. `dataDir` holds the samples logs and the debug files,
// `configDir` the local settings, `syncDir` the copy of the settings that the user's own
// sync tool (Syncthing, Nextcloud, ...) carries between machines, `runtimeDir` the lock
// that keeps a second instance from writing the same files.
struct AppPaths {
    std::filesystem::path dataDir;
    std::filesystem::path configDir;
    std::filesystem::path syncDir;
    std::filesystem::path runtimeDir;
    // Where the desktop looks for programs to start at login.
    std::filesystem::path autostartDir;

    // $XDG_DATA_HOME/Pellora and $XDG_CONFIG_HOME/Pellora, with the XDG fallbacks under $HOME
    // (the user database's home when HOME is unset); the lock in the settings folder, one per
    // machine; $XDG_CONFIG_HOME/autostart.
    static AppPaths fromEnvironment();
    // Everything under one folder (for --data-dir and tests).
    static AppPaths underRoot(const std::filesystem::path& root);
};

// Creates `dir` and its missing parents, private to the user. False when it cannot be made.
bool ensureDirectory(const std::filesystem::path& dir);

// A stable name for this machine, for what stays on it (the instance lock's folder):
// /etc/machine-id, else the host name.
std::string machineName();

// This machine's name in the synced folder, which other machines and often a cloud service
// see: a keyed hash of `machineName()`, since the machine id is to be kept private.
std::string syncedMachineName();

}  // namespace pellora
