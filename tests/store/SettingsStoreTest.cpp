#include "store/SettingsStore.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "AsOrdinaryUser.h"
#include "OtherMachine.h"
#include "QtTestApp.h"
#include "TestEnvironment.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/PeerSettingsFiles.h"
#include "store/SettingsFileCodec.h"

namespace pellora::test {
namespace {

std::filesystem::path localFile(const TestEnvironment& env) {
    return env.paths.configDir / "settings.json";
}

std::string settingsFile(const std::string& values) {
    return R"({"format":"pellora-settings","version":1,"values":{)" + values + "}}";
}

// A choice for this machine's desk stays in its own file: other machines neither see it nor
// change it, and it outlives a restart.
TEST(SettingsStoreReads, TypedReadsFollowTheRulesOfTheCopyHoldingTheKeyAndMachineChoicesStay) {
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
        {"local.hugeDouble", 1e19, 1e19, std::nullopt, true},
        {"local.text", std::string("12"), std::nullopt, std::nullopt, true},
        {"local.bytes", Bytes{"\x01"}, std::nullopt, std::nullopt, false},
        {"local.bool", true, 1.0, 1, true},
        // Held in the cloud, over a local text: any value counts, non-numbers read as zero.
        {"cloud.half", 3.7, 3.7, 3, true},
        {"cloud.negativeHalf", -3.7, -3.7, -3, true},
        {"cloud.text", std::string("abc"), 0.0, 0, false},
        {"cloud.yes", std::string("yes"), 0.0, 0, true},
        {"cloud.zero", std::int64_t{0}, 0.0, 0, false},
        {"cloud.huge", 1e300, 1e300, 0, true},
    };
    TestEnvironment env;
    SettingsEntries local;
    OtherMachine other(env.paths.syncDir, "laptop", env.clock, [](const std::string&) {});
    for (const auto& c : cases) {
        const bool isLocal = std::string(c.key).starts_with("local.");
        local[c.key] = {isLocal ? c.value : SettingValue(std::string("local")), 0};
        if (!isLocal) {
            other.set(c.key, c.value);
        }
    }
    local["anchors"] = {Bytes{"[]"}, 0};
    other.set("anchors", std::string("not bytes"));
    other.set("peer.on", true);
    other.synchronize();
    writeFile(localFile(env), SettingsFileCodec::encode(local, false));
    env.reopenSettings();
    for (const auto& c : cases) {
        EXPECT_EQ(env.settings->doubleValue(c.key), c.asDouble) << c.key;
        EXPECT_EQ(env.settings->integer(c.key), c.asInteger) << c.key;
        EXPECT_EQ(env.settings->boolean(c.key), c.asBool) << c.key;
    }
    // Bytes and text fall back to the local copy when the cloud holds another type.
    EXPECT_EQ(env.settings->string("cloud.text"), "abc");
    EXPECT_EQ(env.settings->string("cloud.half"), "local");
    EXPECT_EQ(env.settings->data("anchors"), "[]");
    // Never written is nothing, not zero: a location never set differs from one at 0°.
    EXPECT_EQ(env.settings->doubleValue("userLat"), std::nullopt);

