// The snapshot cycle on the simulated desk: its schedule, the camera's health, the session's
// locks and wakes, adapting mode's writes, and following the room closely.

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "SimulatedDesk.h"
#include "app/SnapshotPolicy.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;
using SnapshotCycleTest = DeskTest;
using ::testing::HasSubstr;
using ::testing::StartsWith;
constexpr const char* requesting = "takeSnapshot requesting frame…";

TEST_F(SnapshotCycleTest, ScheduleFollowsTheSunAndTheStoredPlace) {
    // New York's sunrise on 2024-06-21 is at 09:25 UTC: the first cycle at 09:00 is near it.
    d().launch(5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), d().options.startWall + 2 + 1200);
    EXPECT_EQ(d().title(Id::samples), "Samples: 1 · next 09:20 (20m)");
    // At noon New York is far from both.
    d().advance(3 * 3600);
    double next = d().app->nextSnapshotAt();
    d().advance(next - d().env.clock.now() + 5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), next + 3600);

    // At 00:40 UTC New York saw sunset nine minutes ago, Perth sunrise 84 minutes ago: the
    // stored place, not the default one, sets the cadence.
    restart({.startWall = 1719016800.0});
    d().env.settings->set("userLat", -31.95);
    d().env.settings->set("userLon", 115.86);
    d().launch(5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), d().options.startWall + 2 + 3600);
}

// A clock that ran in local time, put right by NTP just after login: the menu tells the next
// snapshot on the clock as it reads now, not half an hour off until that snapshot comes.
TEST_F(SnapshotCycleTest, TheNextSnapshotShownFollowsAClockSetRight) {
    d().launch(5);
    ASSERT_EQ(d().title(Id::samples), "Samples: 1 · next 09:20 (20m)");
    d().env.clock.setWall(d().env.clock.now() - 1800);
    d().app->menu().willShow();
    EXPECT_EQ(d().title(Id::samples), "Samples: 1 · next 08:50 (20m)");
    EXPECT_NEAR(d().app->remoteState().nextSnapshot - d().env.clock.now(), 1197, 1);
}

TEST_F(SnapshotCycleTest, FailedReadingsTellTheCameraHealth) {
    d().launch();
    d().camera.setFault(SimulatedCameraFault::noFrames);
    d().advance(10);
    EXPECT_EQ(d().title(Id::lastSample), "Last snapshot: failed");
    // The monitor is managed even with no reading yet: its row is not the idle one.
    EXPECT_EQ(d().title(Id::brightness), "Brightness: (learning)");
    EXPECT_THAT(d().title(Id::camera),
                StartsWith("\u26A0\uFE0E Camera \"Simulated Camera\" is connected"));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    EXPECT_TRUE(d().samples().empty());
    EXPECT_DOUBLE_EQ(d().app->smoothedLuma(), 128.0);
    EXPECT_EQ(nlohmann::json::parse(d().dumpText())["cameraHealth"], "notResponding");

    d().camera.setPresent(false);
    d().app->menu().activate(Id::camera);  // "Click to retry"
    d().advance(10);
    EXPECT_THAT(d().title(Id::camera), StartsWith("\u26A0\uFE0E No camera detected"));

    d().camera.setPresent(true);
    d().cameraAccess->setStatus(CameraAuthorization::denied);
    d().app->menu().activate(Id::cameraDiagnostics);  // looks afresh: now denied
    d().advance(0.1);
    d().app->menu().activate(Id::camera);
    d().advance(10);
    EXPECT_EQ(d().app->cameraHealth(), CameraHealth::permissionDenied);

    d().cameraAccess->setStatus(CameraAuthorization::authorized);
    d().camera.setFault(SimulatedCameraFault::none);
    d().snapshot(10);
    EXPECT_TRUE(d().hidden(Id::camera));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
}

// A video call holds the camera: the reading is skipped without calling the camera broken,
// the user is told once, and the first reading after the call measures again.
TEST_F(SnapshotCycleTest, ACameraInUseByACallIsLeftAloneAndNotCalledBroken) {
    d().launch(5);
    d().camera.setFault(SimulatedCameraFault::inUse);
    for (int i = 0; i < 3; ++i) {
        d().snapshot(10);
    }
    EXPECT_TRUE(d().hidden(Id::camera));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
    EXPECT_EQ(d().title(Id::lastSample),
              "Last snapshot: skipped — the camera is in use by another app");
    EXPECT_EQ(d().count("\"Simulated Camera\" is in use by another program"), 1u);
    d().camera.setFault(SimulatedCameraFault::none);
    d().snapshot(10);
    EXPECT_THAT(d().title(Id::lastSample), StartsWith("Last snapshot: 09:"));
}

