#include "store/SettingsStore.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QTimer>

#include "QtTestApp.h"
#include "TestEnvironment.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/sim/StderrSystemLog.h"
#include "store/CloudSettingsFolder.h"
#include "store/SettingsFileCodec.h"

namespace pellora::test {
namespace {

int logCount(TestEnvironment& env, const std::string& text) {
    int count = 0;
    for (const auto& line : env.logLines()) {
        count += line.find(text) != std::string::npos;
    }
    return count;
}

std::filesystem::path localFile(const TestEnvironment& env) {
    return env.paths.configDir / "settings.json";
}

std::string settingsFile(const std::string& values) {
    return R"({"format":"pellora-settings","version":1,"values":{)" + values + "}}";
}

// Writes the machine's local settings file directly (what an older run or the user left).
void writeLocal(TestEnvironment& env, const SettingsEntries& entries) {
    writeFile(localFile(env), SettingsFileCodec::encode(entries, false));
    env.reopenSettings();
}

TEST(SettingsStoreReads, CloudCopyWinsOverLocalOnceItHoldsTheKey) {
    TestEnvironment env;
    writeLocal(env, {{"monitor.A.mode", {std::string("learning"), 0}},
                     {"flag", {true, 0}},
                     {"monitor.A.anchorsV1", {Bytes{"[]"}, 0}},
                     {"monitor.A.name", {std::string("Desk"), 0}}});
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
    EXPECT_TRUE(env.settings->boolean("flag"));
    env.remoteSet("monitor.A.mode", std::string("adapting"));
    env.remoteSet("flag", false);
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    EXPECT_FALSE(env.settings->boolean("flag"));
    // Bytes and text fall back to the local copy when the cloud holds another type.
    env.remoteSet("monitor.A.anchorsV1", std::string("not bytes"));
    env.remoteSet("monitor.A.name", std::int64_t{5});
    EXPECT_EQ(env.settings->data("monitor.A.anchorsV1"), "[]");
    EXPECT_EQ(env.settings->string("monitor.A.name"), "Desk");
    // Never written is nothing, not zero: a location never set differs from one at 0°.
    EXPECT_EQ(env.settings->doubleValue("userLat"), std::nullopt);
    EXPECT_EQ(env.settings->integer("never"), std::nullopt);
    EXPECT_EQ(env.settings->data("never"), std::nullopt);
}

TEST(SettingsStoreReads, TypedReadsFollowTheRulesOfTheCopyHoldingTheKey) {
    const struct {
        const char* key;
        SettingValue value;
        std::optional<double> asDouble;
        std::optional<std::int64_t> asInteger;
        bool asBool;
    } cases[] = {
        // Held locally: only numbers read as numbers, only exact integers as integers.
        {"local.half", 3.5, 3.5, std::nullopt, true},
        {"local.wholeDouble", 42.0, 42.0, 42, true},
        {"local.int", std::int64_t{7}, 7.0, 7, true},
        {"local.hugeDouble", 1e19, 1e19, std::nullopt, true},
        {"local.text", std::string("12"), std::nullopt, std::nullopt, true},
        {"local.bytes", Bytes{"\x01"}, std::nullopt, std::nullopt, false},
        {"local.bool", true, 1.0, 1, true},
        // Held in the cloud: any value counts, non-numbers read as zero.
        {"cloud.half", 3.7, 3.7, 3, true},
        {"cloud.negativeHalf", -3.7, -3.7, -3, true},
        {"cloud.text", std::string("abc"), 0.0, 0, false},
        {"cloud.yes", std::string("yes"), 0.0, 0, true},
        {"cloud.bytes", Bytes{"xyz"}, 0.0, 0, false},
        {"cloud.zero", std::int64_t{0}, 0.0, 0, false},
        {"cloud.huge", 1e300, 1e300, 0, true},
    };
    TestEnvironment env;
    SettingsEntries local;
    CloudSettingsFolder other(env.paths.syncDir, "laptop", env.clock, [](const std::string&) {});
    for (const auto& c : cases) {
        if (std::string(c.key).starts_with("local.")) {
            local[c.key] = {c.value, 0};
        } else {
            other.set(c.key, c.value);
        }
    }
    other.synchronize();
    writeLocal(env, local);
    for (const auto& c : cases) {
        EXPECT_EQ(env.settings->doubleValue(c.key), c.asDouble) << c.key;
        EXPECT_EQ(env.settings->integer(c.key), c.asInteger) << c.key;
        EXPECT_EQ(env.settings->boolean(c.key), c.asBool) << c.key;
    }
}

TEST(SettingsStoreWrites, GoToBothPrivateCopiesAndSurviveARestart) {
    TestEnvironment env;
    env.settings->set("monitor.A.anchorsV1", Bytes{std::string("[{\"l\":1}]\0\xff", 12)});
    env.settings->set("monitor.A.mode", "adapting");
    env.settings->set("monitor.A.brightnessVCP", 16);
    env.settings->set("userLat", 52.52);
    env.settings->set("monitor.A.capabilitiesFailed", true);
    env.settings->flush();

    for (const auto& path : {localFile(env), env.paths.syncDir / "this-machine.json"}) {
        auto decoded = SettingsFileCodec::decode(readFile(path));
        ASSERT_TRUE(decoded) << path;
        EXPECT_EQ(decoded->entries.size(), 5u);
        EXPECT_EQ(*decoded->entries["monitor.A.brightnessVCP"].value,
                  SettingValue(std::int64_t{16}));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << path;
    }
    env.reopenSettings();
    EXPECT_EQ(env.settings->data("monitor.A.anchorsV1"), std::string("[{\"l\":1}]\0\xff", 12));
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    EXPECT_EQ(env.settings->integer("monitor.A.brightnessVCP"), 16);
    EXPECT_EQ(env.settings->doubleValue("userLat"), 52.52);
    EXPECT_TRUE(env.settings->boolean("monitor.A.capabilitiesFailed"));
}

// The caller's thread never writes a file: reads see a change at once, the store's own
// queue writes it, and a burst of changes costs a few writes, not one per change.
TEST(SettingsStoreWrites, AreReadAtOnceAndWrittenOnTheStoresQueueCoalesced) {
    TestEnvironment env;
    const std::size_t before = env.settings->fileWrites();
    for (int i = 0; i < 100; ++i) {
        env.settings->set("monitor.A.manualBrightness", i);
        env.settings->set("step" + std::to_string(i % 3), i);
        EXPECT_EQ(env.settings->integer("monitor.A.manualBrightness"), i);
    }
    EXPECT_FALSE(std::filesystem::exists(localFile(env))) << "written on the caller's thread";
    env.clock.runPending();
    const std::size_t writes = env.settings->fileWrites() - before;
    EXPECT_GE(writes, 2u);
    EXPECT_LE(writes, 4u) << "two files, written at most twice each";
    auto local = SettingsFileCodec::decode(readFile(localFile(env)));
    ASSERT_TRUE(local);
    EXPECT_EQ(local->entries["monitor.A.manualBrightness"].value, SettingValue(std::int64_t{99}));
    EXPECT_EQ(local->entries["step2"].value, SettingValue(std::int64_t{98}));
}

TEST(SettingsStoreWrites, FlushAndTheStoresEndWriteWhatIsPending) {
    TestEnvironment env;
    env.settings->set("a", 1);  // under way
    env.settings->set("b", 2);  // waits for it
    env.settings->flush();
    EXPECT_NE(readFile(localFile(env)).find("\"b\""), std::string::npos);
    env.settings->set("c", 3);
    env.settings->remove("a");
    env.reopenSettings();  // the old store goes first
    EXPECT_EQ(env.settings->integer("a"), std::nullopt);
    EXPECT_EQ(env.settings->integer("b"), 2);
    EXPECT_EQ(env.settings->integer("c"), 3);
}

TEST(SettingsStoreWrites, NonFiniteDoubleIsNotStored) {
    TestEnvironment env;
    env.settings->set("userLat", 10.0);
    env.settings->set("userLat", std::numeric_limits<double>::quiet_NaN());
    env.settings->set("userLon", std::numeric_limits<double>::infinity());
    env.settings->flush();
    EXPECT_EQ(env.settings->doubleValue("userLat"), 10.0);
    EXPECT_EQ(env.settings->doubleValue("userLon"), std::nullopt);
    EXPECT_TRUE(SettingsFileCodec::decode(readFile(localFile(env))));
    EXPECT_EQ(logCount(env, "non-finite"), 2);
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
    // The store's own writes and an unchanged folder announce nothing.
    env.settings->set("a", true);
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 1);
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
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("monitor.A.name"), std::nullopt);
}