    EXPECT_FALSE(env.settings->machineBoolean("peer.on"));
    env.settings->setForThisMachine("here.on", true);
    env.settings->flush();
    other.refresh();
    EXPECT_EQ(other.value("here.on"), nullptr);
    env.reopenSettings();
    EXPECT_TRUE(env.settings->machineBoolean("here.on"));
}

// The caller's thread never writes a file: reads see a change at once, the store's own
// queue writes it, and a burst of changes costs a few writes, not one per change. Once
// `flush` returns, both private copies hold every change (the first write was under way, the
// others waited for it); what is still pending when the store goes is written then.
TEST(SettingsStoreWrites, AreReadAtOnceWrittenCoalescedOnTheStoresQueueAndAllInBothCopies) {
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

    env.settings->set("monitor.A.anchorsV1", Bytes{std::string("[{\"l\":1}]\0\xff", 12)});
    env.settings->set("monitor.A.mode", "adapting");
    env.settings->set("userLat", 52.52);
    // JSON has no NaN: storing one would damage the file for every reader.
    env.settings->set("userLat", std::numeric_limits<double>::quiet_NaN());
    env.settings->set("userLon", std::numeric_limits<double>::infinity());
    env.settings->flush();
    for (const auto& path : {localFile(env), env.paths.syncDir / "this-machine.json"}) {
        auto decoded = SettingsFileCodec::decode(readFile(path));
        ASSERT_TRUE(decoded) << path;
        EXPECT_EQ(decoded->entries.size(), 7u);
        EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
    }
    env.settings->set("c", 3);
    env.settings->remove("monitor.A.mode");
    env.reopenSettings();  // the old store goes first
    EXPECT_EQ(env.settings->integer("monitor.A.manualBrightness"), 99);
    EXPECT_EQ(env.settings->integer("step2"), 98);
    EXPECT_EQ(env.settings->data("monitor.A.anchorsV1"), std::string("[{\"l\":1}]\0\xff", 12));
    EXPECT_EQ(env.settings->string("monitor.A.mode"), std::nullopt);
    EXPECT_EQ(env.settings->doubleValue("userLat"), 52.52);
    EXPECT_EQ(env.settings->doubleValue("userLon"), std::nullopt);
    EXPECT_EQ(env.settings->integer("c"), 3);
    EXPECT_EQ(env.linesWith("non-finite").size(), 2u);
}

// Another machine's change (a removal too) reaches the live subscribers, on the main queue,
// once for a burst of folder events; the store's own writes and an unchanged folder announce
// nothing.
TEST(SettingsStoreRemoteChange, ReachesLiveSubscribersOnMainOncePerBurst) {
    TestEnvironment env;
    int calls = 0, droppedCalls = 0;
    bool onMain = false;
    auto subscription = env.settings->onRemoteChange([&] {
        ++calls;
        onMain = env.main->isCurrent();
    });
    env.settings->onRemoteChange([&] { ++droppedCalls; }).reset();
    env.remoteSet("monitor.A.anchorsV1", Bytes{"[]"});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(droppedCalls, 0);

    env.settings->set("a", true);
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 1);

    OtherMachine other(env.paths.syncDir, "laptop", env.clock, [](const std::string&) {});
    for (int i = 0; i < 5; ++i) {
        other.set("k" + std::to_string(i), std::int64_t{i});
        other.synchronize();
        env.settings->cloudFolderChanged();
    }
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(env.settings->integer("k4"), 4);

    env.remoteRemove("a");
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("a"), std::nullopt);
}

// Two machines write at the same moment, each into its own file: neither loses a key, a key
// both wrote reads as the newer write on both, and a write made after seeing a newer value
// wins even from a machine whose clock is an hour behind.
TEST(SettingsStoreTwoMachines, NoKeyIsLostAndTheLastWriteWinsDespiteClockSkew) {
    TestEnvironment env;
    VirtualClock ahead(env.clock.now() + 3600);
    AppPaths laptop = AppPaths::underRoot(env.dir / "laptop");
    laptop.syncDir = env.paths.syncDir;
    auto& a = env.settings;
    auto b = SettingsStore::open(laptop, ahead, *env.main, *env.settingsQueue, nullptr, "laptop");
    const auto exchange = [&] {
        env.clock.runPending();
        a->cloudFolderChanged();
        b->cloudFolderChanged();
        env.clock.advance(1.0);
    };
    a->set("monitor.A.anchorsV1", Bytes{"[1]"});
    b->set("monitor.B.anchorsV1", Bytes{"[2]"});
    a->set("userLat", 1.0);
    b->set("userLat", 2.0);
    exchange();
    for (auto* store : {a.get(), b.get()}) {
        EXPECT_EQ(store->data("monitor.A.anchorsV1"), "[1]");
        EXPECT_EQ(store->data("monitor.B.anchorsV1"), "[2]");
        EXPECT_EQ(store->doubleValue("userLat"), 2.0);
    }
    a->set("userLat", 3.0);
    EXPECT_EQ(a->doubleValue("userLat"), 3.0);
    exchange();
    EXPECT_EQ(b->doubleValue("userLat"), 3.0);
}