// A closed privacy shutter is no dark room: nothing is logged or written, and the menu says why.
TEST_F(SnapshotCycleTest, AClosedPrivacyShutterIsNoDarkRoom) {
    d().launch(5);
    d().camera.setScriptedPlane(8, 8, 8, std::vector<std::uint8_t>(64, 0));
    d().snapshot(10);
    EXPECT_EQ(d().title(Id::lastSample),
              "Last snapshot: failed — the camera sees only black (its privacy shutter closed, "
              "or the lens covered?)");
    EXPECT_EQ(d().samples().size(), 1u);  // the launch's
    EXPECT_TRUE(d().hidden(Id::camera));
}

// The monitor may come back from suspend at another brightness: the wake measures, as an
// unlock does, and a wake with an unlock soon after measures once. Locked, nothing is read.
TEST_F(SnapshotCycleTest, AWakeFromSuspendMeasuresOnceWithItsUnlock) {
    // Steps: r(esume), l(ock) or u(nlock), each with the seconds to let pass after it, or s(leep)
    // for that many seconds of wall clock. Each reading holds the sensor's queue for the
    // camera's 0.7 s warm-up, on virtual time.
    const struct {
        const char* name;
        const char* steps;
        std::size_t snapshots;
        const char* line;
        bool granted = true;
        std::size_t lines = 1;
    } cases[] = {
        {"awake and unlocked", "r1", 1, "Resumed from suspend — taking a snapshot"},
        {"locked through the sleep", "l60 r30 u1", 1,
         "Resumed from suspend with the screen locked — the snapshot waits for unlock"},
        {"unlocked seconds after the wake", "r1 l2 u1", 1,
         "No second snapshot at unlock: one was taken 4 s ago, at resume"},
        {"unlocked long after the wake", "r1 l20 u1", 2,
         "Screen unlocked — resuming camera sampling"},
        // A lock told twice pauses once; an unlock told twice measures once.
        {"locked for an hour, each told twice", "l1 l3600 u1 u1", 1,
         "Screen locked — pausing camera sampling"},
        {"camera not granted", "r1", 0, "Resumed from suspend (camera not granted: no snapshot)",
         false},
        // The lid shut again seconds after a wake, and opened the next morning: the seconds the
        // machine slept count as time gone by.
        {"a second wake hours later", "r3 s28800 r1", 2, "No second snapshot at resume", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart({.cameraStatus = c.granted ? CameraAuthorization::authorized
                                           : CameraAuthorization::notDetermined});
        d().launch(5);
        const std::size_t before = d().count(requesting);
        double lastSnapshotAt = 0, then = 0;
        std::istringstream steps(c.steps);
        for (char event; steps >> event >> then;) {
            if (event == 's') {
                d().env.clock.setWall(d().env.clock.now() + then);
                continue;
            }
            if (event == 'r') {
                d().session->resume();
            } else {
                d().session->setLocked(event == 'l');
            }
            d().advance(0.01);
            if (d().count(requesting) > before && lastSnapshotAt == 0) {
                lastSnapshotAt = d().env.clock.now() - 0.01;
            }
            d().advance(then);
        }
        EXPECT_EQ(d().count(requesting) - before, c.snapshots);
        EXPECT_EQ(d().count(c.line), c.lines);
        if (c.snapshots > 0) {
            // The next one counts from the wake's measurement, not from before the sleep.
            EXPECT_GT(d().app->nextSnapshotAt(), lastSnapshotAt + 1199);
        }
    }
}

TEST_F(SnapshotCycleTest, AdaptingWritesOnlyWhenTheTargetMovesByThree) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 117, 88});
    d().launch(5);  // smoothed 121 → 71, the first write whatever the target
    EXPECT_EQ(d().monitorBrightness(), 71);
    EXPECT_EQ(d().indicator.shown, (std::vector<std::pair<int, int>>{{71, 0}}));
    d().snapshot(5);  // 120 → 70: under 3 from 71
    EXPECT_EQ(d().writes(), 1);
    EXPECT_EQ(d().title(Id::brightness), "Brightness → 70");
    d().snapshot(5);  // 112 → 66: 5 from 71
    EXPECT_EQ(d().writes(), 2);
    EXPECT_EQ(d().indicator.shown.back(), std::make_pair(66, -5));
    // Every cycle read once; no cycle wrote twice.
    EXPECT_EQ(d().reads(), 3);
}

