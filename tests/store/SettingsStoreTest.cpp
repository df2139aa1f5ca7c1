#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>

#include <QTimer>
#include "QtTestApp.h"

#include "TestEnvironment.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/sim/StderrSystemLog.h"
#include "store/SettingsFileCodec.h"

namespace pellora::test {
namespace {

bool logHas(TestEnvironment& env, const std::string& text) {
    for (const auto& line : env.logLines()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Writes the machine's local settings file directly (what an older run or the user left).
void writeLocal(TestEnvironment& env, const SettingsEntries& entries) {
    writeFile(env.paths.configDir / "settings.json", SettingsFileCodec::encode(entries, false));
    env.reopenSettings();
}

TEST(SettingsStoreReads, LocalValueUntilTheCloudHasOne) {
    TestEnvironment env;
    writeLocal(env, {{"monitor.A.mode", {std::string("learning"), 0}}});
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
    env.remoteSet("monitor.A.mode", std::string("adapting"));
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
}

TEST(SettingsStoreReads, CloudFalseBeatsLocalTrue) {
    TestEnvironment env;
    writeLocal(env, {{"flag", {true, 0}}});
    EXPECT_TRUE(env.settings->boolean("flag"));
    env.remoteSet("flag", false);
    EXPECT_FALSE(env.settings->boolean("flag"));
}

TEST(SettingsStoreReads, NeverWrittenDoubleIsNothingNotZero) {
    TestEnvironment env;
    EXPECT_EQ(env.settings->doubleValue("userLat"), std::nullopt);
    env.settings->set("userLat", 0.0);
    EXPECT_EQ(env.settings->doubleValue("userLat"), 0.0);
    EXPECT_FALSE(env.settings->boolean("never"));
    EXPECT_EQ(env.settings->integer("never"), std::nullopt);
    EXPECT_EQ(env.settings->string("never"), std::nullopt);
    EXPECT_EQ(env.settings->data("never"), std::nullopt);
}

struct TypedCase {
    const char* name;
    SettingValue value;
    bool inCloud;
    std::optional<double> asDouble;
    std::optional<std::int64_t> asInteger;
    bool asBool;
};

void PrintTo(const TypedCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsStoreTypedReads : public ::testing::TestWithParam<TypedCase> {};

TEST_P(SettingsStoreTypedReads, FollowTheCopysRules) {
    const TypedCase& c = GetParam();
    TestEnvironment env;
    if (c.inCloud) {
        env.remoteSet("k", c.value);
    } else {
        writeLocal(env, {{"k", {c.value, 0}}});
    }
    EXPECT_EQ(env.settings->doubleValue("k"), c.asDouble);
    EXPECT_EQ(env.settings->integer("k"), c.asInteger);
    EXPECT_EQ(env.settings->boolean("k"), c.asBool);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsStoreTypedReads,
    ::testing::Values(
        // Held locally: only numbers read as numbers, only exact integers as integers.
        TypedCase{"localHalf", 3.5, false, 3.5, std::nullopt, true},
        TypedCase{"localWholeDouble", 42.0, false, 42.0, 42, true},
        TypedCase{"localInt", std::int64_t{7}, false, 7.0, 7, true},
        TypedCase{"localHugeDouble", 1e19, false, 1e19, std::nullopt, true},
        TypedCase{"localText", std::string("12"), false, std::nullopt, std::nullopt, true},
        TypedCase{"localBytes", Bytes{"\x01"}, false, std::nullopt, std::nullopt, false},
        TypedCase{"localBool", true, false, 1.0, 1, true},
        // Held in the cloud: any value counts, non-numbers read as zero.
        TypedCase{"cloudHalf", 3.7, true, 3.7, 3, true},
        TypedCase{"cloudNegativeHalf", -3.7, true, -3.7, -3, true},
        TypedCase{"cloudText", std::string("abc"), true, 0.0, 0, false},
        TypedCase{"cloudYes", std::string("yes"), true, 0.0, 0, true},
        TypedCase{"cloudBytes", Bytes{"xyz"}, true, 0.0, 0, false},
        TypedCase{"cloudZero", std::int64_t{0}, true, 0.0, 0, false},
        TypedCase{"cloudHuge", 1e300, true, 1e300, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsStoreReads, BytesAndStringsFallBackWhenTheCloudHoldsAnotherType) {
    TestEnvironment env;
    writeLocal(env, {{"monitor.A.anchorsV1", {Bytes{"[]"}, 0}},
                     {"monitor.A.name", {std::string("Desk"), 0}}});
    env.remoteSet("monitor.A.anchorsV1", std::string("not bytes"));
    env.remoteSet("monitor.A.name", std::int64_t{5});
    EXPECT_EQ(env.settings->data("monitor.A.anchorsV1"), "[]");
    EXPECT_EQ(env.settings->string("monitor.A.name"), "Desk");
}

TEST(SettingsStoreWrites, GoToBothCopiesAndSurviveARestart) {
    TestEnvironment env;
    env.settings->set("monitor.A.anchorsV1", Bytes{std::string("[{\"l\":1}]\0\xff", 12)});
    env.settings->set("monitor.A.mode", "adapting");
    env.settings->set("monitor.A.brightnessVCP", 16);
    env.settings->set("userLat", 52.52);
    env.settings->set("monitor.A.capabilitiesFailed", true);

    auto local = SettingsFileCodec::decode(readFile(env.paths.configDir / "settings.json"));
    auto cloud = SettingsFileCodec::decode(readFile(env.paths.syncDir / "this-machine.json"));
    ASSERT_TRUE(local && cloud);
    EXPECT_EQ(local->entries.size(), 5u);
    EXPECT_EQ(cloud->entries.size(), 5u);
    EXPECT_EQ(*cloud->entries["monitor.A.brightnessVCP"].value, SettingValue(std::int64_t{16}));

    env.reopenSettings();
    EXPECT_EQ(env.settings->data("monitor.A.anchorsV1"), std::string("[{\"l\":1}]\0\xff", 12));
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    EXPECT_EQ(env.settings->integer("monitor.A.brightnessVCP"), 16);
    EXPECT_EQ(env.settings->doubleValue("userLat"), 52.52);
    EXPECT_TRUE(env.settings->boolean("monitor.A.capabilitiesFailed"));
}

TEST(SettingsStoreWrites, FilesArePrivateToTheUser) {
    TestEnvironment env;
    env.settings->set("x", true);
    for (const auto& path :
         {env.paths.configDir / "settings.json", env.paths.syncDir / "this-machine.json"}) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << path;
    }
}

TEST(SettingsStoreWrites, RemoveTakesTheKeyFromBothCopies) {
    TestEnvironment env;
    env.settings->set("monitor.A.name", "Desk");
    env.settings->remove("monitor.A.name");
    EXPECT_EQ(env.settings->string("monitor.A.name"), std::nullopt);
    auto local = SettingsFileCodec::decode(readFile(env.paths.configDir / "settings.json"));
    EXPECT_EQ(local->entries.count("monitor.A.name"), 0u);
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("monitor.A.name"), std::nullopt);
}

TEST(SettingsStoreWrites, NonFiniteDoubleIsNotStored) {
    TestEnvironment env;
    env.settings->set("userLat", 10.0);
    env.settings->set("userLat", std::numeric_limits<double>::quiet_NaN());
    env.settings->set("userLon", std::numeric_limits<double>::infinity());
    EXPECT_EQ(env.settings->doubleValue("userLat"), 10.0);
    EXPECT_EQ(env.settings->doubleValue("userLon"), std::nullopt);
    EXPECT_TRUE(SettingsFileCodec::decode(readFile(env.paths.configDir / "settings.json")));
    EXPECT_TRUE(logHas(env, "non-finite"));
}

TEST(SettingsStoreRemoteChange, ReachesLiveSubscribersOnTheMainQueueOnly) {
    TestEnvironment env;
    int calls = 0;
    bool onMain = false;
    auto subscription = env.settings->onRemoteChange([&] {
        ++calls;
        onMain = env.main->isCurrent();
    });
    int droppedCalls = 0;
    auto dropped = env.settings->onRemoteChange([&] { ++droppedCalls; });
    dropped.reset();

    env.remoteSet("monitor.A.anchorsV1", Bytes{"[]"});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(droppedCalls, 0);
}

TEST(SettingsStoreRemoteChange, SubscriberIsNotKeptAlive) {
    TestEnvironment env;
    struct Owner {
        int reloads = 0;
        SettingsStore::Subscription subscription;
    };
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> weak = owner;
    owner->subscription = env.settings->onRemoteChange([weak] {
        if (auto strong = weak.lock()) {
            ++strong->reloads;
        }
    });
    env.remoteSet("a", true);
    EXPECT_EQ(owner->reloads, 1);
    owner.reset();
    EXPECT_TRUE(weak.expired());
    env.remoteSet("a", false);  // must not crash or call anything
}

TEST(SettingsStoreRemoteChange, OwnWritesAndUnchangedFilesAnnounceNothing) {
    TestEnvironment env;
    int calls = 0;
    auto subscription = env.settings->onRemoteChange([&] { ++calls; });
    env.settings->set("a", true);
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 0);
}

TEST(SettingsStoreRemoteChange, BurstOfFolderEventsMakesOneNotification) {
    TestEnvironment env;
    int calls = 0;
    auto subscription = env.settings->onRemoteChange([&] { ++calls; });
    CloudSettingsFolder other(env.paths.syncDir, "laptop", env.clock, [](const std::string&) {});
    for (int i = 0; i < 5; ++i) {
        other.set("k" + std::to_string(i), std::int64_t{i});
        other.synchronize();
        env.settings->cloudFolderChanged();
    }
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(env.settings->integer("k4"), 4);
}

TEST(SettingsStoreRemoteChange, RemovalOnAnotherMachineReachesThisOne) {
    TestEnvironment env;
    env.settings->set("monitor.A.name", "Desk");
    env.remoteRemove("monitor.A.name");
    EXPECT_EQ(env.settings->string("monitor.A.name"), std::nullopt);
}

// Two machines write at the same moment, each into its own file: neither loses a key, and
// for a key both wrote, both end up reading the newer write.
TEST(SettingsStoreTwoMachines, ConcurrentWritersKeepEachOthersKeys) {
    TempDir dir;
    VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    AppPaths desk = AppPaths::underRoot(dir / "desk");
    AppPaths laptop = AppPaths::underRoot(dir / "laptop");
    laptop.syncDir = desk.syncDir = dir / "synced";
    auto a = SettingsStore::open(desk, clock, *main, nullptr, "desk");
    auto b = SettingsStore::open(laptop, clock, *main, nullptr, "laptop");

    a->set("monitor.A.anchorsV1", Bytes{"[1]"});
    b->set("monitor.B.anchorsV1", Bytes{"[2]"});
    a->set("userLat", 1.0);
    clock.advance(2.0);
    b->set("userLat", 2.0);  // later write of the same key
    a->cloudFolderChanged();
    b->cloudFolderChanged();
    clock.advance(1.0);

    for (auto* store : {a.get(), b.get()}) {
        EXPECT_EQ(store->data("monitor.A.anchorsV1"), "[1]");
        EXPECT_EQ(store->data("monitor.B.anchorsV1"), "[2]");
        EXPECT_EQ(store->doubleValue("userLat"), 2.0);
    }
}

TEST(SettingsStoreTwoMachines, WriteAfterSeeingANewerRemoteValueWinsDespiteClockSkew) {
    TempDir dir;
    VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    AppPaths paths = AppPaths::underRoot(dir.path());
    auto store = SettingsStore::open(paths, clock, *main, nullptr, "slow-clock");
    // The other machine's clock is an hour ahead.
    VirtualClock ahead(clock.now() + 3600);
    CloudSettingsFolder other(paths.syncDir, "fast-clock", ahead, [](const std::string&) {});
    other.set("monitor.A.mode", std::string("adapting"));
    other.synchronize();
    store->cloudFolderChanged();
    clock.advance(1.0);
    ASSERT_EQ(store->string("monitor.A.mode"), "adapting");
    store->set("monitor.A.mode", "learning");
    EXPECT_EQ(store->string("monitor.A.mode"), "learning");
    other.refresh();
    EXPECT_EQ(std::get<std::string>(*other.value("monitor.A.mode")), "learning");
}

struct DamagedCase {
    const char* name;
    std::string bytes;
};

void PrintTo(const DamagedCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsStoreDamagedLocalFile : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(SettingsStoreDamagedLocalFile, ReadsAsEmptyIsKeptUntilTheNextWriteAndThenSetAside) {
    TestEnvironment env;
    auto file = env.paths.configDir / "settings.json";
    writeFile(file, GetParam().bytes);
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("monitor.A.mode"), std::nullopt);
    EXPECT_TRUE(logHas(env, "settings.json"));
    EXPECT_EQ(readFile(file), GetParam().bytes) << "not overwritten by reading";

    env.settings->set("monitor.A.mode", "learning");
    EXPECT_EQ(readFile(env.paths.configDir / "settings.json.damaged"), GetParam().bytes);
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsStoreDamagedLocalFile,
    ::testing::Values(
        DamagedCase{"garbage", "\x00\x01garbage\xff"},
        DamagedCase{"truncated",
                    R"({"format":"pellora-settings","version":1,"values":{"monitor.A.mode":{"ty)"},
        DamagedCase{"notAnObject", "[1,2,3]"},
        DamagedCase{"otherFormat", R"({"format":"something-else","values":{}})"},
        DamagedCase{"deepNesting", std::string(200000, '[')},
        DamagedCase{"huge", std::string(10u << 20, ' ') + "{}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsStoreDamage, WrongTypedEntriesAreSkippedAndTheRestKept) {
    TestEnvironment env;
    writeFile(env.paths.configDir / "settings.json",
              R"({"format":"pellora-settings","version":1,"values":{
                  "good":{"type":"string","value":"kept"},
                  "badInt":{"type":"int","value":"seven"},
                  "badBytes":{"type":"bytes","value":"***not base64***"},
                  "noType":{"value":1},
                  "unknown":{"type":"colour","value":1},
                  "notObject":5,
                  "tooBig":{"type":"int","value":18446744073709551615},
                  "alsoGood":{"type":"double","value":1.5}}})");
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("good"), "kept");
    EXPECT_EQ(env.settings->doubleValue("alsoGood"), 1.5);
    EXPECT_EQ(env.settings->integer("badInt"), std::nullopt);
    EXPECT_EQ(env.settings->integer("tooBig"), std::nullopt);
    EXPECT_EQ(env.settings->data("badBytes"), std::nullopt);
    EXPECT_TRUE(logHas(env, "\"badInt\" holds an unreadable value"));
}

TEST(SettingsStoreDamage, HalfWrittenPeerFileKeepsWhatWasReadBeforeAndLogsOnce) {
    TestEnvironment env;
    env.remoteSet("monitor.A.mode", std::string("adapting"), "laptop");
    auto peer = env.paths.syncDir / "laptop.json";
    std::string whole = readFile(peer);
    // A sync tool caught in the middle of rewriting the file in place.
    writeFile(peer, whole.substr(0, whole.size() / 2));
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    int complaints = 0;
    for (const auto& line : env.logLines()) {
        complaints += line.find("laptop.json cannot be read") != std::string::npos;
    }
    EXPECT_EQ(complaints, 1);
    // The finished rewrite is picked up.
    env.remoteSet("monitor.A.mode", std::string("learning"), "laptop");
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
}

TEST(SettingsStoreDamage, HugePeerFileIsIgnoredWithALogLine) {
    TestEnvironment env;
    writeFile(env.paths.syncDir / "huge.json", std::string(11u << 20, '{'));
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_TRUE(logHas(env, "huge.json cannot be read"));
    env.settings->set("a", true);
    EXPECT_TRUE(env.settings->boolean("a"));
}

TEST(SettingsStoreDamage, UnwritableFolderDropsWritesAndRetriesWithTheNextOne) {
    TestEnvironment env;
    // A file where the settings folder should be: creating it fails even for root.
    std::filesystem::remove_all(env.paths.configDir);
    writeFile(env.paths.configDir, "blocker");
    env.reopenSettings();
    env.settings->set("first", std::int64_t{1});
    EXPECT_EQ(env.settings->integer("first"), 1);  // still readable in this run
    EXPECT_TRUE(logHas(env, "cannot be created"));

    std::filesystem::remove(env.paths.configDir);
    env.settings->set("second", std::int64_t{2});
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("first"), 1);
    EXPECT_EQ(env.settings->integer("second"), 2);
}

TEST(SettingsStoreWatcher, ChangeByAnotherProcessIsAnnouncedOnTheEventLoop) {
    QCoreApplication& app = test::qtApp();
    TempDir dir;
    SystemClock clock;
    QtMainQueue main(clock);
    SerialQueue logQueue("pellora.debug-log", clock);
    StderrSystemLog systemLog;
    AppPaths paths = AppPaths::underRoot(dir.path());
    DebugLog log(clock, logQueue, paths.dataDir, systemLog);
    auto store = SettingsStore::open(paths, clock, main, &log, "desk");
    store->watchCloudFolder();

    int calls = 0;
    auto subscription = store->onRemoteChange([&] {
        ++calls;
        app.quit();
    });
    QTimer::singleShot(50, [&] {
        CloudSettingsFolder other(paths.syncDir, "laptop", clock, [](const std::string&) {});
        other.set("monitor.A.anchorsV1", Bytes{"[]"});
        other.synchronize();
    });
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // safety net
    app.exec();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(store->data("monitor.A.anchorsV1"), "[]");
}

}  // namespace
}  // namespace pellora::test
