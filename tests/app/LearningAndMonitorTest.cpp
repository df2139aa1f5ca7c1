// Learning from the user's choices, modes, retraining, monitor changes, the menu and the dump.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "AsOrdinaryUser.h"
#include "SimulatedDesk.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "model/BrightnessModel.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;
using LearningTest = DeskTest;
using MonitorChangeTest = DeskTest;
using MenuAndDumpTest = DeskTest;

TEST_F(LearningTest, SliderBurstCommitsOnlyTheLastChoiceAfterTheDwell) {
    d().session->setIdleSeconds(1000);  // away: the launch's reading starts no anchor
    d().launch(5);
    d().session->setIdleSeconds(0);
    d().camera.setScriptedLuma({200});
    d().app->userDidAdjustBrightness(40);
    d().setMonitor(40);
    d().advance(100);
    d().app->userDidAdjustBrightness(45);
    d().setMonitor(46);
    double luma = d().app->smoothedLuma();
    d().snapshot(179);  // the room brightens during the dwell
    EXPECT_EQ(d().count("anchor committed"), 0u);
    d().advance(1.5);
    const auto& anchors = d().app->scope()->anchors().anchors();
    ASSERT_EQ(anchors.size(), 1u);
    EXPECT_DOUBLE_EQ(anchors[0].brightness, 45);
    EXPECT_DOUBLE_EQ(anchors[0].luma, luma);             // of the choice, not of the brighter room
    EXPECT_NEAR(anchors[0].hour, 9.0 + 1.0 / 60, 1e-9);  // 09:01:45
    EXPECT_EQ(nlohmann::json::parse(d().dumpText())["lastAppliedBrightness"], 45);
}

TEST_F(LearningTest, PendingChoicesAreDroppedWhenTheyDoNotStand) {
    d().launch(200);
    d().app->userDidAdjustBrightness(40);
    d().setMonitor(43);
    d().advance(181);
    EXPECT_EQ(d().count("pending anchor dropped — value changed (now 43)"), 1u);

    d().app->userDidAdjustBrightness(40);
    d().session->setIdleSeconds(300);
    d().advance(181);
    EXPECT_EQ(d().count("pending anchor dropped — user not present"), 1u);

    d().session->setIdleSeconds(0);
    d().app->userDidAdjustBrightness(40);
    d().session->setLocked(true);
    d().advance(181);
    EXPECT_EQ(d().count("pending anchor dropped — user not present"), 2u);

    d().session->setLocked(false);
    d().app->userDidAdjustBrightness(40);
    d().monitor->setFault(SimulatedMonitorFault::noReply);
    d().advance(181);
    EXPECT_EQ(d().count("pending anchor dropped — value changed (now nil)"), 1u);
}

// 60 chosen on A (its curve holds 50 at that light), then the cable changes. Each row: what is
// connected in the dwell, what is plugged in once the check is due, its line, A's curve after.
TEST_F(LearningTest, APendingChoiceIsCommittedOnlyIntoItsOwnMonitor) {
    using M = const DisplayInfo*;
    M a = &SimulatedDesk::monitorA, b = &SimulatedDesk::monitorB, none = nullptr;
    const char* committed = "anchor committed: luma=97 brightness=60";
    const char* dropped = "pending anchor dropped — chosen on another monitor";
    struct Case {
        const char* name;
        std::vector<M> duringDwell;
        M afterDue;
        const char* line;
        double brightnessOfA;
    };
    for (const Case& c :
         {Case{"A→B", {b}, none, dropped, 50}, Case{"A→B→A", {b, a}, none, committed, 55},
          Case{"A→none, A back later", {none}, a, committed, 55},
          Case{"A→none, B later", {none}, b, dropped, 50}}) {
        SCOPED_TRACE(c.name);
        restart();
        d().otherMonitor->defineRegister(0x10, 60, 100);  // B happens to show the same value
        d().launch(200);
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
        d().setMonitor(60);
        d().app->userDidAdjustBrightness(60);
        d().session->setIdleSeconds(400);  // away while the cable changes: B's value is not theirs
        for (M m : c.duringDwell) {
            connect(m);
            d().advance(30);
        }
        d().session->setIdleSeconds(0);
        d().advance(200);
        if (c.afterDue) {
            EXPECT_EQ(d().count("pending anchor kept — its monitor is not connected"), 1u);
            connect(c.afterDue);
            d().advance(200);
        }
        EXPECT_EQ(d().count(c.line), 1u);
        EXPECT_FALSE(d().app->pendingAnchor());
        auto anchorsOf = [&](M m) {
            return AnchorStore::create(Monitor{m->vendor, m->model, m->serial}.identifier(),
                                       *d().env.settings, d().env.clock)
                ->anchors();
        };
        ASSERT_EQ(anchorsOf(a).size(), 1u);
        EXPECT_DOUBLE_EQ(anchorsOf(a)[0].brightness, c.brightnessOfA);
        EXPECT_TRUE(anchorsOf(b).empty());
    }
}

