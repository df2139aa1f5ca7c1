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
// has none (`su - me`, cron, some containers) reads and writes the very same files, so it must
// meet the same lock and give way.
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

    ::unsetenv("XDG_RUNTIME_DIR");
    const AppPaths shell = AppPaths::fromEnvironment();
    ASSERT_EQ(shell.configDir, desktop.configDir);
    ASSERT_EQ(shell.dataDir, desktop.dataDir);
    const InstanceLock second = InstanceLock::acquire(ProgramIdentity::lockFile(shell));
    EXPECT_EQ(second.outcome(), Outcome::heldElsewhere)
        << "the running one locks " << ProgramIdentity::lockFile(desktop) << ", this launch "
        << ProgramIdentity::lockFile(shell);
}

// A shell reached with `su` keeps the first user's XDG_RUNTIME_DIR, a folder this user cannot
// write in: two launches from there still share the files and must not both run.
TEST(InstanceLockPlace, ARuntimeFolderThatCannotBeUsedStillLeavesOneRunning) {
    TempDir home;
    ScopedEnvironment environment;
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    // Not a folder at all, so that it fails for root as well.
    writeFile(home / "not-a-folder", "");
    ::setenv("XDG_RUNTIME_DIR", (home / "not-a-folder").c_str(), 1);
    const AppPaths paths = AppPaths::fromEnvironment();
    const InstanceLock first = InstanceLock::acquire(ProgramIdentity::lockFile(paths));
    EXPECT_EQ(first.outcome(), Outcome::acquired) << first.detail();
    EXPECT_EQ(InstanceLock::acquire(ProgramIdentity::lockFile(paths)).outcome(),
              Outcome::heldElsewhere);
}

// Started with a bare environment (env -i, some service managers) there is no HOME: the files
// are still the user's own, in the home the password database names, not in the shared /tmp,
// where they would be lost at the next boot and open to whoever made the folder first.
TEST(AppPathsFromEnvironment, WithoutHomeTheUsersOwnHomeFolderIsUsed) {
    ScopedEnvironment environment;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        ::unsetenv(name);
    }
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    ASSERT_NE(user->pw_dir, nullptr);
    const std::filesystem::path own = user->pw_dir;
    const AppPaths paths = AppPaths::fromEnvironment();
    EXPECT_EQ(paths.configDir, own / ".config" / "Pellora");
    EXPECT_EQ(paths.dataDir, own / ".local" / "share" / "Pellora");
    EXPECT_EQ(paths.autostartDir, own / ".config" / "autostart");
}

// The XDG rules: a relative or empty value is ignored, as if unset.
TEST(AppPathsFromEnvironment, RelativeOrEmptyXdgFoldersAreIgnored) {
    TempDir home;
    ScopedEnvironment environment;
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    ::setenv("XDG_DATA_HOME", "", 1);
    const AppPaths paths = AppPaths::fromEnvironment();
    EXPECT_EQ(paths.configDir, home / ".config" / "Pellora");
    EXPECT_EQ(paths.dataDir, home / ".local" / "share" / "Pellora");
    EXPECT_EQ(paths.autostartDir, home / ".config" / "autostart");
}

}  // namespace
}  // namespace pellora::test