// Two machines write at the same moment, each into its own file: neither loses a key, and
// for a key both wrote, both end up reading the newer write.
TEST(SettingsStoreTwoMachines, ConcurrentWritersKeepEachOthersKeys) {
    TempDir dir;
    VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    auto queue = clock.makeQueue("pellora.settings");
    AppPaths desk = AppPaths::underRoot(dir / "desk");
    AppPaths laptop = AppPaths::underRoot(dir / "laptop");
    laptop.syncDir = desk.syncDir = dir / "synced";
    auto a = SettingsStore::open(desk, clock, *main, *queue, nullptr, "desk");
    auto b = SettingsStore::open(laptop, clock, *main, *queue, nullptr, "laptop");

    a->set("monitor.A.anchorsV1", Bytes{"[1]"});
    b->set("monitor.B.anchorsV1", Bytes{"[2]"});
    a->set("userLat", 1.0);
    clock.advance(2.0);
    b->set("userLat", 2.0);  // later write of the same key
    clock.runPending();
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
    TestEnvironment env;
    // The other machine's clock is an hour ahead.
    VirtualClock ahead(env.clock.now() + 3600);
    CloudSettingsFolder other(env.paths.syncDir, "fast-clock", ahead, [](const std::string&) {});
    other.set("monitor.A.mode", std::string("adapting"));
    other.synchronize();
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    ASSERT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    env.settings->set("monitor.A.mode", "learning");
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
    env.settings->flush();
    other.refresh();
    EXPECT_EQ(std::get<std::string>(*other.value("monitor.A.mode")), "learning");
}

