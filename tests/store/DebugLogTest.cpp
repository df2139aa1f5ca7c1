#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/DebugLog.h"

namespace pellora::test {
namespace {

std::string lines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) {
        text += "old " + std::to_string(i) + "\n";
    }
    return text;
}

struct DebugLogTest : ::testing::Test {
    // 2024-06-21T09:24:41.123Z
    VirtualClock clock{1718961881.123};
    std::unique_ptr<ManualQueue> queue = clock.makeQueue("pellora.debug-log");
    TempDir dir;
    RecordingSystemLog systemLog;

    std::unique_ptr<DebugLog> open() {
        return std::make_unique<DebugLog>(clock, *queue, dir.path(), systemLog);
    }
    std::string file() { return readFile(dir / "debug.log"); }
};

// The file and the system log get the line as composed, format directives and line feeds
// taken literally; the file is private to the user.
TEST_F(DebugLogTest, LineCarriesMillisecondUtcStampTagAndMessageLiterally) {
    const std::string line = "[2024-06-21T09:24:41.123Z] [sample] 100%s done %n %d %%\nsecond";
    auto log = open();
    log->log("100%s done %n %d %%\nsecond", "sample");
    clock.runPending();
    EXPECT_EQ(file(), line + "\n");
    EXPECT_EQ(systemLog.lines(), std::vector<std::string>{line});
    EXPECT_EQ(log->recent(2), std::vector<std::string>{line}) << "one entry";
    EXPECT_EQ(std::filesystem::status(dir / "debug.log").permissions(),
              std::filesystem::perms(0600));
}

// A message quoting hostile bytes (a key from a synced file) is cut, so that the window of
// lines always fits the file's reload; never inside a character.
TEST_F(DebugLogTest, AMessageIsCutAfter4KiBAtACharacterBoundary) {
    auto log = open();
    log->log(std::string(4095, 'a') + "\u00e9" + std::string(10000, 'b'), "settings");
    clock.runPending();
    EXPECT_TRUE(
        log->recent(1).at(0).ends_with("] " + std::string(4095, 'a') + "... (10002 more bytes)"));
}

// Whole seconds too: a stamp at .000 must not read as .1000 of the second before.
TEST(DebugLogTimestamp, MillisecondsAreCutNotRounded) {
    EXPECT_EQ(DebugLog::isoTimestamp(1718961881.9996), "2024-06-21T09:24:41.999Z");
    EXPECT_EQ(DebugLog::isoTimestamp(951782400), "2000-02-29T00:00:00.000Z");
}

// A burst is one file write of the newest 4000 lines, stamped when logged, not when written;
// reads see lines still queued; a trickle writes every line.
TEST_F(DebugLogTest, BurstKeepsTheNewest4000InOneWriteTrickleWritesEachLine) {
    auto log = open();
    log->log("line 1", "app");
    clock.advance(5.0);
    EXPECT_EQ(log->fileWrites(), 1u);
    for (int i = 2; i <= 10001; ++i) {
        log->log("line " + std::to_string(i), "app");
    }
    clock.setWall(clock.now() + 60);  // the queue runs a minute late
    EXPECT_EQ(log->recent(2),
              (std::vector<std::string>{"[2024-06-21T09:24:46.123Z] [app] line 10000",
                                        "[2024-06-21T09:24:46.123Z] [app] line 10001"}));
    clock.runPending();
    EXPECT_EQ(log->fileWrites(), 2u);
    auto window = log->recent(5000);
    ASSERT_EQ(window.size(), 4000u);
    EXPECT_EQ(window.front(), "[2024-06-21T09:24:46.123Z] [app] line 6002");
    std::string expected;
    for (const auto& line : window) {
        expected += line + "\n";
    }
    EXPECT_EQ(file(), expected);
    for (int i = 0; i < 5; ++i) {
        log->log(std::to_string(i), "app");
        clock.advance(1.0);
    }
    EXPECT_EQ(log->fileWrites(), 7u);
}

