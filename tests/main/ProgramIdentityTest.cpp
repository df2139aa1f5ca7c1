// Where the program's files and its instance lock are, from the environment a launch is given:
// a desktop session, a `su -` shell or a cron job, a service started with a bare environment.

#include "main/ProgramIdentity.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "TempDir.h"
#include "platform/InstanceLock.h"

namespace pellora::test {
namespace {

using Outcome = InstanceLock::Outcome;

// Sets the variables the paths are read from for the scope, and gives the old values back.
class ScopedEnvironment {
  public:
    ScopedEnvironment() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            set(name.c_str(), value);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    static void set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The desktop's Pellora runs with the session's runtime folder; one started from a shell that
// has none (`su - me`, cron, some containers), or keeps another user's it cannot write in,
// reads and writes the very same files, so it must meet the same lock and give way.
TEST(InstanceLockPlace, ALaunchWithoutTheSessionsRuntimeFolderMeetsTheRunningOne) {
    TempDir home;
    ScopedEnvironment environment;
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    std::filesystem::create_directories(home / "run");
    ::chmod((home / "run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    const AppPaths desktop = AppPaths::fromEnvironment();
    const InstanceLock running = InstanceLock::acquire(ProgramIdentity::lockFile(desktop));
    ASSERT_EQ(running.outcome(), Outcome::acquired) << running.detail();
    writeFile(home / "not-a-folder", "");  // not a folder at all, so that it fails for root too
    for (const char* runtime : {static_cast<const char*>(nullptr), "not-a-folder"}) {
        ScopedEnvironment::set("XDG_RUNTIME_DIR",
                               runtime ? std::optional((home / runtime).string()) : std::nullopt);
        const AppPaths shell = AppPaths::fromEnvironment();
        ASSERT_EQ(shell.configDir, desktop.configDir);
        EXPECT_EQ(InstanceLock::acquire(ProgramIdentity::lockFile(shell)).outcome(),
                  Outcome::heldElsewhere)
            << "the running one locks " << ProgramIdentity::lockFile(desktop) << ", this launch "
            << ProgramIdentity::lockFile(shell);
    }
    // Another machine sharing this home (NFS) has a desk of its own.
    EXPECT_NE(
        ProgramIdentity::lockFile(desktop).parent_path().filename().string().find(machineName()),
        std::string::npos);
}

// Started with a bare environment (env -i, some service managers) there is no HOME: the files
// are still the user's own, in the home the password database names, not in the shared /tmp,
// where they would be lost at the next boot and open to whoever made the folder first. A
// relative or empty XDG folder is ignored, as the XDG rules say.
TEST(AppPathsFromEnvironment, WithoutHomeTheUsersOwnHomeFolderIsUsed) {
    ScopedEnvironment environment;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        ::unsetenv(name);
    }
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    ASSERT_NE(user->pw_dir, nullptr);
    const std::filesystem::path own = user->pw_dir;
    const AppPaths paths = AppPaths::fromEnvironment();
    EXPECT_EQ(paths.configDir, own / ".config" / "Pellora");
    EXPECT_EQ(paths.dataDir, own / ".local" / "share" / "Pellora");
    EXPECT_EQ(paths.autostartDir, own / ".config" / "autostart");
}

}  // namespace
}  // namespace pellora::test
