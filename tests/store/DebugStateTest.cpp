#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cmath>

#include "AsOrdinaryUser.h"
#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/DebugState.h"

namespace pellora::test {
namespace {

using nlohmann::json;

struct DebugStateTest : ::testing::Test {
    TestEnvironment env;  // 2024-06-21T09:00:00Z
    std::filesystem::path dir = env.paths.dataDir / "missing";
    std::filesystem::path path = dir / "debug.json";
    std::shared_ptr<DebugState> debug = DebugState::create(env.clock, *env.main, *env.log, dir);
    json current = {{"mode", "learning"}, {"n", 0}};

    void provide() {
        debug->setProvider([this] {
            current["n"] = current["n"].get<int>() + 1;
            return current;
        });
    }
    json file() { return json::parse(readFile(path)); }
    void dumpNow() {
        debug->dump();
        debug->flush();
    }
    std::size_t problemLines() { return env.linesWith("[app] debug state not written to ").size(); }
};

// Nothing before a provider. Then the file is rewritten every 3 s with the time and the log's
// newest lines, and with the state last captured: the provider is asked only on the main
// thread, when it captures or dumps, never by the rewrite. Stopped or gone, nothing is
// rewritten.
TEST_F(DebugStateTest, RewritesTheCapturedStateEveryPeriodOnVirtualTime) {
    debug->start();
    dumpNow();
    env.clock.advance(10);
    EXPECT_FALSE(std::filesystem::exists(path));
    provide();
    debug->start();
    env.clock.runPending();
    EXPECT_EQ(file()["dumpedAt"], "2024-06-21T09:00:10Z");
    env.log->log("later", "app");
    env.clock.advance(3);
    EXPECT_EQ(file()["dumpedAt"], "2024-06-21T09:00:13Z");
    EXPECT_EQ(file()["recentLog"].back(), "[2024-06-21T09:00:10.000Z] [app] later");
    debug->capture();
    env.clock.advance(2.9);
    EXPECT_EQ(file()["n"], 1);
    env.clock.advance(0.1);
    EXPECT_EQ(file()["n"], 2);
    debug->stop();
    env.clock.advance(60);
    EXPECT_EQ(file()["dumpedAt"], "2024-06-21T09:00:16Z");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
    // Nor once the dump is gone: its timer must not hold it alive.
    debug->start();
    env.clock.runPending();
    debug.reset();
    env.clock.advance(30);
    EXPECT_EQ(file()["dumpedAt"], "2024-06-21T09:01:16Z");
}

// The provider's own "dumpedAt", "logFile" and "recentLog" give way to the dump's; the log's
// last 100 lines, oldest first.
TEST_F(DebugStateTest, KeysSortedAtEveryLevelAndAddedKeysReplaceTheProviders) {
    current = json::parse(R"({"zeta": 1, "monitor": {"name": "D", "id": "A", "capabilities":
        {"vcpCount": 3, "model": "X"}}, "list": [{"b": 1, "a": 2}], "n": 0, "Alpha": null,
        "dumpedAt": "stale", "logFile": 7, "recentLog": "not a list"})");
    for (int i = 0; i < 150; ++i) {
        env.log->log("line " + std::to_string(i), "app");
    }
    provide();
    dumpNow();
    const std::string text = readFile(path);
    // Read in the file's own order, it prints the same as read sorted.
    EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(), json::parse(text).dump());
    EXPECT_NE(text.find("\n  \"zeta\": 1\n}"), std::string::npos) << "one member per line";
    EXPECT_EQ(file()["logFile"], env.log->fileURL().string());
    EXPECT_EQ(file()["recentLog"].size(), 100u);
    EXPECT_EQ(file()["recentLog"][0], "[2024-06-21T09:00:00.000Z] [app] line 50");
}