// The previous run's window is back before the first new line, a blank line between the runs.
// One bad byte no longer costs the history: the window comes back whole, only the line that is
// not UTF-8 is mended, and one line says so.
TEST_F(DebugLogTest, APreviousRunIsReloadedFirstAndBytesThatAreNotUtf8AreMendedAndSaidSo) {
    writeFile(dir / "debug.log",
              lines(1, 4500) + "caf\xc3\xa9 \xe2\x82\xac\nData folder /tmp/caf\xe9\n");
    auto log = open();
    log->log("new", "app");
    const auto window = log->recent(int(DebugLog::maxLines));
    ASSERT_EQ(window.size(), DebugLog::maxLines);
    EXPECT_EQ(window[0], "old 506");
    const std::string note =
        "[2024-06-21T09:24:41.123Z] [app] 1 line of the previous debug.log held bytes that are "
        "not UTF-8; they read as U+FFFD";
    EXPECT_EQ(
        std::vector(window.end() - 5, window.end()),
        (std::vector<std::string>{"caf\xc3\xa9 \xe2\x82\xac", "Data folder /tmp/caf\xef\xbf\xbd",
                                  "", note, "[2024-06-21T09:24:41.123Z] [app] new"}));
    EXPECT_EQ(systemLog.lines().back(), note);
}

// A previous run's file may hold a line longer than any this version logs (junk a crash left,
// or an older version's): it comes back cut as a message is, or every rewrite of the file,
// and of debug.json while it is among the newest lines, would carry all of it.
TEST_F(DebugLogTest, AnOverlongLineOfAPreviousRunComesBackCut) {
    writeFile(dir / "debug.log", "old 1\n" + std::string(8u << 20, 'x') + "\nold 3\n");
    auto log = open();
    log->log("new", "app");
    clock.runPending();
    const auto window = log->recent(5);
    ASSERT_EQ(window.size(), 5u);
    EXPECT_EQ(window[0], "old 1");
    EXPECT_LT(window[1].size(), 8192u);
    EXPECT_TRUE(window[1].ends_with(" more bytes)")) << window[1].substr(0, 40);
    EXPECT_EQ(window[2], "old 3");
}

TEST_F(DebugLogTest, UnwritableFolderDropsWritesUntilItIsBack) {
    std::filesystem::path blocked = dir / "blocked";
    writeFile(blocked, "a file where the folder should be");
    auto log = std::make_unique<DebugLog>(clock, *queue, blocked / "Pellora", systemLog);
    log->log("lost from disk", "app");
    clock.runPending();
    EXPECT_EQ(log->recent(5).size(), 1u);  // still in the window

    std::filesystem::remove(blocked);
    log->log("back", "app");
    clock.runPending();
    const std::string text = readFile(blocked / "Pellora" / "debug.log");
    EXPECT_TRUE(text.find("lost from disk") < text.find("back")) << text;
}

TEST_F(DebugLogTest, QueuedWorkOfADestroyedLogDoesNothing) {
    auto log = open();
    log->log("never written", "app");
    log.reset();
    clock.runPending();
    EXPECT_FALSE(std::filesystem::exists(dir / "debug.log"));
}

// Lines logged from many threads stay whole and in each thread's call order, and once `flush`
// returns every line logged before it is in the file: what an orderly exit relies on.
TEST(DebugLogThreads, LinesStayWholeInCallOrderAndFlushWritesEachOne) {
    TempDir dir;
    SystemClock clock;
    SerialQueue queue("pellora.debug-log", clock);
    RecordingSystemLog systemLog;
    DebugLog log(clock, queue, dir.path(), systemLog);
    constexpr int kThreads = 6, kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                log.log("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                            std::string(50, char('a' + t)),
                        "app");
            }
        });
    }
    bool flushed = true;
    for (int i = 0; i < 50; ++i) {
        const std::string message = "flushed " + std::to_string(i);
        log.log(message, "app");
        log.flush();
        flushed =
            flushed && readFile(dir / "debug.log").find("] " + message + "\n") != std::string::npos;
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(flushed) << "a line logged before flush returned is not in the file";
    auto window = log.recent(4000);
    ASSERT_EQ(window.size(), std::size_t(kThreads * kLines + 50));
    int next[kThreads] = {};
    const std::regex whole(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[app\] )"
                           R"((thread (\d) line (\d+) ([a-z]+)|flushed \d+))");
    for (const auto& line : window) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        if (m[2].matched) {
            const int t = std::stoi(m[2]);
            ASSERT_EQ(std::stoi(m[3]), next[t]++) << line;
            ASSERT_EQ(m[4].str(), std::string(50, char('a' + t)));
        }
    }
}

}  // namespace
}  // namespace pellora::test
