#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <thread>

#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/DebugLog.h"

namespace pellora::test {
namespace {

std::string lines(int from, int to, const std::string& prefix = "old ") {
    std::string text;
    for (int i = from; i <= to; ++i) {
        text += prefix + std::to_string(i) + "\n";
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

TEST_F(DebugLogTest, LineCarriesMillisecondUtcStampTagAndMessage) {
    auto log = open();
    log->log("luma 41.2 brightness 57", "sample");
    clock.runPending();
    EXPECT_EQ(file(), "[2024-06-21T09:24:41.123Z] [sample] luma 41.2 brightness 57\n");
    EXPECT_EQ(
        systemLog.lines(),
        (std::vector<std::string>{"[2024-06-21T09:24:41.123Z] [sample] luma 41.2 brightness 57"}));
}

TEST(DebugLogTimestamp, MillisecondsAreCutNotRounded) {
    EXPECT_EQ(DebugLog::isoTimestamp(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(DebugLog::isoTimestamp(1718961881.9996), "2024-06-21T09:24:41.999Z");
    EXPECT_EQ(DebugLog::isoTimestamp(1735689599.0), "2024-12-31T23:59:59.000Z");
    EXPECT_EQ(DebugLog::isoTimestamp(951782400.5), "2000-02-29T00:00:00.500Z");
}

TEST_F(DebugLogTest, StampIsTheMomentOfTheCallNotOfTheWrite) {
    auto log = open();
    log->log("early", "app");
    clock.advance(5.0);
    EXPECT_EQ(log->recent(1).front(), "[2024-06-21T09:24:41.123Z] [app] early");
}

TEST_F(DebugLogTest, The4001stLineDropsTheOldest) {
    auto log = open();
    for (int i = 1; i <= 4001; ++i) {
        log->log("line " + std::to_string(i), "app");
    }
    clock.runPending();
    auto window = log->recent(4000);
    ASSERT_EQ(window.size(), 4000u);
    EXPECT_EQ(window.front(), "[2024-06-21T09:24:41.123Z] [app] line 2");
    EXPECT_EQ(window.back(), "[2024-06-21T09:24:41.123Z] [app] line 4001");
    std::string text = file();
    EXPECT_EQ(text.rfind("[2024-06-21T09:24:41.123Z] [app] line 2\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4000);
}

TEST_F(DebugLogTest, PreviousRunIsReloadedWithABlankLineBetweenRuns) {
    writeFile(dir / "debug.log", lines(1, 10));
    auto log = open();
    auto window = log->recent(100);
    ASSERT_EQ(window.size(), 11u);
    EXPECT_EQ(window.front(), "old 1");
    EXPECT_EQ(window.back(), "");
    log->log("new", "app");
    clock.runPending();
    EXPECT_EQ(file(), lines(1, 10) + "\n[2024-06-21T09:24:41.123Z] [app] new\n");
}

TEST_F(DebugLogTest, LongPreviousFileKeepsItsLast4000Pieces) {
    writeFile(dir / "debug.log", lines(1, 5000));
    auto log = open();
    auto window = log->recent(5000);
    ASSERT_EQ(window.size(), 4000u);
    EXPECT_EQ(window.front(), "old 1002");  // pieces 1002..5000 and the empty final piece
    EXPECT_EQ(window[3998], "old 5000");
    EXPECT_EQ(window.back(), "");
}

TEST_F(DebugLogTest, PreviousFileThatIsNotUtf8GivesAnEmptyWindow) {
    writeFile(dir / "debug.log", "fine\n\xff\xfe broken\n");
    auto log = open();
    EXPECT_TRUE(log->recent(10).empty());
}

TEST_F(DebugLogTest, RecentReturnsAtMostWhatTheWindowHolds) {
    auto log = open();
    for (int i = 0; i < 30; ++i) {
        log->log(std::to_string(i), "app");
    }
    EXPECT_EQ(log->recent(100).size(), 30u);  // sees lines still queued
    EXPECT_EQ(log->recent(2), (std::vector<std::string>{"[2024-06-21T09:24:41.123Z] [app] 28",
                                                        "[2024-06-21T09:24:41.123Z] [app] 29"}));
    EXPECT_TRUE(log->recent(0).empty());
    EXPECT_TRUE(log->recent(-5).empty());
}

TEST_F(DebugLogTest, FormatDirectivesAreWrittenLiterally) {
    auto log = open();
    log->log("100%s done %n %d %%", "app");
    clock.runPending();
    std::string expected = "[2024-06-21T09:24:41.123Z] [app] 100%s done %n %d %%";
    EXPECT_EQ(file(), expected + "\n");
    EXPECT_EQ(systemLog.lines().back(), expected);
}

TEST_F(DebugLogTest, MessageWithLineFeedsIsOneEntryButSeveralFileLines) {
    auto log = open();
    log->log("first\nsecond", "app");
    clock.runPending();
    EXPECT_EQ(log->recent(10).size(), 1u);
    EXPECT_EQ(file(), "[2024-06-21T09:24:41.123Z] [app] first\nsecond\n");
}

TEST_F(DebugLogTest, BurstIsWrittenOnceAndTheFileHoldsTheWindowAfterwards) {
    auto log = open();
    for (int i = 0; i < 10000; ++i) {
        log->log(std::to_string(i), "app");
    }
    clock.runPending();
    EXPECT_EQ(log->fileWrites(), 1u);
    std::string expected;
    for (const auto& line : log->recent(4000)) {
        expected += line + "\n";
    }
    EXPECT_EQ(file(), expected);
}

TEST_F(DebugLogTest, TrickleWritesEveryLine) {
    auto log = open();
    for (int i = 0; i < 5; ++i) {
        log->log(std::to_string(i), "app");
        clock.advance(1.0);
        std::string text = file();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), i + 1);
    }
    EXPECT_EQ(log->fileWrites(), 5u);
}

TEST_F(DebugLogTest, FileIsPrivateToTheUser) {
    auto log = open();
    log->log("x", "app");
    clock.runPending();
    struct stat info {};
    ASSERT_EQ(::stat((dir / "debug.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(DebugLogTest, UnwritableFolderDropsWritesUntilItIsBack) {
    std::filesystem::path blocked = dir / "blocked";
    writeFile(blocked, "a file where the folder should be");
    auto log = std::make_unique<DebugLog>(clock, *queue, blocked / "Pellora", systemLog);
    log->log("lost from disk", "app");
    clock.runPending();
    EXPECT_EQ(log->fileWrites(), 0u);
    EXPECT_EQ(log->recent(5).size(), 1u);  // still in the window

    std::filesystem::remove(blocked);
    log->log("back", "app");
    clock.runPending();
    EXPECT_EQ(log->fileWrites(), 1u);
    std::string text = readFile(blocked / "Pellora" / "debug.log");
    EXPECT_NE(text.find("lost from disk"), std::string::npos);
    EXPECT_NE(text.find("back"), std::string::npos);
}

TEST_F(DebugLogTest, QueuedWorkOfADestroyedLogDoesNothing) {
    auto log = open();
    log->log("never written", "app");
    log.reset();
    clock.runPending();
    EXPECT_FALSE(std::filesystem::exists(dir / "debug.log"));
}

TEST(DebugLogThreads, LinesFromManyThreadsStayWholeAndInCallOrder) {
    TempDir dir;
    SystemClock clock;
    SerialQueue queue("pellora.debug-log", clock);
    RecordingSystemLog systemLog;
    DebugLog log(clock, queue, dir.path(), systemLog);
    constexpr int kThreads = 6;
    constexpr int kLines = 400;
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
    for (auto& thread : threads) {
        thread.join();
    }
    auto window = log.recent(4000);
    ASSERT_EQ(window.size(), std::size_t(kThreads * kLines));
    int next[kThreads] = {};
    const std::regex whole(
        R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[app\] thread (\d) line (\d+) ([a-z]+))");
    for (const auto& line : window) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        int t = std::stoi(m[1]);
        ASSERT_EQ(std::stoi(m[2]), next[t]++) << line;
        ASSERT_EQ(m[3].str(), std::string(50, char('a' + t)));
    }
    // Once the queue has drained, the file is exactly the window.
    queue.sync([] {});
    std::string expected;
    for (const auto& line : window) {
        expected += line + "\n";
    }
    EXPECT_EQ(readFile(dir / "debug.log"), expected);
    // The system log got every line too, in each thread's own order.
    EXPECT_EQ(systemLog.lines().size(), std::size_t(kThreads * kLines));
}

}  // namespace
}  // namespace pellora::test