// A monitor asleep (DPMS off) while the user is away answers nothing. Nothing is written blind
// into it, so the value it still shows when it wakes is not taken for a choice of the user's.
TEST_F(SnapshotCycleTest, AMonitorAsleepIsNotWrittenBlindAndItsWakeIsNoChoice) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 20, 20});
    d().launch(5);
    ASSERT_EQ(d().monitorBrightness(), 71);
    d().monitor->setFault(SimulatedMonitorFault::writeNak);  // asleep: every exchange refused
    d().snapshot(5);
    EXPECT_EQ(d().count("maybeApply (adapting) writing"), 1u);
    d().monitor->setFault(SimulatedMonitorFault::none);  // awake again, still at 71
    d().snapshot(5);
    EXPECT_FALSE(d().samples().back().userSet);
    EXPECT_EQ(d().count("maybeApply (adapting) writing"), 2u);
    EXPECT_LT(d().monitorBrightness(), 71);
}

// A monitor still waking when the wake's reading comes refuses its first exchanges: it is
// asked again a few seconds on, so the wake still sets what the room needs.
TEST_F(SnapshotCycleTest, AMonitorStillWakingIsAskedAgainAfterTheWake) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 20});
    d().launch(5);
    ASSERT_EQ(d().monitorBrightness(), 71);
    d().monitor->setFault(SimulatedMonitorFault::writeNak, 2);  // a get and its retry
    d().session->resume();
    d().advance(15);
    EXPECT_EQ(d().samples().size(), 2u);
    EXPECT_LT(d().monitorBrightness(), 71);
}

// A bus that hangs for hours (a stuck driver, a wedged hub) collects no reads to answer all at
// once when it is back, each logged with the light of hours before.
TEST_F(SnapshotCycleTest, AHungBusCollectsNoReadsToReplayLater) {
    d().camera.setScriptedLuma({40});
    d().launch(600);
    d().brightnessQueue->held = true;
    d().advance(6 * 3600);
    const double back = d().env.clock.now();
    auto loggedSinceBack = [&] {
        return std::ranges::count_if(d().samples(), [&](const Sample& s) { return s.t >= back; });
    };
    d().brightnessQueue->held = false;
    d().advance(1);
    EXPECT_EQ(loggedSinceBack(), 0);
    EXPECT_GE(d().count("DDC brightness read still under way — sample NOT logged"), 4u);
    EXPECT_EQ(d().count("DDC brightness read answered late — sample NOT logged"), 1u);
    // Held for seconds (another program's exchange), the bus is no hung one: each sample comes.
    d().brightnessQueue->held = true;
    d().snapshot(5);
    d().snapshot(5);
    d().brightnessQueue->held = false;
    d().advance(1);
    EXPECT_EQ(loggedSinceBack(), 2);
}

TEST_F(SnapshotCycleTest, MonitorAnsweringGarbageLogsNoSamplesAndSaysSoInTheMenu) {
    d().monitor->setFault(SimulatedMonitorFault::garbage);
    d().launch(3 * 3600);
    EXPECT_GE(d().count("DDC brightness read returned nil — sample NOT logged"), 3u);
    EXPECT_EQ(d().count("may still be waking"), 0u) << "no wake: nothing to ask again";
    EXPECT_TRUE(d().samples().empty());
    EXPECT_THAT(d().title(Id::monitorAccess),
                StartsWith("\u26A0\uFE0E Monitor not answering over DDC/CI"));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);

    // The channel cannot even be opened: the row names the platform's fix.
    d().channelProblem = "Permission denied opening /dev/i2c-7: add yourself to the i2c group";
    d().snapshot(5);
    EXPECT_THAT(d().title(Id::monitorAccess), HasSubstr("add yourself to the i2c group"));

    // Fixed: a retry from the row clears it.
    d().channelProblem.reset();
    d().monitor->setFault(SimulatedMonitorFault::none);
    d().app->menu().activate(Id::monitorAccess);
    d().advance(1);
    EXPECT_TRUE(d().hidden(Id::monitorAccess));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
}