// Read as empty, left in place until the next write, then kept aside: every copy of it,
// numbered, the newest five.
TEST(SettingsStoreDamage, DamagedLocalFileReadsAsEmptyAndEachDamagedVersionIsKept) {
    const std::string damaged[] = {
        "\x00\x01garbage\xff",
        R"({"format":"pellora-settings","version":1,"values":{"monitor.A.mode":{"ty)",
        "[1,2,3]",
        R"({"format":"something-else","values":{}})",
        std::string(200000, '['),
        std::string(10u << 20, ' ') + "{}",
    };
    TestEnvironment env;
    for (int i = 0; i < 6; ++i) {
        const std::string copy = localFile(env).string() + ".damaged." + std::to_string(i + 1);
        std::filesystem::remove(env.paths.syncDir / "this-machine.json");
        writeFile(localFile(env), damaged[i]);
        env.reopenSettings();
        EXPECT_EQ(env.settings->string("monitor.A.mode"), std::nullopt) << i;
        EXPECT_EQ(env.linesWith("settings.json cannot be read").size(), i + 1u);
        EXPECT_EQ(readFile(localFile(env)), damaged[i]) << "not overwritten by reading";
        env.settings->set("monitor.A.mode", "learning");
        env.settings->flush();
        EXPECT_EQ(readFile(copy), damaged[i]) << i;
    }
    EXPECT_EQ(readFile(localFile(env).string() + ".damaged.2"), damaged[1]);
    EXPECT_FALSE(std::filesystem::exists(localFile(env).string() + ".damaged.1"));
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
}

// Entries this version cannot read use their defaults, and stay in the file as they were
// when it is rewritten (a newer version may have written them).
TEST(SettingsStoreDamage, UnreadableEntriesAreSkippedAndKeptInTheFile) {
    TestEnvironment env;
    const std::string values =
        R"("good":{"type":"string","value":"kept"},"badInt":{"type":"int","value":"seven"},)"
        R"("badBytes":{"type":"bytes","value":"***not base64***"},"noType":{"value":1},)"
        R"("colour":{"type":"colour","value":[1,2]},"notObject":5,"removedAsNumber":{"removed":1},)"
        R"("tooBig":{"type":"int","value":18446744073709551615},)"
        R"("removedAsText":{"removed":"yes","type":"int","value":1})";
    writeFile(localFile(env), settingsFile(values));
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("good"), "kept");
    EXPECT_EQ(env.settings->integer("badInt"), std::nullopt);
    EXPECT_EQ(env.settings->integer("removedAsNumber"), std::nullopt);
    EXPECT_EQ(env.linesWith("this version cannot read; using its default and keeping it").size(),
              8u);

    env.settings->set("badInt", 7);  // a new value replaces the unreadable one
    env.settings->flush();
    auto original = SettingsFileCodec::decode(settingsFile(values));
    auto rewritten = SettingsFileCodec::decode(readFile(localFile(env)));
    ASSERT_TRUE(original && rewritten);
    original->unreadable.erase("badInt");
    EXPECT_EQ(rewritten->unreadable, original->unreadable);
    EXPECT_EQ(rewritten->entries["badInt"].value, SettingValue(std::int64_t{7}));
}

