// Learning from the user's choices, modes and retraining, monitor changes, and what the menu
// and the debug dump show.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

#include "AsOrdinaryUser.h"
#include "ControllerFixture.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "model/BrightnessModel.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;
using LearningTest = ControllerFixture;
using MonitorChangeTest = ControllerFixture;
using MenuAndDumpTest = ControllerFixture;

TEST_F(LearningTest, SliderBurstCommitsOnlyTheLastChoiceAfterTheDwell) {
    d().session->setIdleSeconds(1000);  // away: the launch's reading starts no anchor
    d().launch();
    d().advance(5);
    d().session->setIdleSeconds(0);
    d().camera.setScriptedLuma({200});
    d().app->userDidAdjustBrightness(40);
    setMonitor(40);
    EXPECT_EQ(count("user adjust brightness=40 @luma=97 — pending anchor"), 1u);
    d().advance(100);
    d().app->userDidAdjustBrightness(45);
    setMonitor(46);
    double luma = d().app->smoothedLuma();
    d().app->menu().activate(Id::snapshot);  // the room brightens during the dwell
    d().advance(179);
    EXPECT_EQ(count("anchor committed"), 0u);
    d().advance(1.5);
    EXPECT_EQ(count("anchor committed: luma=97 brightness=45 hour=9.0 (1 anchors)"), 1u);
    const auto& anchors = d().app->scope()->anchors().anchors();
    ASSERT_EQ(anchors.size(), 1u);
    EXPECT_DOUBLE_EQ(anchors[0].brightness, 45);
    EXPECT_DOUBLE_EQ(anchors[0].luma, luma);             // of the choice, not of the brighter room
    EXPECT_NEAR(anchors[0].hour, 9.0 + 1.0 / 60, 1e-9);  // 09:01:45
    EXPECT_DOUBLE_EQ(anchors[0].weight, 1.0);
    EXPECT_FALSE(d().app->pendingAnchor());
}

TEST_F(LearningTest, PendingChoicesAreDroppedWhenTheyDoNotStand) {
    d().launch();
    d().advance(200);
    d().app->userDidAdjustBrightness(40);
    setMonitor(43);
    d().advance(181);
    EXPECT_EQ(count("pending anchor dropped — value changed (now 43)"), 1u);

    d().app->userDidAdjustBrightness(40);
    d().session->setIdleSeconds(300);
    d().advance(181);
    EXPECT_EQ(count("pending anchor dropped — user not present"), 1u);

    d().session->setIdleSeconds(0);
    d().app->userDidAdjustBrightness(40);
    d().session->setLocked(true);
    d().advance(181);
    EXPECT_EQ(count("pending anchor dropped — user not present"), 2u);

    d().session->setLocked(false);
    d().app->userDidAdjustBrightness(40);
    d().monitor->setFault(SimulatedMonitorFault::noReply);
    d().advance(181);
    EXPECT_EQ(count("pending anchor dropped — value changed (now nil)"), 1u);
}

TEST_F(LearningTest, UnplugDuringTheDwellKeepsThePendingAnchor) {
    d().launch();
    d().advance(200);
    d().app->userDidAdjustBrightness(60);
    d().advance(60);
    d().unplug(SimulatedDesk::monitorA);
    d().advance(200);
    EXPECT_TRUE(d().app->pendingAnchor());
    EXPECT_EQ(d().app->pendingAnchor()->brightness, 60);
    EXPECT_EQ(count("pending anchor dropped"), 0u);
    EXPECT_EQ(count("anchor committed"), 1u);  // only the launch's
}

