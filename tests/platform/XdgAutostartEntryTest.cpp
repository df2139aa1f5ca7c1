// Start at login through $XDG_CONFIG_HOME/autostart: the entry written, entries others left.

#include "platform/linux/XdgAutostartEntry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>

#include "AsOrdinaryUser.h"
#include "TempDir.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

TEST(XdgAutostartEntry, ExecArgumentsAreQuotedAsDesktopsUnquoteThem) {
    using Row = std::pair<std::string, std::optional<std::string>>;
    const Row paths[] = {
        {"/usr/bin/pellora", "/usr/bin/pellora"},
        {"/home/ann/my builds/pellora", "\"/home/ann/my builds/pellora\""},
        // '%' starts a field code unless doubled.
        {"/opt/100%/pellora", "/opt/100%%/pellora"},
        // Inside quotes " ` $ \ take a backslash, and the string rules double every one.
        {"/a/it's \"$x\"/p\\q", "\"/a/it's \\\\\"\\\\$x\\\\\"/p\\\\\\\\q\""},
        {"/tmp/line\nbreak", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [path, exec] : paths) {
        EXPECT_EQ(XdgAutostartEntry::execArgument(path), exec) << path;
        if (exec) {
            EXPECT_EQ(XdgAutostartEntry::execProgram(*exec + " --flag %U"), path);
        }
    }
    const Row lines[] = {
        {"pellora", "pellora"},
        {"  /usr/bin/pellora --simulate", "/usr/bin/pellora"},
        {"\"/opt/p p/pellora\"", "/opt/p p/pellora"},
        {"\"/unterminated", std::nullopt},
        {"   ", std::nullopt},
        // The string escapes come first: an escaped space still ends an unquoted word.
        {"/opt/a\\sb", "/opt/a"},
    };
    for (const auto& [exec, program] : lines) {
        EXPECT_EQ(XdgAutostartEntry::execProgram(exec), program) << exec;
    }
}

TEST(XdgAutostartEntry, JudgesEntriesAsTheDesktopWouldStartThem) {
    const std::string ours = *XdgAutostartEntry::entryText("/usr/bin/pellora");
    // What, the bytes, enabled, a part of the problem (empty: none).
    const std::tuple<const char*, std::string, bool, std::string> cases[] = {
        {"ours", ours, true, ""},
        {"a comment first, spaces round '='", "# mine\n[Desktop Entry]\nExec = /usr/bin/pellora\n",
         true, ""},
        {"switched off the freedesktop way", ours + "Hidden=true\n", false, "has Hidden=true"},
        {"switched off the GNOME way",
         "[Desktop Entry]\nExec=/usr/bin/pellora\nX-GNOME-Autostart-enabled=false\n", false,
         "X-GNOME-Autostart-enabled=false"},
        {"another program", "[Desktop Entry]\nExec=/opt/old/pellora --simulate\n", true,
         "starts /opt/old/pellora, not this Pellora"},
        {"no Exec here, only in another group",
         "[Desktop Entry]\nName=P\n[Desktop Action x]\nExec=/usr/bin/pellora\n", false,
         "no usable Exec line"},
        {"another first group", "[Other]\nExec=/usr/bin/pellora\n", false, "not a desktop entry"},
        {"keys before any group", "Exec=/usr/bin/pellora\n[Desktop Entry]\n", false,
         "not a desktop entry"},
        {"empty", "", false, "not a desktop entry"},
    };
    const auto isThis = [](const std::string& program) { return program == "/usr/bin/pellora"; };
    const std::string path = "/home/ann/.config/autostart/x.desktop";
    for (const auto& [what, bytes, enabled, problem] : cases) {
        SCOPED_TRACE(what);
        auto state = XdgAutostartEntry::judge(bytes, path, isThis);
        EXPECT_EQ(state.enabled, enabled);
        const auto has = [&](const std::string& part) {
            return state.problem.find(part) != std::string::npos;
        };
        EXPECT_TRUE(problem.empty() ? state.problem.empty() : has(problem) && has(path))
            << state.problem;
    }
}

// The entry over a temporary config folder, its work run on virtual queues.
struct AutostartFolder : ::testing::Test {
    TempDir root;
    std::filesystem::path dir = root / "config" / "autostart";
    std::filesystem::path file = dir / XdgAutostartEntry::fileName;
    std::string executable = (root / "bin" / "pellora").string();
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    std::unique_ptr<ManualQueue> work = clock.makeQueue("pellora.login");
    std::shared_ptr<XdgAutostartEntry> entry =
        XdgAutostartEntry::create(dir, executable, *work, *main);

    void SetUp() override {
        writeFile(executable, "#!/bin/sh\n");
        std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
    }

    LoginItem::State read() {
        std::optional<LoginItem::State> got;
        entry->read([&](LoginItem::State state) { got = state; });
        clock.runPending();
        EXPECT_TRUE(got);
        return got.value_or(LoginItem::State{});
    }
    LoginItem::Outcome set(bool enabled) {
        std::optional<LoginItem::Outcome> got;
        entry->setEnabled(enabled, [&](LoginItem::Outcome outcome) { got = outcome; });
        clock.runPending();
        EXPECT_TRUE(got);
        return got.value_or(LoginItem::Outcome{});
    }
};

// On writes the entry, one naming this program by the path counts as ours, off removes it
// (again, too), and answers due once the entry is gone reach nobody.
TEST_F(AutostartFolder, OnWritesTheEntryAndOffRemovesIt) {
    EXPECT_FALSE(read().enabled);
    const mode_t umaskBefore = ::umask(0);
    auto on = set(true);
    ::umask(umaskBefore);
    EXPECT_TRUE(on.ok && on.enabled);
    // The folders it had to make are the user's alone, whatever the umask.
    for (const auto& made : {root / "config", dir}) {
        EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_all);
    }
    EXPECT_EQ(on.detail, "Wrote " + file.string() + ", which starts " + executable);
    EXPECT_EQ(readFile(file), *XdgAutostartEntry::entryText(executable));
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0644));

    std::filesystem::create_directories(root / "path");
    std::filesystem::create_symlink(executable, root / "path" / "pellora");
    const std::string previous = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (root / "path").c_str(), 1);
    writeFile(file, "[Desktop Entry]\nExec=pellora\n");
    auto state = read();
    ::setenv("PATH", previous.c_str(), 1);
    EXPECT_TRUE(state.enabled && state.problem.empty()) << state.problem;

    for (int i = 0; i < 2; ++i) {
        auto off = set(false);
        EXPECT_TRUE(off.ok && !off.enabled);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    bool answered = false;
    entry->read([&](LoginItem::State) { answered = true; });
    entry->setEnabled(true, [&](LoginItem::Outcome) { answered = true; });
    entry.reset();
    clock.runPending();
    EXPECT_FALSE(answered);
}