// Read as empty, left in place until the next write, then kept aside: every copy of it.
TEST(SettingsStoreDamage, DamagedLocalFileReadsAsEmptyAndEveryDamagedVersionIsKept) {
    const std::string damaged[] = {
        "\x00\x01garbage\xff",
        R"({"format":"pellora-settings","version":1,"values":{"monitor.A.mode":{"ty)",
        "[1,2,3]",
        R"({"format":"something-else","values":{}})",
        std::string(200000, '['),
        std::string(10u << 20, ' ') + "{}",
    };
    for (const std::string& bytes : damaged) {
        TestEnvironment env;
        writeFile(localFile(env), bytes);
        env.reopenSettings();
        EXPECT_EQ(env.settings->string("monitor.A.mode"), std::nullopt);
        EXPECT_EQ(logCount(env, "settings.json cannot be read"), 1);
        EXPECT_EQ(readFile(localFile(env)), bytes) << "not overwritten by reading";

        env.settings->set("monitor.A.mode", "learning");
        env.reopenSettings();
        EXPECT_EQ(readFile(localFile(env).string() + ".damaged.1"), bytes);
        EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");

        writeFile(localFile(env), "damaged again");
        env.reopenSettings();
        env.settings->set("monitor.A.mode", "adapting");
        env.settings->flush();
        EXPECT_EQ(readFile(localFile(env).string() + ".damaged.1"), bytes);
        EXPECT_EQ(readFile(localFile(env).string() + ".damaged.2"), "damaged again");
    }
}