// 60 chosen on monitor A (whose curve holds 50 at that light from the launch's reading), then
// the cable changes. Each row: what is connected during the dwell, what is plugged in once the
// check has come due, the line the check logs, and what each monitor's curve then holds.
TEST_F(LearningTest, APendingChoiceIsCommittedOnlyIntoItsOwnMonitor) {
    using M = const DisplayInfo*;
    M a = &SimulatedDesk::monitorA, b = &SimulatedDesk::monitorB, none = nullptr;
    struct Case {
        const char* name;
        std::vector<M> duringDwell;
        M afterDue;
        const char* line;
        double brightnessOfA;
        std::size_t anchorsOfB;
    };
    for (const Case& c : {
             Case{"A→B", {b}, none, "pending anchor dropped — chosen on another monitor", 50, 0},
             Case{"A→B→A", {b, a}, none, "anchor committed: luma=97 brightness=60", 55, 0},
             Case{"A→none, A back later",
                  {none},
                  a,
                  "anchor committed: luma=97 brightness=60",
                  55,
                  0},
             Case{"A→none, B later", {none}, b, "dropped — chosen on another monitor", 50, 0},
         }) {
        SCOPED_TRACE(c.name);
        restart({});
        d().otherMonitor->defineRegister(0x10, 60, 100);  // B happens to show the same value
        d().launch();
        d().advance(200);
        M connected = a;
        auto connect = [&](M next) {
            if (connected) {
                d().unplug(*connected);
            }
            if (next) {
                d().plug(*next, next == a ? d().monitor : d().otherMonitor);
            }
            connected = next;
        };
        setMonitor(60);
        d().app->userDidAdjustBrightness(60);
        d().session->setIdleSeconds(400);  // away while the cable changes: B's value is not theirs
        for (M m : c.duringDwell) {
            connect(m);
            d().advance(30);
        }
        d().session->setIdleSeconds(0);
        d().advance(200);
        if (c.afterDue) {
            EXPECT_EQ(count("pending anchor kept — its monitor is not connected"), 1u);
            connect(c.afterDue);
            d().advance(200);
        }
        EXPECT_EQ(count(c.line), 1u);
        EXPECT_FALSE(d().app->pendingAnchor());
        auto anchorsOf = [&](M m) {
            return AnchorStore::create(Monitor{m->vendor, m->model, m->serial}.identifier(),
                                       *d().env.settings, d().env.clock)
                ->anchors();
        };
        ASSERT_EQ(anchorsOf(a).size(), 1u);
        EXPECT_DOUBLE_EQ(anchorsOf(a)[0].brightness, c.brightnessOfA);
        EXPECT_EQ(anchorsOf(b).size(), c.anchorsOfB);
    }
}

TEST_F(LearningTest, ReadingsWithinTwoOfTheReferenceAreNotTheUsers) {
    d().launch();
    d().advance(5);
    d().app->userDidAdjustBrightness(50);  // the monitor reads 50
    d().advance(200);
    setMonitor(52);
    d().app->menu().activate(Id::snapshot);
    d().advance(5);
    EXPECT_EQ(count("brightness=52 userSet=false"), 1u);
    setMonitor(53);
    d().app->menu().activate(Id::snapshot);
    d().advance(5);
    EXPECT_EQ(count("external brightness change 50→53 — pending anchor"), 1u);
    EXPECT_EQ(count("brightness=53 userSet=true"), 1u);
}

TEST_F(LearningTest, ModeToggleAndRetraining) {
    d().launch();
    d().advance(5);
    // No monitor: the row does nothing and stores nothing.
    d().unplug(SimulatedDesk::monitorA);
    d().advance(1);
    d().app->toggleMode();
    EXPECT_FALSE(d().env.settings->value(d().keyPrefix() + "mode"));

    d().plug(SimulatedDesk::monitorA, d().monitor);
    d().advance(2);
    d().app->userDidAdjustBrightness(60);
    d().app->toggleMode();
    EXPECT_EQ(d().env.settings->string(d().keyPrefix() + "mode"), "adapting");
    EXPECT_FALSE(d().app->lastAppliedBrightness());
    EXPECT_EQ(title(Id::toggleMode), "Back to learning");
    EXPECT_EQ(title(Id::mode), "Mode: Adapting");
    d().advance(1);
    EXPECT_GT(d().app->scope()->model().totalWeight(), 0.0);
    d().app->toggleMode();
    EXPECT_EQ(d().env.settings->string(d().keyPrefix() + "mode"), "learning");
}