// A pause after the user's own change lasts five minutes of their time, sleep included: the
// wake's reading next morning is applied, not held off by what is left of last night's pause.
TEST_F(SnapshotCycleTest, APauseRunsOutWhileTheMachineSleeps) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100});
    d().launch(5);  // smoothed 121 → 71
    ASSERT_EQ(d().monitorBrightness(), 71);
    d().app->userChoseBrightness(30);
    d().advance(1);
    ASSERT_EQ(d().monitorBrightness(), 30);
    d().env.clock.setWall(d().env.clock.now() + 8 * 3600);  // suspended overnight
    EXPECT_FALSE(d().app->paused());
    EXPECT_EQ(d().app->remoteState().pausedUntil, -1);
    d().session->resume();
    d().advance(5);
    EXPECT_EQ(d().title(Id::brightness).rfind("Brightness → ", 0), 0u) << d().title(Id::brightness);
    EXPECT_NE(d().monitorBrightness(), 30);
}

// "Follow the room closely": readings every ten minutes while the user is at the desk, the
// usual cadence while away, and a filter that forgets stale light.
struct FollowRoomTest : DeskTest {
    // Noon in New York, far from sunrise and sunset: the usual cadence is 60 minutes.
    void follow(int readingsPerDay) {
        restart({.startWall = 1718985600.0, .closeReadingsPerDay = readingsPerDay});
        d().env.settings->setForThisMachine("followRoomClosely", true);
    }
    void SetUp() override { follow(SnapshotPolicy::closeDailyReadings); }
    int readings() { return d().camera.stats().starts; }
    double nextIn() { return d().app->nextSnapshotAt() - d().env.clock.now(); }
    std::string cadence() {
        return d().title(Id::samples).substr(d().title(Id::samples).size() - 5);
    }
};

TEST_F(FollowRoomTest, EveryTenMinutesAtTheDeskTheUsualCadenceAway) {
    d().launch(5);
    EXPECT_EQ(d().title(Id::samples), "Samples: 1 · next 16:10 (10m)");
    d().advance(3600);
    EXPECT_EQ(readings(), 7);  // 16:00, then every 600 s

    // Away, still unlocked: checks every ten minutes, reads once the usual 60 minutes have passed.
    d().session->setIdleSeconds(400);
    double last = d().app->lastSampleAt();
    d().advance(nextIn() + 1);  // the check that finds them gone
    EXPECT_EQ(readings(), 7);
    EXPECT_EQ(cadence(), "(60m)");
    EXPECT_NEAR(d().app->nextSnapshotAt(), last + 3600, 1);
    d().advance(last + 3600 - d().env.clock.now() - 10);
    EXPECT_EQ(readings(), 7);
    d().advance(20);
    EXPECT_EQ(readings(), 8);

    // Back at the desk: seen at the next check, at most ten minutes on, and read at once.
    d().advance(120);
    d().session->setIdleSeconds(0);
    d().advance(600);
    EXPECT_EQ(readings(), 9);
    EXPECT_EQ(cadence(), "(10m)");

    // Locked: the due readings are skipped at the usual cadence, not every ten minutes.
    d().session->setLocked(true);
    d().advance(0.1);
    std::size_t skipped = d().count("takeSnapshot skipped (screen locked)");
    d().advance(2 * 3600);
    EXPECT_EQ(readings(), 9);
    EXPECT_EQ(d().count("takeSnapshot skipped (screen locked)") - skipped, 2u);
}

// Away while NTP sets the clock back two hours: the usual reading comes an hour after the
// last one all the same, not three.
TEST_F(FollowRoomTest, AClockSetBackHoldsNoUsualReadingBack) {
    d().launch(5);
    d().session->setIdleSeconds(400);
    d().env.clock.setWall(d().env.clock.now() - 2 * 3600);
    d().advance(3600);
    EXPECT_EQ(readings(), 2);
}