TEST_F(AutostartFolder, WhatCannotBeReadShowsOffUntouchedAndIsReplacedWhenTurnedOn) {
    const std::string ours = *XdgAutostartEntry::entryText(executable);
    const std::pair<std::function<void()>, const char*> kinds[] = {
        {[&] { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); }, "not a regular file"},
        {[&] {
             writeFile(file, ours);
             std::filesystem::permissions(file, std::filesystem::perms::none);
         },
         "Permission denied"},
        {[&] {
             writeFile(root / "elsewhere.desktop", ours);
             std::filesystem::create_symlink(root / "elsewhere.desktop", file);
         },
         "a symbolic link"},
        {[&] { writeFile(file, std::string(100000, '#')); }, "more than the 65536 allowed"},
    };
    for (const auto& [make, why] : kinds) {
        SCOPED_TRACE(why);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        make();
        const auto before = std::filesystem::symlink_status(file).type();
        LoginItem::State state;
        {
            // As root every file is readable; the user's own permissions must apply.
            AsOrdinaryUser::openWayTo(file, root.path());
            ::chown(dir.c_str(), AsOrdinaryUser::nobody, AsOrdinaryUser::nobody);
            AsOrdinaryUser user;
            ASSERT_TRUE(user.ok());
            state = read();
        }
        EXPECT_FALSE(state.enabled);
        EXPECT_NE(state.problem.find(file.string()), std::string::npos) << state.problem;
        EXPECT_NE(state.problem.find(why), std::string::npos) << state.problem;
        EXPECT_EQ(std::filesystem::symlink_status(file).type(), before);
        EXPECT_TRUE(set(true).ok);
        EXPECT_TRUE(read().enabled);
    }
    // The link was replaced; what it led to is left as it was.
    EXPECT_EQ(readFile(root / "elsewhere.desktop"), ours);
    // A folder in its place is no file to replace: turning on says why.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    EXPECT_NE(read().problem.find("not a regular file"), std::string::npos);
    EXPECT_NE(set(true).detail.find("Cannot write " + file.string()), std::string::npos);
}

TEST_F(AutostartFolder, AReadOnlyFolderRefusesEitherChangeAndKeepsWhatIsThere) {
    using std::filesystem::perms;
    std::filesystem::create_directories(dir);
    AsOrdinaryUser::openWayTo(file, root.path());
    ASSERT_EQ(::chown(dir.c_str(), AsOrdinaryUser::nobody, AsOrdinaryUser::nobody), 0);
    std::filesystem::permissions(dir, perms::owner_read | perms::owner_exec);
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.ok());
        auto on = set(true);
        EXPECT_FALSE(on.ok);
        EXPECT_NE(on.detail.find("Cannot write " + file.string()), std::string::npos) << on.detail;
        EXPECT_NE(on.detail.find("Check that " + dir.string() + " is yours and writable"),
                  std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));

    std::filesystem::permissions(dir, perms::owner_all);
    writeFile(file, "[Desktop Entry]\nExec=/opt/mine\n");
    std::filesystem::permissions(dir, perms::owner_read | perms::owner_exec);
    {
        AsOrdinaryUser user;
        auto off = set(false);
        EXPECT_FALSE(off.ok);
        EXPECT_NE(off.detail.find("Cannot remove " + file.string() + " (Permission denied)"),
                  std::string::npos)
            << off.detail;
    }
    EXPECT_EQ(readFile(file), "[Desktop Entry]\nExec=/opt/mine\n");
    std::filesystem::permissions(dir, perms::owner_all);
}

}  // namespace
}  // namespace pellora::test