// In adapting mode a cycle's read is judged against what we held before its own write, and a
// change the user made with the monitor's buttons is respected, not written over.
TEST_F(LearningTest, InAdaptingTheOwnWriteIsNotTheUsersAndTheUsersChangeStands) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    // Smoothed from 128: 121 → 71, 140.75 → 80, 166.06 → 93 by the default map.
    d().camera.setScriptedLuma({100, 200, 242, 166});
    d().launch(204);  // the first cycle's read (50, nothing held yet) is dropped at its check
    ASSERT_EQ(d().monitorBrightness(), 71);

    // The room brightens: 71 → 80 is written; the read still shows our own 71.
    d().snapshot(4);
    EXPECT_EQ(d().monitorBrightness(), 80);
    ASSERT_EQ(d().samples().size(), 2u);
    EXPECT_FALSE(d().samples()[1].userSet);
    EXPECT_FALSE(d().app->pendingAnchor().has_value());

    // The user presses up to 95 with the monitor's buttons. The next cycle's target is 93,
    // but their change pauses adapting as a slider change would, and stands.
    d().monitor->pressButton(MonitorButton::brightnessUp, 15);
    d().snapshot(4);
    ASSERT_EQ(d().samples().size(), 3u);
    EXPECT_TRUE(d().samples()[2].userSet);
    EXPECT_EQ(d().monitorBrightness(), 95);
    EXPECT_EQ(d().title(Id::brightness), "Paused — resumes in 300s");
    d().env.clock.setWall(d().env.clock.now() - 3600);  // and the clock is set back an hour
    d().advance(200);
    EXPECT_EQ(d().count("anchor committed: luma=166 brightness=95"), 1u);
    d().menu.willShow();  // opened, the row counts down
    EXPECT_EQ(d().title(Id::brightness).rfind("Paused — resumes in 9", 0), 0u)
        << d().title(Id::brightness);
    // Past the pause, in the same light, the curve now holding their choice keeps it; the
    // menu says the pause is over before the next reading does.
    d().advance(200);
    d().menu.willShow();
    EXPECT_EQ(d().title(Id::brightness).rfind("Brightness → ", 0), 0u) << "still paused";
    d().snapshot(4);
    EXPECT_EQ(d().monitorBrightness(), 95);
    EXPECT_EQ(d().title(Id::brightness).rfind("Brightness → ", 0), 0u) << "still paused";
}

// A write the monitor does not take (one that answers reads but refuses a change) is not shown as
// made, and the monitor still where it was at the next reading is no choice of the user's.
TEST_F(LearningTest, AWriteTheMonitorRefusedIsNeitherShownNorTakenForTheUsers) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 200, 200});  // smoothed 121 → 71, 140.75 → 80, 155.56 → 88
    d().launch(204);
    ASSERT_EQ(d().monitorBrightness(), 71);
    d().monitor->setFault(SimulatedMonitorFault::setNak);
    d().snapshot(4);
    d().monitor->setFault(SimulatedMonitorFault::none);
    EXPECT_EQ(d().monitorBrightness(), 71);
    EXPECT_EQ(d().indicator.shown, (std::vector<std::pair<int, int>>{{71, 0}}));
    d().snapshot(4);
    EXPECT_FALSE(d().app->pendingAnchor().has_value());
    EXPECT_FALSE(d().app->paused());
    EXPECT_EQ(d().monitorBrightness(), 88);
    EXPECT_EQ(d().indicator.shown.back(), std::make_pair(88, 17));
}