// Readings ten minutes apart stand almost alone, one seconds after another is smoothed
// against it; turned off, the usual cadence and smoothing come back.
TEST_F(FollowRoomTest, TheFilterForgetsStaleLightUntilTurnedOff) {
    d().camera.setScriptedLuma({40, 200, 100, 100});
    d().launch(5);
    EXPECT_NEAR(d().app->smoothedLuma(), 40, 0.05);  // no blend with a made-up start value
    auto weightOfNext = [&](double advance, double reading) {
        double before = d().app->smoothedLuma(), at = d().app->lastSampleAt();
        d().advance(advance);
        double since = d().app->lastSampleAt() - at;
        EXPECT_NEAR((d().app->smoothedLuma() - before) / (reading - before),
                    -std::expm1(-since / SnapshotPolicy::forgetSeconds), 1e-3)
            << since;
        return since;
    };
    EXPECT_DOUBLE_EQ(weightOfNext(600, 200), 600);
    d().app->menu().activate(Id::snapshot);
    EXPECT_LT(weightOfNext(5, 100), 5);

    d().app->setFollowRoomClosely(false);
    EXPECT_DOUBLE_EQ(nextIn(), 3600);
    EXPECT_EQ(d().title(Id::samples), "Samples: 3 · next 17:10 (60m)");
    double smoothed = d().app->smoothedLuma();
    d().advance(3605);
    EXPECT_EQ(readings(), 4);
    EXPECT_NEAR(d().app->smoothedLuma(), 0.25 * 100 + 0.75 * smoothed, 0.05);
}

// In adapting mode the brightness is written for the light the room is heading to while it
// keeps moving one way; samples keep the light measured.
TEST_F(FollowRoomTest, AdaptingWritesAheadOfASteadyRise) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 116, 132, 135});
    d().launch(5);
    d().advance(1200);
    EXPECT_NEAR(d().app->smoothedLuma(), 132, 0.1);
    EXPECT_EQ(d().monitorBrightness(), 80);  // the default map at 140, not at 132 (76)
    d().snapshot(5);  // seconds later the camera's noise is no rate to lead by
    EXPECT_EQ(d().monitorBrightness(), 80);
}

// A morning choice outweighs the night curve at 7:30 only while the room is followed closely
// (a first reading of 128 is the smoothed light either way).
TEST_F(FollowRoomTest, AdaptingHeedsMorningChoicesOnlyWhileFollowing) {
    for (bool on : {true, false}) {
        restart({.startWall = 1718955000.0});  // 7:30
        d().env.settings->setForThisMachine("followRoomClosely", on);
        d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
        const double t = d().env.clock.now();
        const auto anchors =
            AnchorStore::encode({{170, 90, 12, t, 5}, {170, 30, 23, t, 5}, {128, 80, 7.5, t, 2.5}});
        d().env.settings->set(d().keyPrefix() + "anchorsV1", Bytes{*anchors});
        d().camera.setScriptedLuma({128});
        d().launch(5);
        EXPECT_EQ(d().monitorBrightness(), on ? 59 : 38) << on;
    }
}

// Following, a choice made after sunset from 21:00 is learnt for the night, as the value the
// fade needs to show it; with the sun still up, or not following, it is a day anchor.
TEST_F(FollowRoomTest, AnEveningChoiceAfterSunsetIsLearntForTheNight) {
    // Following, latitude, longitude, then the hour and brightness of the choice's anchor. Not
    // following, the usual smoothing starts from its made-up value: the light is 111, near
    // the day anchor's, and merges into it.
    const std::tuple<bool, double, double, double, double> cases[] = {
        {true, 51.5, -0.13, 22.0, 20.7}, {true, 40.7, -74.0, 21.5, 30}, {false, 51.5, 0, 21.5, 55}};
    for (const auto& [follow, lat, lon, hour, brightness] : cases) {
        restart({.startWall = 1719005400.0});  // 21:30 UTC, the desk's zone: after London's sunset
        d().env.settings->setForThisMachine("followRoomClosely", follow);
        d().env.settings->set("userLat", lat);
        d().env.settings->set("userLon", lon);
        const double t = d().env.clock.now();
        d().env.settings->set(d().keyPrefix() + "anchorsV1",
                              Bytes{*AnchorStore::encode({{100, 80, 12, t, 5}})});
        d().camera.setScriptedLuma({60});
        d().launch(5);
        d().app->userDidAdjustBrightness(30);
        d().setMonitor(30);
        d().advance(181);
        const auto& anchors = d().app->scope()->anchors().anchors();
        auto choice = std::find_if(anchors.begin(), anchors.end(),
                                   [](const Anchor& a) { return a.hour != 12; });
        ASSERT_NE(choice, anchors.end()) << lon;
        EXPECT_NEAR(choice->hour, hour, 0.01) << lon;
        EXPECT_NEAR(choice->brightness, brightness, 0.05) << lon;
    }
}