// A read of a large log may outlast the retrain timer on a fast clock: retrainings never
// stack up on the samples log's queue, and one asked for meanwhile runs after, on the newer log.
TEST_F(LearningTest, OneRetrainingAtATimeAndTheOneAskedMeanwhileFollows) {
    d().launch();
    d().advance(5);
    d().app->toggleMode();  // adapting: retrains at once
    const std::size_t reading = d().env.clock.pendingCount();
    d().app->scope()->logger().log(Sample{d().env.clock.now(), 200.0, 90, 9, true});
    d().app->toggleMode();
    d().app->toggleMode();  // adapting again, while the first is under way
    EXPECT_EQ(d().env.clock.pendingCount(), reading + 1) << "only the append was queued";
    d().advance(1);
    EXPECT_EQ(d().app->scope()->model().totalWeight(),
              BrightnessModel::train(d().samples()).totalWeight());
}

TEST_F(LearningTest, RetrainRacingAMonitorChangeStoresIntoTheOldScope) {
    d().launch();
    d().advance(5);
    auto old = d().app->scope();
    d().app->toggleMode();  // starts a retraining
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().unplug(SimulatedDesk::monitorA);
    d().advance(2);
    EXPECT_GT(old->model().totalWeight(), 0.0);
    ASSERT_TRUE(d().app->scope());
    EXPECT_NE(d().app->scope(), old);
    EXPECT_EQ(d().app->scope()->model().totalWeight(), 0.0);
}

// The same race with the log read and the training on threads of their own.
TEST_F(LearningTest, RetrainOnItsOwnThreadHandsTheModelOverOnMain) {
    restart({.realWorkerQueues = true});
    d().launch();
    for (int i = 0; i < 5; ++i) {
        d().app->menu().activate(Id::snapshot);
        d().advance(5);
    }
    auto old = d().app->scope();
    d().app->toggleMode();
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.1);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((old->model().totalWeight() == 0.0 || !d().app->scope()) &&
           std::chrono::steady_clock::now() < deadline) {
        d().advance(0.01);
    }
    EXPECT_GT(old->model().totalWeight(), 0.0);
    ASSERT_TRUE(d().app->scope());
    EXPECT_EQ(d().app->scope()->model().totalWeight(), 0.0);
}

TEST_F(MonitorChangeTest, SwapWithinSixSecondsReadsOnlyTheNewMonitorsCapabilities) {
    d().env.settings->set(d().keyPrefix(SimulatedDesk::monitorB) + "brightnessVCP",
                          std::int64_t(0x13));
    d().otherMonitor->defineRegister(0x13, 33, 100);
    d().launch();
    d().advance(3);
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(0.5);
    EXPECT_EQ(count("Monitor changed to nil"), 1u);
    EXPECT_EQ(count("Monitor changed to 00001E6D-00005B7F-00000002"), 1u);
    EXPECT_EQ(count("Brightness VCP for this monitor: 0x13"), 1u);
    d().advance(20);
    EXPECT_EQ(count("Reading capabilities…"), 1u);
    EXPECT_EQ(d().monitor->stats().capabilitiesRequests, 0);
    EXPECT_GT(d().otherMonitor->stats().capabilitiesRequests, 0);
    EXPECT_EQ(count("brightness=33 userSet=true"), 1u);  // read with its own code

    // Plugged back in: cached now, so no second read.
    d().unplug(SimulatedDesk::monitorB);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(20);
    EXPECT_EQ(count("Capabilities cached ("), 1u);
    EXPECT_EQ(count("Reading capabilities…"), 1u);
}