// The user sets 40 while the cycle's write of 80 is on its way: its acknowledgement neither
// pops up 80 nor leaves 80 as the brightness that scripts read and step from.
TEST_F(LearningTest, AChoiceMadeWhileAWriteIsOnItsWayIsNotShownOver) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 200});  // smoothed 121 → 71, 140.75 → 80
    d().launch(204);
    d().brightnessQueue->held = true;  // the write waits its turn behind a slow exchange
    d().snapshot(5);
    d().brightnessQueue->sync([] {});  // only the cycle's read
    d().advance(0);
    ASSERT_EQ(d().count("maybeApply (adapting) writing"), 2u);
    d().app->userChoseBrightness(40);
    d().brightnessQueue->held = false;
    d().advance(5);
    EXPECT_EQ(d().monitorBrightness(), 40);
    EXPECT_EQ(d().app->remoteState().brightness, 40);
    EXPECT_EQ(d().indicator.shown, (std::vector<std::pair<int, int>>{{71, 0}}));
}

// The toggle stores the mode and, adapting, retrains at once; retrainings never stack up on the
// samples log's queue, and one asked for meanwhile runs after, on the newer log.
TEST_F(LearningTest, OneRetrainingAtATimeAndTheOneAskedMeanwhileFollows) {
    d().launch(5);
    d().app->userDidAdjustBrightness(60);
    d().app->toggleMode();  // what was last applied is no target of adapting's
    EXPECT_EQ(d().env.settings->string(d().keyPrefix() + "mode"), "adapting");
    EXPECT_FALSE(d().app->lastAppliedBrightness());
    EXPECT_EQ(d().title(Id::toggleMode), "Back to learning");
    EXPECT_EQ(d().title(Id::brightness), "Paused — resumes in 300s");
    const std::size_t reading = d().env.clock.pendingCount();
    d().app->scope()->logger().log(Sample{d().env.clock.now(), 200.0, 90, 9, true});
    d().app->toggleMode();
    EXPECT_EQ(d().env.settings->string(d().keyPrefix() + "mode"), "learning");
    EXPECT_EQ(d().title(Id::brightness), "Brightness: (learning)");
    d().app->toggleMode();  // adapting again, while the first is under way
    EXPECT_EQ(d().env.clock.pendingCount(), reading + 1) << "only the append was queued";
    d().advance(1);
    EXPECT_EQ(d().app->scope()->model().totalWeight(),
              BrightnessModel::train(d().samples()).totalWeight());
}

// A retraining racing a monitor change stores into the old scope and hands the model over on
// the main thread, with the log read and the training on the test's thread or their own.
TEST_F(LearningTest, RetrainRacingAMonitorChangeStoresIntoTheOldScope) {
    for (bool threads : {false, true}) {
        SCOPED_TRACE(threads ? "own threads" : "virtual time");
        restart({.realWorkerQueues = threads});
        // Threads of their own take real time: the desk's runs on until `done`, for 5 s at most.
        auto until = [&](auto done) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!done() && std::chrono::steady_clock::now() < deadline) {
                d().advance(0.01);
            }
        };
        d().launch();
        until([&] { return d().app->scope() && d().app->sampleCount() > 0; });
        auto old = d().app->scope();
        ASSERT_TRUE(old);
        d().app->toggleMode();  // starts a retraining
        d().plug(SimulatedDesk::monitorB, d().otherMonitor);
        d().unplug(SimulatedDesk::monitorA);
        until([&] { return old->model().totalWeight() > 0.0 && d().app->scope(); });
        EXPECT_GT(old->model().totalWeight(), 0.0);
        ASSERT_TRUE(d().app->scope());
        EXPECT_NE(d().app->scope(), old);
        EXPECT_EQ(d().app->scope()->model().totalWeight(), 0.0);
    }
}

TEST_F(MonitorChangeTest, SwapWithinSixSecondsReadsOnlyTheNewMonitorsCapabilities) {
    d().env.settings->set(d().keyPrefix(SimulatedDesk::monitorB) + "brightnessVCP",
                          std::int64_t(0x13));
    d().otherMonitor->defineRegister(0x13, 33, 100);
    d().launch(3);
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(20.5);
    EXPECT_EQ(d().count("Monitor changed to 00001E6D-00005B7F-00000002"), 1u);
    EXPECT_EQ(d().monitor->stats().capabilitiesRequests, 0);
    EXPECT_GT(d().otherMonitor->stats().capabilitiesRequests, 0);
    EXPECT_EQ(d().count("brightness=33 userSet=true"), 1u);  // read with its own code

    // Plugged back in: cached now, so no second read.
    d().unplug(SimulatedDesk::monitorB);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(20);
    EXPECT_EQ(d().count("Capabilities cached ("), 1u);
    EXPECT_EQ(d().count("Reading capabilities…"), 1u);
}