// What another machine's file holds cannot stop this one: a damaged version keeps what was
// read before, with one log line, the same damage seen at start is harmless, and the next
// good version is taken.
TEST(SettingsStoreDamage, DamagedPeerFileKeepsWhatWasReadBeforeAndLogsOnce) {
    const std::string removedNotBool =
        settingsFile(R"("monitor.A.mode":{"type":"string","value":"adapting","modified":9e9},)"
                     R"("x":{"removed":1})");
    const struct {
        char kind;  // f: a file of `bytes`, p: a FIFO (would hang an open), l: a link
        std::string bytes;
        const char* logged;
    } cases[] = {
        {'f', removedNotBool.substr(0, 70), "laptop.json cannot be read (not a settings file)"},
        {'f', std::string(11u << 20, '{'), "laptop.json cannot be read (11534336 bytes"},
        {'p', "", "laptop.json cannot be read (not a regular file)"},
        {'l', "", "laptop.json cannot be read (a symbolic link"},
        // Nested deeper than any setting: writing such a value out again would recurse as deep.
        {'f', settingsFile(R"("k":)" + std::string(65, '[') + std::string(65, ']')),
         "laptop.json cannot be read (not a settings file)"},
        {'f', removedNotBool, "key \"x\" holds a value this version cannot read; ignoring it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        TestEnvironment env;
        env.remoteSet("monitor.A.mode", std::string("adapting"), "laptop");
        const auto peer = env.paths.syncDir / "laptop.json";
        std::filesystem::remove(peer);
        if (c.kind == 'p') {
            ASSERT_EQ(::mkfifo(peer.c_str(), 0600), 0);
        } else if (c.kind == 'l') {
            std::filesystem::create_symlink("/dev/zero", peer);
        } else {
            writeFile(peer, c.bytes);
        }
        for (int i = 0; i < 2; ++i) {
            env.settings->cloudFolderChanged();
            env.clock.advance(1.0);
        }
        EXPECT_EQ(env.settings->string("monitor.A.mode"), "adapting");
        EXPECT_EQ(env.linesWith(c.logged).size(), 1u);
        env.reopenSettings();  // seen at start: no hang, no harm

        std::filesystem::remove(peer);
        env.remoteSet("monitor.A.mode", std::string("learning"), "laptop");
        EXPECT_EQ(env.settings->string("monitor.A.mode"), "learning");
    }
}

// Dotfile managers make settings.json a link into their own folder. A link to a regular file
// of this user's is followed: that file is read and rewritten in its own folder, and the link
// stays. A link to anything else is refused with a log line and set aside as it is, still
// leading where it did; a damaged file a link leads to is kept beside it.
TEST(SettingsStoreLinks, ALinkToThisUsersFileIsFollowedAndAnythingElseIsSetAside) {
    enum Outcome { followed, followedDamaged, setAside };
    const std::string kept = settingsFile(R"("k":{"type":"string","value":"kept"})");
    const struct {
        const char* name;
        std::function<bool(const std::filesystem::path&)> make;  // false: cannot here
        Outcome outcome;
        const char* logged;
    } cases[] = {
        {"this user's file", [&](const auto& t) { return writeFile(t, kept), true; }, followed,
         "is a link to"},
        {"this user's damaged file", [](const auto& t) { return writeFile(t, "{\"fo"), true; },
         followedDamaged, "cannot be read (not a settings file)"},
        // Only root can give a file away.
        {"another user's file",
         [&](const auto& t) { return writeFile(t, kept), ::chown(t.c_str(), 65534, 65534) == 0; },
         setAside, "which belongs to another user"},
        {"a FIFO", [](const auto& t) { return ::mkfifo(t.c_str(), 0600) == 0; }, setAside,
         "which is not a regular file"},
        {"nothing", [](const auto&) { return true; }, setAside,
         "a symbolic link that leads nowhere"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestEnvironment env;
        TempDir dotfiles;
        const auto target = dotfiles / "settings.json";
        if (!c.make(target)) {
            continue;
        }
        std::filesystem::create_directories(env.paths.configDir);
        std::filesystem::create_symlink(target, localFile(env));
        env.reopenSettings();
        EXPECT_EQ(env.settings->string("k").has_value(), c.outcome == followed);
        EXPECT_EQ(env.linesWith(c.logged).size(), 1u);
        env.settings->set("new", std::int64_t{1});
        env.settings->flush();

        const auto written = c.outcome == setAside ? localFile(env) : target;
        auto decoded = SettingsFileCodec::decode(readFile(written));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->entries.count("new"), 1u);
        const auto link = c.outcome == setAside ? localFile(env).string() + ".damaged.1"
                                                : localFile(env).string();
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link), target);
        if (c.outcome == followedDamaged) {
            EXPECT_EQ(readFile(target.string() + ".damaged.1"), "{\"fo");
        }
        if (c.outcome == setAside && std::filesystem::is_regular_file(target)) {
            EXPECT_EQ(readFile(target), kept) << "the file the link leads to is not touched";
        }
    }
    // A link in the synced folder may have come from another machine: never followed.
    TestEnvironment env;
    TempDir home;
    writeFile(home / "authorized_keys", "ssh-ed25519 AAAA");
    const auto own = env.paths.syncDir / "this-machine.json";
    std::filesystem::create_directories(env.paths.syncDir);
    std::filesystem::remove(own);
    std::filesystem::create_symlink(home / "authorized_keys", own);
    env.reopenSettings();
    env.settings->set("new", std::int64_t{1});
    env.settings->flush();
    EXPECT_EQ(readFile(home / "authorized_keys"), "ssh-ed25519 AAAA");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(own)));
}