TEST_F(MonitorChangeTest, FailedCapabilitiesAreFlaggedUntilProbed) {
    d().monitor->setCapabilities("");
    d().launch();
    d().advance(30);
    EXPECT_EQ(count("Capabilities read failed or empty — marking unsupported"), 1u);
    EXPECT_TRUE(d().env.settings->boolean(d().keyPrefix() + "capabilitiesFailed"));
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorA, d().monitor);
    d().advance(10);
    EXPECT_EQ(count("Capabilities previously failed — skipping read"), 1u);
    d().monitor->setCapabilities("(prot(monitor)type(LCD)model(Fixed)vcp(10 12))");
    d().app->menu().activate(Id::probe);
    EXPECT_FALSE(d().env.settings->value(d().keyPrefix() + "capabilitiesFailed"));
    d().advance(10);
    EXPECT_EQ(count("Capabilities read: 2 VCPs model=Fixed"), 1u);
    auto dump = nlohmann::json::parse(d().dumpText());
    EXPECT_EQ(dump["monitor"]["capabilities"]["model"], "Fixed");
    EXPECT_EQ(dump["monitor"]["capabilities"]["supportsRGBGain"], false);
}

TEST_F(MonitorChangeTest, TwoMonitorsAreBothListed) {
    d().displays.plug(SimulatedDesk::monitorB);
    d().launch();
    EXPECT_EQ(count("Connected external screens: 2"), 1u);
    EXPECT_EQ(count("  [0] DELL U2720Q (000010AC-0000A0C5-00000001) — brightness VCP 0x10 — "
                    "managed"),
              1u);
    EXPECT_EQ(count("  [1] LG 27UL850 (00001E6D-00005B7F-00000002) — brightness VCP 0x10 — known"),
              1u);
}

TEST_F(MenuAndDumpTest, SamplesRowToggleGateAndCommands) {
    d().launch();
    d().advance(5);
    EXPECT_TRUE(hidden(Id::settingsFile));
    EXPECT_EQ(title(Id::toggleMode), "Start adapting (need 79 more samples)");
    EXPECT_FALSE(d().app->menu().row(Id::toggleMode).enabled);
    // 79 more cycles: the row opens at 80.
    for (int i = 0; i < 79; ++i) {
        d().app->menu().activate(Id::snapshot);
        d().advance(5);
    }
    EXPECT_EQ(d().app->sampleCount(), 80);
    EXPECT_EQ(title(Id::toggleMode), "Start adapting");
    EXPECT_TRUE(d().app->menu().row(Id::toggleMode).enabled);

    d().app->menu().activate(Id::revealSamples);
    d().app->menu().activate(Id::revealDump);
    d().app->menu().activate(Id::updates);
    d().app->menu().activate(Id::quit);
    ASSERT_EQ(d().desktop.revealed.size(), 2u);
    EXPECT_EQ(d().desktop.revealed[0].filename(), "samples.jsonl");
    EXPECT_EQ(d().desktop.revealed[1].filename(), "debug.json");
    EXPECT_EQ(d().updater.checks, 1);
    EXPECT_EQ(d().quits, 1);

    d().app->menu().activate(Id::preview);
    EXPECT_EQ(d().indicator.shown.back().second, 0);
    EXPECT_EQ(writes(), 0);

    d().unplug(SimulatedDesk::monitorA);
    d().advance(1);
    d().app->menu().activate(Id::revealSamples);
    EXPECT_EQ(d().desktop.revealed.size(), 2u);  // no monitor: nothing to reveal
}

// Only samples count towards adapting: lines that do not decode, a line cut short at the end
// and appends that never reached the file are no samples.
TEST_F(MenuAndDumpTest, TheCountIsOfReadableSamplesAndAppendsThatLanded) {
    Monitor a{SimulatedDesk::monitorA.vendor, SimulatedDesk::monitorA.model,
              SimulatedDesk::monitorA.serial};
    auto dir = d().env.paths.dataDir / "monitors" / a.identifier();
    std::filesystem::create_directories(dir);
    const std::string good = *SampleLogger::encodeLine(Sample{1718950000, 80, 50, 6, false});
    std::ofstream(dir / "samples.jsonl") << good << "{}\nnot json\n{\"t\":1}\n"
                                         << good << "{\"t\":";
    d().launch();
    EXPECT_EQ(d().app->sampleCount(), 2);
    EXPECT_EQ(title(Id::toggleMode), "Start adapting (need 78 more samples)");
    d().advance(5);  // the launch's snapshot lands
    EXPECT_EQ(d().app->sampleCount(), 3);
    std::filesystem::remove(dir / "samples.jsonl");
    d().app->menu().activate(Id::snapshot);
    d().advance(5);
    EXPECT_EQ(count("Sample dropped: cannot open"), 1u);
    EXPECT_EQ(d().app->sampleCount(), 3);
    EXPECT_EQ(nlohmann::json::parse(d().dumpText())["monitor"]["sampleCount"], 3);
}