// Entries this version cannot read use their defaults, and stay in the file as they were
// when it is rewritten (a newer version may have written them).
TEST(SettingsStoreDamage, UnreadableEntriesAreSkippedAndKeptInTheFile) {
    TestEnvironment env;
    const std::string unreadable[] = {
        R"("badInt":{"type":"int","value":"seven"})",
        R"("badBytes":{"type":"bytes","value":"***not base64***"})",
        R"("noType":{"value":1})",
        R"("colour":{"type":"colour","value":[1,2]})",
        R"("notObject":5)",
        R"("tooBig":{"type":"int","value":18446744073709551615})",
        R"("removedAsNumber":{"removed":1})",
        R"("removedAsText":{"removed":"yes","type":"int","value":1})",
    };
    std::string values = R"("good":{"type":"string","value":"kept"})";
    for (const auto& entry : unreadable) {
        values += "," + entry;
    }
    writeFile(localFile(env), settingsFile(values));
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("good"), "kept");
    EXPECT_EQ(env.settings->integer("badInt"), std::nullopt);
    EXPECT_EQ(env.settings->integer("tooBig"), std::nullopt);
    EXPECT_EQ(env.settings->data("badBytes"), std::nullopt);
    EXPECT_EQ(env.settings->integer("removedAsNumber"), std::nullopt);
    EXPECT_EQ(logCount(env, "this version cannot read; using its default and keeping it"), 8);

    env.settings->set("badInt", 7);  // a new value replaces the unreadable one
    env.settings->flush();
    auto original = SettingsFileCodec::decode(settingsFile(values));
    auto rewritten = SettingsFileCodec::decode(readFile(localFile(env)));
    ASSERT_TRUE(original && rewritten);
    original->unreadable.erase("badInt");
    EXPECT_EQ(rewritten->unreadable, original->unreadable);
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("badInt"), 7);
    EXPECT_EQ(env.settings->string("good"), "kept");
}

struct PeerCase {
    const char* name;
    std::function<void(const std::filesystem::path&)> damage;
    const char* logged;
};