// The synced folder is seen by other machines and often a cloud: this machine's file there
// names no machine id, and the file an older version named by it is taken over.
TEST(SettingsStoreSync, TheSyncedFileNamesNoMachineIdAndTakesOverTheOldOne) {
    const std::string name = syncedMachineName();
    EXPECT_TRUE(name == syncedMachineName() && name.size() == 32);
    EXPECT_EQ(name.find(machineName()), std::string::npos);
    TestEnvironment env;
    env.settings.reset();
    std::filesystem::remove(env.paths.syncDir / "this-machine.json");
    OtherMachine old(env.paths.syncDir, "machine-id", env.clock, [](const std::string&) {});
    old.set("userLat", 51.5);
    old.synchronize();
    env.settings = SettingsStore::open(env.paths, env.clock, *env.main, *env.settingsQueue,
                                       env.log.get(), "this-machine", "machine-id");
    EXPECT_EQ(env.settings->value("userLat"), std::optional(SettingValue(51.5)));
    EXPECT_FALSE(std::filesystem::exists(env.paths.syncDir / "machine-id.json"));
}

// A write killed half-way leaves a temporary file; the next start removes this machine's
// stale ones, and no machine reads one, or a sync tool's hidden one, as a machine's file.
TEST(SettingsStoreDamage, StaleTemporaryFilesAreSweptAndNeverReadAsAMachine) {
    TestEnvironment env;
    const std::filesystem::path temps[] = {env.paths.syncDir / "~this-machine.json.77.1.tmp",
                                           env.paths.configDir / "~settings.json.77.1.tmp",
                                           env.paths.syncDir / "~laptop.json.77.1.tmp",
                                           env.paths.syncDir / ".laptop.json"};
    const timespec hourAgo{time_t(env.clock.now() - 3600), 0};
    const timespec times[2] = {hourAgo, hourAgo};
    for (const auto& path : temps) {
        writeFile(path, settingsFile(R"("k":{"type":"int","value":5,"modified":9e9})"));
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("k"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(temps[0]) || std::filesystem::exists(temps[1]));
    EXPECT_TRUE(std::filesystem::exists(temps[2])) << "the laptop's to sweep";
}

// A FIFO in the file's place neither hangs the start nor is lost; a folder that cannot be made
// drops writes until the next one.
TEST(SettingsStoreDamage, AFifoForTheFileOrAFileForTheFolderHangsNothingAndLosesNothing) {
    TestEnvironment env;
    ASSERT_TRUE(std::filesystem::create_directories(env.paths.configDir));
    ASSERT_EQ(::mkfifo(localFile(env).c_str(), 0600), 0);
    env.reopenSettings();
    EXPECT_EQ(env.linesWith("settings.json cannot be read (not a regular file)").size(), 1u);
    env.settings->set("a", 1);
    env.settings->flush();
    EXPECT_TRUE(std::filesystem::is_fifo(localFile(env).string() + ".damaged.1"));
    EXPECT_TRUE(std::filesystem::is_regular_file(localFile(env)));

    // A file where the settings folder should be: creating it fails even for root.
    std::filesystem::remove_all(env.paths.configDir);
    writeFile(env.paths.configDir, "blocker");
    env.reopenSettings();
    env.settings->set("first", std::int64_t{1});
    env.settings->flush();
    EXPECT_EQ(env.settings->integer("first"), 1);  // still readable in this run
    EXPECT_FALSE(env.linesWith("cannot be created").empty());

    // Back, and the user quits: the failed write is tried again on the way out.
    std::filesystem::remove(env.paths.configDir);
    env.reopenSettings();
    EXPECT_EQ(env.settings->integer("first"), 1);
}

// A write that failed (a full disk, a folder in the way) is tried again a while later, more
// rarely while it keeps failing, so a change made then is on disk once it can be, with no
// further change and no quit to carry it.
TEST(SettingsStoreDamage, AFailedWriteIsTriedAgainLaterWithoutAnotherChange) {
    TestEnvironment env;
    writeFile(env.paths.configDir, "blocker");
    env.settings->set("first", std::int64_t{1});
    env.clock.advance(2 * 3600);
    const std::size_t tries = env.linesWith("cannot be created").size();
    EXPECT_GT(tries, 2u);
    EXPECT_LT(tries, 20u) << "not once a second for two hours";
    std::filesystem::remove(env.paths.configDir);
    env.clock.advance(3600);
    auto decoded = SettingsFileCodec::decode(readFile(localFile(env)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->entries.count("first"), 1u);
}

// A `sudo -E pellora` that made the settings folder leaves it to root, and no chmod of the
// file inside can open it again: the fix named is to take the folder back, in a command that
// still works pasted into a shell when the folder's name holds a space or a quote.
TEST(SettingsStoreDamage, ASettingsFolderLeftToRootNamesTheFolderToTakeBack) {
    TestEnvironment env;
    env.paths.configDir = env.dir.path() / "Jo's config" / "Pellora";
    env.paths.syncDir = env.paths.configDir / "sync";
    writeFile(localFile(env), settingsFile(""));
    ASSERT_EQ(::chmod(env.paths.configDir.c_str(), 0700), 0);
    AsOrdinaryUser::openWayTo(env.paths.configDir, env.dir.path());
    AsOrdinaryUser user;
    ASSERT_TRUE(user.ok());
    env.reopenSettings();
    ASSERT_TRUE(env.settings->fileProblem());
    EXPECT_NE(env.settings->fileProblem()->text.find("its folder " + env.paths.configDir.string() +
                                                     " belongs to root"),
              std::string::npos);
    EXPECT_EQ(env.settings->fileProblem()->fix, "Take it back with sudo chown -R nobody '" +
                                                    env.dir.path().string() +
                                                    "/Jo'\\''s config/Pellora', then restart "
                                                    "Pellora");
}

// A peer stamped at the latest time a file may hold: this machine's later write stays
// readable after a restart, and wins.
TEST(SettingsStoreTwoMachines, AWriteOverAPeerAtTheLatestTimeSurvivesARestart) {
    TestEnvironment env;
    writeFile(env.paths.syncDir / "laptop.json",
              settingsFile(R"("mode":{"type":"string","value":"peer","modified":1e12})"));
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    ASSERT_EQ(env.settings->string("mode"), "peer");
    env.settings->set("mode", "mine");
    env.reopenSettings();
    EXPECT_EQ(env.settings->string("mode"), "mine");
}

// Past the machine limit, one more file never drops a machine read before.
TEST(SettingsStorePeers, BeyondTheLimitTheMachinesAlreadyReadStay) {
    TempDir dir;
    PeerSettingsFiles peers(dir.path(), "desk", [](const std::string&) {});
    for (std::size_t i = 0; i <= PeerSettingsFiles::maxPeers; ++i) {
        writeFile(dir / ("m" + std::to_string(i) + ".json"), settingsFile(""));
    }
    peers.scan();
    writeFile(dir / "newcomer.json", settingsFile(""));
    for (const auto& [name, entries] : peers.scan()) {
        EXPECT_TRUE(entries.has_value()) << name << " dropped";
    }
}

// Another machine's file of a few tens of kilobytes may hold thousands of keys this version
// cannot read. Each new version of it used to log a line per key: the debug log's whole window
// of 4000 lines, and everything the user had there to go by, gave way to them.
TEST(SettingsStorePeers, ThousandsOfUnreadableKeysInAPeersFileLeaveTheDebugLogAlone) {
    TestEnvironment env;
    env.log->log("what the user was looking into", "app");
    std::string values = R"("good":{"type":"string","value":"read","modified":1},)";
    for (int i = 0; i < 5000; ++i) {
        values += "\"k" + std::to_string(i) + "\":5,";
    }
    values.pop_back();
    writeFile(env.paths.syncDir / "laptop.json", settingsFile(values));
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
    EXPECT_EQ(env.settings->string("good"), "read");
    EXPECT_EQ(env.linesWith("what the user was looking into").size(), 1u);
    const auto about = env.linesWith("laptop.json");
    EXPECT_LE(about.size(), 20u);
    EXPECT_EQ(env.linesWith("and 4990 more keys").size(), 1u) << "the rest are counted";
}

TEST(SettingsStoreWatcher, ChangeByAnotherProcessIsAnnouncedOnTheEventLoop) {
    QCoreApplication& app = test::qtApp();
    TempDir dir;
    SystemClock clock;
    QtMainQueue main(clock);
    SerialQueue settingsQueue("pellora.settings", clock);
    AppPaths paths = AppPaths::underRoot(dir.path());
    auto store = SettingsStore::open(paths, clock, main, settingsQueue, nullptr, "desk");
    store->watchCloudFolder();

    int calls = 0;
    auto subscription = store->onRemoteChange([&] {
        ++calls;
        app.quit();
    });
    QTimer::singleShot(50, [&] {
        OtherMachine other(paths.syncDir, "laptop", clock, [](const std::string&) {});
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