// Adapting, a change made with the monitor's buttons is measured within the minute while the
// room is followed and the user is there, so its anchor has the light and hour it was made at.
// A reading that failed is not asked for again for the same change; the next change is measured.
TEST_F(FollowRoomTest, AButtonChangeAtTheDeskIsMeasuredWithinTheMinute) {
    const struct {
        const char* name;
        bool follow;
        double idle;
        int pressed;
        bool cameraFails;
        double launchFor;
        int readings;  // in the minute after the press
        int later;     // four minutes on (in the first, the first row presses again)
    } rows[] = {
        {"pressed at the desk", true, 0, 15, false, 204, 1, 2},
        {"not pressed", true, 0, 0, false, 204, 0, 0},
        {"pressed while away", true, 400, 15, false, 204, 0, 0},
        {"turned off", false, 0, 15, false, 204, 0, 0},
        {"the reading fails", true, 0, 15, true, 204, 1, 1},
        // The first read (50, nothing held yet) is pending until its check at 183 s.
        {"pressed while a choice is pending", true, 0, 15, false, 5, 0, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        follow(SnapshotPolicy::closeDailyReadings);
        d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
        d().camera.setScriptedLuma({100, 160});
        d().launch(row.launchFor);
        d().app->setFollowRoomClosely(row.follow);
        const int before = readings();
        const double pressedAt = d().env.clock.now();
        d().session->setIdleSeconds(row.idle);
        d().monitor->pressButton(MonitorButton::brightnessUp, row.pressed);
        d().camera.setFault(row.cameraFails ? SimulatedCameraFault::noFrames
                                            : SimulatedCameraFault::none);
        d().advance(61);
        EXPECT_EQ(readings() - before, row.readings);
        if (row.readings && !row.cameraFails) {
            // The light just measured (the first reading's 100 mostly forgotten), not the last.
            ASSERT_TRUE(d().app->pendingAnchor());
            EXPECT_GT(d().app->pendingAnchor()->luma, 130);
            EXPECT_LE(d().app->pendingAnchor()->since - pressedAt, 61);
            d().monitor->pressButton(MonitorButton::brightnessDown, 10);
        }
        d().advance(240);
        EXPECT_EQ(readings() - before, row.later);
    }
}

// A long day at the desk spreads the week's budget: a week on, with part of that day still in
// the window, the desk is read less often than every ten minutes, and the menu says so.
TEST_F(FollowRoomTest, TheBudgetIsSpreadOverTheWeeksTimeAtTheDesk) {
    follow(2);  // 14 readings a week
    d().launch(5);
    d().advance(6 * 3600);
    d().session->setLocked(true);
    d().advance(60);
    d().env.clock.setWall(d().env.clock.now() + 7 * 86400 - 4 * 3600);  // asleep since
    d().session->setLocked(false);
    d().advance(1);
    // About four of those six hours still in the window, and 14 readings to spread over them.
    EXPECT_EQ(cadence(), "(16m)");
    EXPECT_NEAR(nextIn(), 4 * 3600 / 14.0, 100);
}

// Readings by hand count too, those a video call refused do not; the week's budget spent, the
// desk gets the usual cadence back.
TEST_F(FollowRoomTest, ASpentBudgetGivesWayToTheUsualCadence) {
    follow(2);
    d().launch(5);
    d().camera.setFault(SimulatedCameraFault::inUse);
    for (int i = 0; i < 14; ++i) {
        d().snapshot(1);
    }
    d().camera.setFault(SimulatedCameraFault::none);
    EXPECT_EQ(cadence(), "(10m)");
    while (readings() < 14) {
        d().snapshot(1);
    }
    EXPECT_EQ(cadence(), "(60m)");
    d().advance(3000);
    EXPECT_EQ(readings(), 14);
    d().advance(700);
    EXPECT_EQ(readings(), 15);  // the usual cadence's
}

}  // namespace
}  // namespace pellora::test