void PrintTo(const PeerCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsStoreDamagedPeerFile : public ::testing::TestWithParam<PeerCase> {};

// What another machine's file holds cannot stop this one: a damaged version keeps what was
// read before, with one log line, and the next good version is taken.
TEST_P(SettingsStoreDamagedPeerFile, KeepsWhatWasReadBeforeAndLogsOnce) {
    TestEnvironment env;
    env.remoteSet("monitor.A.mode", std::string("adapting"), "laptop");
    const auto peer = env.paths.syncDir / "laptop.json";
    GetParam().damage(peer);
    for (int i = 0; i < 2; ++i) {
        env.settings->cloudFolderChanged();
        env.clock.advance(1.0);
    }
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
    EXPECT_EQ(logCount(env, GetParam().logged), 1);
    // The same damage in a file seen first at start.
    env.reopenSettings();
    env.settings->set("a", true);
    env.settings->flush();
    EXPECT_TRUE(env.settings->boolean("a"));

    std::filesystem::remove(peer);
    env.remoteSet("monitor.A.mode", std::string("learning"), "laptop");
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsStoreDamagedPeerFile,
    ::testing::Values(
        PeerCase{"halfWritten",
                 [](const auto& peer) {
                     const std::string whole = readFile(peer);
                     writeFile(peer, whole.substr(0, whole.size() / 2));
                 },
                 "laptop.json cannot be read (not a settings file)"},
        PeerCase{"huge", [](const auto& peer) { writeFile(peer, std::string(11u << 20, '{')); },
                 "laptop.json cannot be read (11534336 bytes"},
        // A FIFO would hang an ordinary open for good.
        PeerCase{"fifo",
                 [](const auto& peer) {
                     std::filesystem::remove(peer);
                     ASSERT_EQ(::mkfifo(peer.c_str(), 0600), 0);
                 },
                 "laptop.json cannot be read (not a regular file)"},
        PeerCase{"symlink",
                 [](const auto& peer) {
                     std::filesystem::remove(peer);
                     std::filesystem::create_symlink("/dev/zero", peer);
                 },
                 "laptop.json cannot be read (a symbolic link"},
        PeerCase{"removedNotBoolean",
                 [](const auto& peer) {
                     writeFile(peer,
                               settingsFile(R"("monitor.A.mode":{"type":"string","value":)"
                                            R"("adapting","modified":9e9},"x":{"removed":1})"));
                 },
                 "key \"x\" holds a value this version cannot read; ignoring it"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsStoreDamage, FifoInPlaceOfTheLocalFileNeitherHangsNorIsLost) {
    TestEnvironment env;
    ASSERT_TRUE(std::filesystem::create_directories(env.paths.configDir));
    ASSERT_EQ(::mkfifo(localFile(env).c_str(), 0600), 0);
    env.reopenSettings();
    EXPECT_EQ(logCount(env, "settings.json cannot be read (not a regular file)"), 1);
    env.settings->set("a", 1);
    env.settings->flush();
    EXPECT_TRUE(std::filesystem::is_fifo(localFile(env).string() + ".damaged.1"));
    EXPECT_TRUE(std::filesystem::is_regular_file(localFile(env)));
}

// A write killed half-way leaves a temporary file; the next start removes this machine's
// stale ones, and no machine ever reads one as a machine's file.
TEST(SettingsStoreDamage, StaleTemporaryFilesAreSweptAndNeverReadAsAMachine) {
    TestEnvironment env;
    const double now = env.clock.now();
    const std::string ownTemp = "~this-machine.json.77.1.tmp";
    const std::string peerTemp = "~laptop.json.77.1.tmp";
    const std::string peerStyle = settingsFile(R"("k":{"type":"int","value":5,"modified":9e9})");
    for (const auto& name : {ownTemp, peerTemp, std::string(".old.json.77.1.tmp")}) {
        writeFile(env.paths.syncDir / name, peerStyle);
        const timespec old{time_t(now - 3600), 0};
        const timespec times[2] = {old, old};
        ASSERT_EQ(::utimensat(AT_FDCWD, (env.paths.syncDir / name).c_str(), times, 0), 0);
    }
    writeFile(env.paths.configDir / "~settings.json.77.1.tmp", "{}");
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("k"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(env.paths.syncDir / ownTemp));
    EXPECT_TRUE(std::filesystem::exists(env.paths.syncDir / peerTemp)) << "the laptop's to sweep";
    EXPECT_TRUE(std::filesystem::exists(env.paths.configDir / "~settings.json.77.1.tmp"))
        << "younger than a minute: perhaps a write under way";
}

TEST(SettingsStoreDamage, UnwritableFolderDropsWritesAndRetriesWithTheNextOne) {
    TestEnvironment env;
    // A file where the settings folder should be: creating it fails even for root.
    std::filesystem::remove_all(env.paths.configDir);
    writeFile(env.paths.configDir, "blocker");
    env.reopenSettings();
    env.settings->set("first", std::int64_t{1});
    env.settings->flush();
    EXPECT_EQ(env.settings->integer("first"), 1);  // still readable in this run
    EXPECT_GE(logCount(env, "cannot be created"), 1);

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
    SerialQueue settingsQueue("pellora.settings", clock);
    StderrSystemLog systemLog;
    AppPaths paths = AppPaths::underRoot(dir.path());
    DebugLog log(clock, logQueue, paths.dataDir, systemLog);
    auto store = SettingsStore::open(paths, clock, main, settingsQueue, &log, "desk");
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
