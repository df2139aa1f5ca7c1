#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <random>
#include <set>

#include "TempDir.h"

namespace pellora::test {
namespace {

std::set<std::string> namesIn(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Both writes leave the file, or say why and keep the old one and no temporary; what is not a
// file in its place is refused. (The stores that write them check the private mode.)
TEST(AtomicFile, WritesLeaveTheFileOrReportWhyAndKeepTheOld) {
    TempDir dir;
    auto error = writeFileAtomically(dir / "a.json", "hello");
    for (const char* text : {"first", "second"}) {
        error = error ? error : rewriteFileAtomically(dir / "d.json", text);
    }
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(readFile(dir / "a.json") + readFile(dir / "d.json"), "hellosecond");

    writeFile(dir / "blocker", "x");
    error = writeFileAtomically(dir / "blocker" / "a.json", "new");
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("create temporary file"), std::string::npos);
    std::filesystem::create_directories(dir / "c.json" / "inside");  // a rename onto it fails
    EXPECT_TRUE(writeFileAtomically(dir / "c.json", "new"));
    EXPECT_TRUE(rewriteFileAtomically(dir / "c.json", "new"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "c.json" / "inside"));
    EXPECT_EQ(namesIn(dir.path()),
              (std::set<std::string>{"a.json", "blocker", "c.json", "d.json"}));
}

// Other kinds of file are refused where files are read (settings, log, autostart).
TEST(AtomicFile, ReadTakesFilesUpToTheLimit) {
    TempDir dir;
    writeFile(dir / "big", std::string(101, 'x'));
    EXPECT_EQ(readWholeFile(dir / "big", 100).status, FileRead::Status::tooLarge);
    EXPECT_EQ(readWholeFile(dir / "big", 101).bytes.size(), 101u);
}

// Kills a writer at random moments: the file must always be the old or the new content,
// whole, never a mix or a stump, and the sweep at the next start leaves no temporary file.
TEST(AtomicFile, KilledWriterLeavesOldOrNewFileNeverAMix) {
    TempDir dir;
    const std::string oldText(1 << 20, 'o');
    const std::string newText(1 << 20, 'n');
    std::mt19937 random(42);
    for (int round = 0; round < 12; ++round) {
        auto error = writeFileAtomically(dir / "s.json", oldText, 0600, false);
        ASSERT_FALSE(error) << *error;
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                writeFileAtomically(dir / "s.json", newText, 0600, true);
                writeFileAtomically(dir / "s.json", oldText, 0600, true);
            }
        }
        ::usleep(std::uniform_int_distribution<int>(500, 20000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string text = readFile(dir / "s.json");
        ASSERT_TRUE(text == oldText || text == newText) << "round " << round << ": " << text.size();
    }
    sweepStaleTemporaries(dir / "s.json", 4e9, 0);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"s.json"});
}

// The id of a process that has ended.
std::string endedPid() {
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return std::to_string(child);
}

// A temporary is a leftover when its writer has gone, is this process, or it is old (a young
// one may be a write under way); each write sweeps its own file's, for a quick relaunch.
TEST(AtomicFile, SweepAndEachWriteTakeOnlyLeftoversOfTheirOwnFile) {
    const std::string ended = endedPid(), self = std::to_string(::getpid());
    const struct {
        std::string name;
        double age;
        bool swept;
    } cases[] = {
        {"~a.json.1.456.tmp", 120, true},
        {".a.json.1.456.tmp", 120, true},  // the name older versions used
        {"~a.json.1.456.tmp.x", 120, false},
        {"~a.json.1.tmp", 120, false},
        {"~a.json.1x3.456.tmp", 120, false},
        {"~b.json." + ended + ".456.tmp", 120, false},  // another file's (another machine's)
        {"~a.json.1.789.tmp", 30, false},  // a running process's: may be a write under way
        {"~a.json." + ended + ".456.tmp", 1, true},
        {"~a.json." + self + ".456.tmp", 1, true},
        {"a.json", 120, false},
    };
    const double now = 1718960400;
    for (bool byWrite : {false, true}) {
        SCOPED_TRACE(byWrite ? "by a write" : "by a sweep");
        TempDir dir;
        for (const auto& c : cases) {
            writeFile(dir / c.name, "x");
            const double at = byWrite ? double(std::time(nullptr)) : now;
            const timespec when{time_t(at - c.age), 0}, times[2] = {when, when};
            ASSERT_EQ(::utimensat(AT_FDCWD, (dir / c.name).c_str(), times, 0), 0);
        }
        if (byWrite) {
            ASSERT_FALSE(writeFileAtomically(dir / "a.json", "new", 0600, false));
        } else {
            EXPECT_EQ(sweepStaleTemporaries(dir / "a.json", now), 4);
        }
        for (const auto& c : cases) {
            EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.swept) << c.name << " " << c.age;
        }
    }
}

TEST(AtomicFile, DamagedCopiesAreNumberedAndTheNewestFiveKept) {
    TempDir dir;
    writeFile(dir / "s.json.damaged", "from an older version");
    for (int i = 1; i <= 6; ++i) {
        writeFile(dir / "s.json", "damage " + std::to_string(i));
        ASSERT_FALSE(setAsideDamaged(dir / "s.json"));
    }
    EXPECT_EQ(namesIn(dir.path()),
              (std::set<std::string>{"s.json.damaged.2", "s.json.damaged.3", "s.json.damaged.4",
                                     "s.json.damaged.5", "s.json.damaged.6"}));
    EXPECT_EQ(readFile(dir / "s.json.damaged.6"), "damage 6");
    EXPECT_FALSE(setAsideDamaged(dir / "gone.json")) << "nothing to keep is no failure";
}

}  // namespace
}  // namespace pellora::test