TEST_F(MonitorChangeTest, FailedCapabilitiesAreFlaggedUntilProbed) {
    d().monitor->setCapabilities("");
    d().launch(30);
    EXPECT_TRUE(d().env.settings->boolean(d().keyPrefix() + "capabilitiesFailed"));
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorA, d().monitor);
    d().advance(10);
    EXPECT_EQ(d().count("Capabilities previously failed — skipping read"), 1u);
    d().monitor->setCapabilities("(prot(monitor)type(LCD)model(Fixed)vcp(10 12))");
    d().app->menu().activate(Id::probe);
    EXPECT_FALSE(d().env.settings->value(d().keyPrefix() + "capabilitiesFailed"));
    d().advance(10);
    auto dump = nlohmann::json::parse(d().dumpText());
    EXPECT_EQ(dump["monitor"]["capabilities"]["model"], "Fixed");
    EXPECT_EQ(dump["monitor"]["capabilities"]["supportsRGBGain"], false);
}

TEST_F(MenuAndDumpTest, SamplesRowToggleGateAndCommands) {
    d().launch(5);
    EXPECT_TRUE(d().hidden(Id::settingsFile));
    EXPECT_EQ(d().title(Id::toggleMode), "Start adapting (need 79 more samples)");
    // 79 more cycles: the row opens at 80.
    for (int i = 0; i < 79; ++i) {
        d().snapshot(5);
    }
    EXPECT_EQ(d().title(Id::toggleMode), "Start adapting");
    EXPECT_TRUE(d().app->menu().row(Id::toggleMode).enabled);

    for (Id id : {Id::revealSamples, Id::revealDump, Id::updates, Id::quit}) {
        d().app->menu().activate(id);
    }
    ASSERT_EQ(d().desktop.revealed.size(), 2u);
    EXPECT_EQ(d().desktop.revealed[0].filename(), "samples.jsonl");
    EXPECT_EQ(d().desktop.revealed[1].filename(), "debug.json");
    EXPECT_EQ(d().updater.checks, 1);
    EXPECT_EQ(d().quits, 1);

    d().app->menu().activate(Id::preview);
    EXPECT_EQ(d().indicator.shown.back().second, 0);
    EXPECT_EQ(d().writes(), 0);

    d().unplug(SimulatedDesk::monitorA);
    d().advance(1);
    d().app->menu().activate(Id::revealSamples);
    EXPECT_EQ(d().desktop.revealed.size(), 2u);  // no monitor: nothing to reveal
}

// Only samples count towards adapting: lines that do not decode, a line cut short at the end
// and appends that never reached the file are no samples.
TEST_F(MenuAndDumpTest, TheCountIsOfReadableSamplesAndAppendsThatLanded) {
    auto dir = d().env.paths.dataDir / "monitors" / "000010AC-0000A0C5-00000001";
    const std::string good = *SampleLogger::encodeLine(Sample{1718950000, 80, 50, 6, false});
    writeFile(dir / "samples.jsonl", good + "{}\nnot json\n{\"t\":1}\n" + good + "{\"t\":");
    d().launch();
    EXPECT_EQ(d().title(Id::toggleMode), "Start adapting (need 78 more samples)");
    d().advance(5);  // the launch's snapshot lands
    EXPECT_EQ(d().app->sampleCount(), 3);
    std::filesystem::remove(dir / "samples.jsonl");
    d().snapshot(5);
    EXPECT_EQ(d().count("Sample dropped: cannot open"), 1u);
    EXPECT_EQ(nlohmann::json::parse(d().dumpText())["monitor"]["sampleCount"], 3);
    // The menu says so, until the file takes a sample again.
    EXPECT_EQ(d().title(Id::settingsFile),
              "\u26A0\uFE0E Samples not saved — cannot open " + (dir / "samples.jsonl").string() +
                  ": No such file or directory. Free some disk space or give yourself write "
                  "access to its folder, then restart Pellora. Click to show it.");
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    writeFile(dir / "samples.jsonl", "");
    d().snapshot(5);
    EXPECT_TRUE(d().hidden(Id::settingsFile));
}