TEST(DebugStateRender, DumpedAtIsUtcWholeSecondsCutNotRounded) {
    for (auto [now, text] : {std::pair{1718961881.999, "2024-06-21T09:24:41Z"},
                             {-0.5, "1969-12-31T23:59:59Z"},
                             {1e300, "1970-01-01T00:00:00Z"},
                             {std::nan(""), "1970-01-01T00:00:00Z"}}) {
        EXPECT_EQ(json::parse(*DebugState::render({}, now, "", {}))["dumpedAt"], text);
    }
}

// Bytes from an EDID or a log line that are not UTF-8, and numbers JSON cannot hold, still
// give a file that parses; what cannot be printed at all gives nothing.
TEST_F(DebugStateTest, HostileValuesStillGiveValidJsonOrNothing) {
    current.update({{"name", "Dell\xff"}, {"bad\xc3(", 1}, {"weight", -INFINITY}});
    env.log->log("cut \xe2\x82", "camdiag");
    provide();
    dumpNow();
    EXPECT_EQ(file()["name"], "Dell\uFFFD");
    EXPECT_EQ(file()["bad\uFFFD("], 1);
    EXPECT_EQ(file()["weight"], nullptr);
    EXPECT_EQ(file()["recentLog"].back(), "[2024-06-21T09:00:00.000Z] [camdiag] cut \uFFFD");
    for (const json& bad : {json::array(), json("text"), json{{"x", json::value_t::discarded}}}) {
        EXPECT_EQ(DebugState::render(bad, 0, "", {}), std::nullopt) << bad.type_name();
    }
}

// A read-only folder keeps the last good file and the trouble is logged once, not per tick;
// after a success, trouble (a folder in the file's place) is logged again.
TEST_F(DebugStateTest, FailedWriteKeepsTheOldFileAndLogsOncePerTrouble) {
    provide();
    debug->start();
    env.clock.runPending();
    const std::string good = readFile(path);
    AsOrdinaryUser::openWayTo(path, env.dir.path());
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.ok());
        env.clock.advance(30);
    }
    EXPECT_EQ(readFile(path), good);
    EXPECT_EQ(problemLines(), 1u);
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    env.clock.advance(3);
    EXPECT_EQ(file()["dumpedAt"], "2024-06-21T09:00:33Z");
    std::filesystem::remove(path);
    std::filesystem::create_directories(path / "inside");
    env.clock.advance(30);
    EXPECT_EQ(problemLines(), 2u);
}

TEST_F(DebugStateTest, BurstWhileAWriteIsQueuedWritesOnceWithTheNewest) {
    provide();
    env.clock.runPending();
    for (int i = 0; i < 5; ++i) {
        debug->dump();
    }
    EXPECT_EQ(env.clock.pendingCount(), 1u) << "one write queued";
    debug->flush();
    EXPECT_EQ(file()["n"], 5);
    // A quit right after a capture leaves it in the file, though no rewrite was due.
    debug->capture();
    debug->flush();
    EXPECT_EQ(file()["n"], 6);
}

// Real threads: dumps are taken while earlier ones are being written, and every flush leaves
// the newest in the file.
TEST(DebugStateThreads, EachFlushLeavesTheNewestDump) {
    TempDir dir;
    SystemClock clock;
    SerialQueue logQueue("pellora.debug-log", clock);
    RecordingSystemLog systemLog;
    DebugLog log(clock, logQueue, dir.path(), systemLog);
    VirtualClock mainClock;
    auto main = mainClock.makeQueue("main", /*isMain=*/true);
    auto debug = DebugState::create(clock, *main, log, dir.path());
    int n = 0;
    debug->setProvider([&n] { return json{{"n", ++n}}; });
    for (int i = 1; i <= 300; ++i) {
        debug->dump();
        if (i % 10 == 0) {
            debug->flush();
            ASSERT_EQ(json::parse(readFile(dir / "debug.json"))["n"], i);
        }
    }
}

}  // namespace
}  // namespace pellora::test