// A settings file this user may not read (mode 000, or another user's) is never replaced, or
// what it holds would be lost: the log says so once and the menu shows it, with the fix.
// Changes still reach the synced copy, which reads come from first.
TEST_F(MenuAndDumpTest, ASettingsFileThatCannotBeReadIsLeftAsItIsAndShownInTheMenu) {
    const auto file = d().env.paths.configDir / "settings.json";
    writeFile(file, "{}");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    std::filesystem::create_directories(d().env.paths.syncDir);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(d().env.dir.path())) {
        [[maybe_unused]] int ignored =
            ::chown(entry.path().c_str(), AsOrdinaryUser::nobody, AsOrdinaryUser::nobody);
    }
    AsOrdinaryUser::openWayTo(file, d().env.dir.path());
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.ok());
        d().env.reopenSettings();
        d().env.settings->set("userLat", 52.5);
        d().env.reopenSettings();
        EXPECT_EQ(d().env.settings->doubleValue("userLat"), 52.5) << "kept in the synced copy";
    }
    EXPECT_EQ(readFile(file), "{}");
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".damaged.1"));
    EXPECT_EQ(count("settings.json cannot be read (open: Permission denied); using defaults and "
                    "leaving it as it is"),
              2u)
        << "once per start";
    d().launch();
    EXPECT_FALSE(hidden(Id::settingsFile));
    EXPECT_EQ(title(Id::settingsFile),
              "\u26A0\uFE0E Settings not saved — settings file " + file.string() +
                  " cannot be read (open: Permission denied). Give yourself read and write access "
                  "to it, then restart Pellora. Click to show it.");
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    d().app->menu().activate(Id::settingsFile);
    ASSERT_EQ(d().desktop.revealed.size(), 1u);
    EXPECT_EQ(d().desktop.revealed[0], file);
}

TEST_F(MenuAndDumpTest, DumpHoldsTheStateWithSortedKeys) {
    d().launch();
    auto first = nlohmann::json::parse(d().dumpText());
    EXPECT_FALSE(first.contains("lastAppliedBrightness"));
    EXPECT_EQ(first["sensorDeviceConnected"], true);
    EXPECT_EQ(first["location"]["lat"], 40.7128);
    EXPECT_EQ(first["location"]["lon"], -74.006);
    d().advance(5);
    d().app->userDidAdjustBrightness(55);
    d().advance(61);
    auto dump = nlohmann::json::parse(d().dumpText());
    EXPECT_EQ(dump["lastAppliedBrightness"], 55);
    EXPECT_EQ(dump["mode"], "learning");
    EXPECT_EQ(dump["cameraAuthorizationStatus"], "authorized");
    EXPECT_EQ(dump["sensorDevice"], "Simulated Camera");
    EXPECT_EQ(dump["monitor"]["id"], "000010AC-0000A0C5-00000001");
    EXPECT_EQ(dump["monitor"]["name"], "DELL U2720Q");
    EXPECT_EQ(dump["monitor"]["sampleCount"], 1);
    EXPECT_TRUE(dump["recentLog"].is_array());

    d().unplug(SimulatedDesk::monitorA);
    d().advance(61);
    dump = nlohmann::json::parse(d().dumpText());
    EXPECT_TRUE(dump["monitor"].is_null());
    EXPECT_EQ(dump["nextSnapshotAt"], -1);
    EXPECT_TRUE(dump["nextSnapshotAt"].is_number_integer());
}

}  // namespace
}  // namespace pellora::test