// A settings file this user may not read is never replaced (what it holds would be lost): the
// log and the menu say so, with the fix; changes still reach the synced copy, read first.
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
    EXPECT_EQ(d().count("settings.json cannot be read (open: Permission denied); using defaults "
                        "and leaving it as it is"),
              2u)
        << "once per start";
    d().launch();
    EXPECT_EQ(d().title(Id::settingsFile),
              "\u26A0\uFE0E Settings not saved — settings file " + file.string() +
                  " cannot be read (open: Permission denied). Give yourself read and write access "
                  "to it, then restart Pellora. Click to show it.");
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    d().app->menu().activate(Id::settingsFile);
    EXPECT_EQ(d().desktop.revealed, std::vector<std::filesystem::path>{file});
}

// A write that fails (a full disk, a folder in the way) says so in the menu, with the fix, as
// the menu opens; once a later try goes through, the row goes.
TEST_F(MenuAndDumpTest, ASettingsWriteThatFailsIsShownInTheMenuUntilOneGoesThrough) {
    d().launch();
    const auto dir = d().env.paths.configDir;
    std::filesystem::remove_all(dir);
    writeFile(dir, "blocker");
    d().env.settings->set("userLat", 52.5);
    d().advance(1);
    d().app->menu().willShow();
    EXPECT_EQ(d().title(Id::settingsFile),
              "\u26A0\uFE0E Settings not saved — folder " + dir.string() +
                  " for the settings file cannot be created. Move away what is in its place, or "
                  "give yourself write "
                  "access to the folder that holds it; Pellora saves them as soon as it can. "
                  "Click to show it.");
    EXPECT_FALSE(d().hidden(Id::settingsFile));
    std::filesystem::remove(dir);
    d().advance(120);
    d().app->menu().willShow();
    EXPECT_TRUE(d().hidden(Id::settingsFile));
}

// `sudo -E pellora` (or a sudo that keeps HOME) leaves settings.json owned by root: no access
// the user can give himself opens it again, so the fix named is to take it back.
TEST_F(MenuAndDumpTest, ASettingsFileLeftToRootByASudoRunNamesTheFixThatWorks) {
    const auto file = d().env.paths.configDir / "settings.json";
    writeFile(file, "{}");
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    std::filesystem::create_directories(d().env.paths.syncDir);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(d().env.dir.path())) {
        if (entry.path() != file) {
            [[maybe_unused]] int ignored =
                ::chown(entry.path().c_str(), AsOrdinaryUser::nobody, AsOrdinaryUser::nobody);
        }
    }
    ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
    AsOrdinaryUser::openWayTo(file, d().env.dir.path());
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.ok());
        // What the row's advice comes to: the user cannot give himself access to it.
        EXPECT_NE(::chmod(file.c_str(), 0600), 0);
        d().env.reopenSettings();
    }
    EXPECT_EQ(d().count("chmod u+rw"), 0u) << "a chmod the user is not allowed";
    EXPECT_EQ(d().count("settings.json cannot be read (open: Permission denied): it belongs to "
                        "root; using defaults and leaving it as it is: changes are not saved to "
                        "it until it can be read (sudo chown nobody " +
                        file.string() + ", then restart Pellora)"),
              1u);
    d().launch();
    const std::string row = d().title(Id::settingsFile);
    EXPECT_EQ(row.find("Give yourself read and write access"), std::string::npos) << row;
    EXPECT_NE(row.find("belongs to root"), std::string::npos) << row;
    EXPECT_NE(row.find("sudo chown"), std::string::npos) << row;
}

// `pellora ctl up 10` bound to a key, pressed just after the desk's cable moved from A (at 50)
// to B (at 70): B goes from its own brightness, and none is reported while none is connected.
TEST_F(MonitorChangeTest, AStepRightAfterASwapGoesFromTheNewMonitorsBrightness) {
    d().launch(5);
    ASSERT_EQ(d().app->remoteState().brightness, 50);
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.1);
    EXPECT_EQ(d().app->remoteState().brightness, -1);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(0.1);
    ASSERT_TRUE(d().app->scope());
    std::optional<RemoteOutcome> answer;
    d().app->remoteStepBrightness(10, [&](RemoteOutcome outcome) { answer = outcome; });
    d().advance(0.5);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(*answer);
    EXPECT_EQ(d().otherMonitor->vcpRegister(0x10)->current, 80);

    // Suspended a night within seconds of that step, B's buttons turned it to 40: the next
    // step goes from what B says now.
    d().otherMonitor->defineRegister(0x10, 40, 100);
    d().env.clock.setWall(d().env.clock.now() + 8 * 3600);
    d().app->remoteStepBrightness(10, [](RemoteOutcome) {});
    d().advance(0.5);
    EXPECT_EQ(d().otherMonitor->vcpRegister(0x10)->current, 50);
}

// Brightness keys pressed while the bus hangs: each script gave up after two seconds, so an
// hour later, when the bus answers again, the monitor must not jump by all of them at once.
TEST_F(MonitorChangeTest, StepsAskedOfAHungBusAreNotAppliedWhenItComesBack) {
    d().launch(5);
    d().advance(11);  // what was read is no longer fresh: a step reads first
    d().brightnessQueue->held = true;
    std::vector<RemoteOutcome> answers;
    for (int i = 0; i < 4; ++i) {
        d().app->remoteStepBrightness(5,
                                      [&](RemoteOutcome outcome) { answers.push_back(outcome); });
        d().advance(1);
    }
    d().advance(3600);
    // One asked now is told at once that the monitor does not answer.
    d().app->remoteStepBrightness(5, [&](RemoteOutcome outcome) { answers.push_back(outcome); });
    d().advance(0.1);
    EXPECT_EQ(answers.size(), 1u);
    d().brightnessQueue->held = false;
    d().advance(1);
    EXPECT_EQ(d().monitorBrightness(), 50);
    ASSERT_EQ(answers.size(), 5u);
    for (const auto& outcome : answers) {
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->kind, RemoteRefusal::Kind::noMonitor);
    }
}

// The bus busy for a few seconds (another program holds it, a capabilities read is on it):
// each `pellora ctl up 5` said "did not answer within 2 s" and exited 1, so the monitor must
// not step by all of them once the bus is free, and the user, told nothing happened, presses
// again.
TEST_F(MonitorChangeTest, StepsAnsweredAfterTheScriptGaveUpAreNotApplied) {
    d().launch(5);
    d().advance(11);  // what was read is no longer fresh: a step reads first
    d().brightnessQueue->held = true;
    std::vector<RemoteOutcome> answers;
    for (int i = 0; i < 3; ++i) {
        d().app->remoteStepBrightness(5,
                                      [&](RemoteOutcome outcome) { answers.push_back(outcome); });
        d().advance(1);
    }
    d().advance(2);
    d().brightnessQueue->held = false;
    d().advance(1);
    EXPECT_EQ(d().monitorBrightness(), 50);
    ASSERT_EQ(answers.size(), 3u);
    for (const auto& outcome : answers) {
        EXPECT_TRUE(outcome) << "answered done long after the script gave up";
    }
    // With the bus free again a step goes through at once.
    d().app->remoteStepBrightness(5, [&](RemoteOutcome outcome) { answers.push_back(outcome); });
    d().advance(0.5);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_FALSE(answers.back());
    EXPECT_EQ(d().monitorBrightness(), 55);
}

// A read of A still on the bus when the cable moves to B fails, since A is gone: that says
// nothing of B, which was never asked. Without the camera no cycle reads B soon after, so a
// warning raised by A's read would stay up.
TEST_F(MonitorChangeTest, AReadOfTheOldMonitorFailingAfterASwapDoesNotWarnAboutTheNew) {
    restart({.cameraStatus = CameraAuthorization::denied});
    d().launch(5);
    d().advance(11);  // what was read is no longer fresh: a step reads first
    d().brightnessQueue->held = true;
    d().app->remoteStepBrightness(5, [](RemoteOutcome) {});
    d().unplug(SimulatedDesk::monitorA);
    d().advance(0.5);
    d().plug(SimulatedDesk::monitorB, d().otherMonitor);
    d().advance(0.1);
    ASSERT_TRUE(d().app->scope());
    d().brightnessQueue->held = false;
    d().advance(600);
    EXPECT_EQ(d().otherMonitor->stats().getRequests, 0) << "B was not asked anything";
    EXPECT_TRUE(d().hidden(Id::monitorAccess)) << d().title(Id::monitorAccess);
}

}  // namespace
}  // namespace pellora::test
