// The snapshot cycle and adapting mode on the simulated desk.

#include <nlohmann/json.hpp>

#include "ControllerFixture.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;
using SnapshotCycleTest = ControllerFixture;

TEST_F(SnapshotCycleTest, ScheduleFollowsTheSunAndTheStoredPlace) {
    // New York's sunrise on 2024-06-21 is at 09:25 UTC: the first cycle at 09:00 is near it.
    d().launch();
    d().advance(5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), d().options.startWall + 2 + 1200);
    EXPECT_EQ(title(Id::samples), "Samples: 1 · next 09:20 (20m)");
    // At noon New York is far from both.
    d().advance(3 * 3600);
    double next = d().app->nextSnapshotAt();
    d().advance(next - d().env.clock.now() + 5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), next + 3600);

    // Perth's sunset that day is 09:20 UTC.
    restart({});
    d().env.settings->set("userLat", -31.95);
    d().env.settings->set("userLon", 115.86);
    d().launch();
    d().advance(5);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), d().options.startWall + 2 + 1200);
}

TEST_F(SnapshotCycleTest, FailedReadingsTellTheCameraHealth) {
    d().launch();
    d().camera.setFault(SimulatedCameraFault::noFrames);
    d().advance(10);
    EXPECT_EQ(count("Snapshot FAILED (nil luma) — camera health: notResponding"), 1u);
    EXPECT_EQ(title(Id::lastSample), "Last snapshot: failed");
    EXPECT_EQ(title(Id::camera).rfind("\u26A0\uFE0E Camera \"Simulated Camera\" is connected", 0),
              0u);
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    EXPECT_TRUE(d().samples().empty());
    EXPECT_DOUBLE_EQ(d().app->smoothedLuma(), 128.0);
    EXPECT_EQ(nlohmann::json::parse(d().dumpText())["cameraHealth"], "notResponding");

    d().camera.setPresent(false);
    d().app->menu().activate(Id::camera);  // "Click to retry"
    d().advance(10);
    EXPECT_EQ(count("camera health: noDevice"), 1u);
    EXPECT_EQ(title(Id::camera).rfind("\u26A0\uFE0E No camera detected", 0), 0u);

    d().camera.setPresent(true);
    d().cameraAccess->setStatus(CameraAuthorization::denied);
    d().app->menu().activate(Id::cameraDiagnostics);  // looks afresh: now denied
    d().advance(0.1);
    d().app->menu().activate(Id::camera);
    d().advance(10);
    EXPECT_EQ(count("camera health: permissionDenied"), 1u);

    d().cameraAccess->setStatus(CameraAuthorization::authorized);
    d().camera.setFault(SimulatedCameraFault::none);
    d().app->menu().activate(Id::snapshot);
    d().advance(10);
    EXPECT_EQ(d().app->cameraHealth(), CameraHealth::ok);
    EXPECT_TRUE(hidden(Id::camera));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
}

TEST_F(SnapshotCycleTest, SnapshotNowTwiceLeavesOneChainAndLocksPause) {
    d().launch();
    d().advance(5);
    d().app->menu().activate(Id::snapshot);
    d().advance(0.5);
    d().app->menu().activate(Id::snapshot);
    double second = d().env.clock.now();
    d().advance(5);
    EXPECT_EQ(count("takeSnapshot requesting frame…"), 3u);
    EXPECT_DOUBLE_EQ(d().app->nextSnapshotAt(), second + 1200);
    d().advance(1300);
    EXPECT_EQ(count("takeSnapshot requesting frame…"), 4u);

    d().session->setLocked(true);
    d().session->setLocked(true);
    d().advance(3600);
    EXPECT_EQ(count("Screen locked — pausing camera sampling"), 1u);
    EXPECT_GE(count("takeSnapshot skipped (screen locked)"), 1u);
    std::size_t before = count("takeSnapshot requesting frame…");
    d().session->setLocked(false);
    d().advance(0.1);
    EXPECT_EQ(count("Screen unlocked — resuming camera sampling"), 1u);
    EXPECT_EQ(count("takeSnapshot requesting frame…"), before + 1);
    d().session->setLocked(false);
    d().advance(0.1);
    EXPECT_EQ(count("Screen unlocked"), 1u);
}

// The monitor may come back from suspend at another brightness: the wake measures, as an
// unlock does, and a wake with an unlock soon after measures once.
TEST_F(SnapshotCycleTest, AWakeFromSuspendMeasuresOnceWithItsUnlock) {
    enum class Event { lock, unlock, resume };
    struct Step {
        Event event;
        double then;  // seconds to let pass after it
    };
    struct Case {
        const char* name;
        CameraAuthorization camera;
        std::vector<Step> steps;
        std::size_t snapshots;
        const char* line;
    };
    const auto ok = CameraAuthorization::authorized;
    // Each reading holds the sensor's queue for the camera's 0.7 s warm-up, on virtual time.
    const Case cases[] = {
        {"awake and unlocked",
         ok,
         {{Event::resume, 1}},
         1,
         "Resumed from suspend — taking a snapshot"},
        {"locked through the sleep",
         ok,
         {{Event::lock, 60}, {Event::resume, 30}, {Event::unlock, 1}},
         1,
         "Resumed from suspend with the screen locked — the snapshot waits for unlock"},
        {"unlocked seconds after the wake",
         ok,
         {{Event::resume, 1}, {Event::lock, 2}, {Event::unlock, 1}},
         1,
         "No second snapshot at unlock: one was taken 4 s ago, at resume"},
        {"unlocked long after the wake",
         ok,
         {{Event::resume, 1}, {Event::lock, 20}, {Event::unlock, 1}},
         2,
         "Screen unlocked — resuming camera sampling"},
        {"camera not granted",
         CameraAuthorization::notDetermined,
         {{Event::resume, 1}},
         0,
         "Resumed from suspend (camera not granted: no snapshot)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart({.cameraStatus = c.camera});
        d().launch();
        d().advance(5);
        const std::size_t before = count("takeSnapshot requesting frame…");
        double lastSnapshotAt = 0;
        for (const Step& step : c.steps) {
            if (step.event == Event::resume) {
                d().session->resume();
            } else {
                d().session->setLocked(step.event == Event::lock);
            }
            d().advance(0.01);
            if (count("takeSnapshot requesting frame…") > before && lastSnapshotAt == 0) {
                lastSnapshotAt = d().env.clock.now() - 0.01;
            }
            d().advance(step.then);
        }
        EXPECT_EQ(count("takeSnapshot requesting frame…") - before, c.snapshots);
        EXPECT_EQ(count(c.line), 1u);
        if (c.snapshots > 0) {
            // The next one counts from the wake's measurement, not from before the sleep.
            EXPECT_GT(d().app->nextSnapshotAt(), lastSnapshotAt + 1199);
        }
    }
}

TEST_F(SnapshotCycleTest, AdaptingWritesOnlyWhenTheTargetMovesByThree) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().camera.setScriptedLuma({100, 117, 88});
    d().launch();
    d().advance(5);  // smoothed 121 → 71, the first write whatever the target
    EXPECT_EQ(d().monitorBrightness(), 71);
    ASSERT_EQ(d().indicator.shown.size(), 1u);
    EXPECT_EQ(d().indicator.shown[0], std::make_pair(71, 0));
    EXPECT_EQ(count("maybeApply (adapting) writing brightness=71 at luma=121"), 1u);
    d().app->menu().activate(Id::snapshot);  // 120 → 70: under 3 from 71
    d().advance(5);
    EXPECT_EQ(writes(), 1);
    EXPECT_EQ(title(Id::brightness), "Brightness → 70");
    d().app->menu().activate(Id::snapshot);  // 112 → 66: 5 from 71
    d().advance(5);
    EXPECT_EQ(writes(), 2);
    EXPECT_EQ(d().indicator.shown.back(), std::make_pair(66, -5));
    // Every cycle read once; no cycle wrote twice.
    EXPECT_EQ(reads(), 3);

    // A choice of the user's pauses adapting for five minutes.
    d().app->userDidAdjustBrightness(40);
    setMonitor(40);  // the slider writes before it tells the controller
    d().advance(0.4);
    d().app->menu().activate(Id::snapshot);
    d().advance(5);
    EXPECT_EQ(title(Id::brightness), "Paused — resumes in 298s");
    EXPECT_EQ(writes(), 2);
}

TEST_F(SnapshotCycleTest, MonitorAnsweringGarbageLogsNoSamplesAndSaysSoInTheMenu) {
    d().monitor->setFault(SimulatedMonitorFault::garbage);
    d().launch();
    d().advance(5);
    EXPECT_EQ(count("DDC brightness read returned nil — sample NOT logged"), 1u);
    EXPECT_TRUE(d().samples().empty());
    EXPECT_FALSE(hidden(Id::monitorAccess));
    EXPECT_EQ(title(Id::monitorAccess).rfind("\u26A0\uFE0E Monitor not answering over DDC/CI", 0),
              0u);
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    d().advance(3 * 3600);
    EXPECT_GE(count("DDC brightness read returned nil"), 3u);
    EXPECT_TRUE(d().samples().empty());

    // The channel cannot even be opened: the row names the platform's fix.
    d().channelProblem = "Permission denied opening /dev/i2c-7: add yourself to the i2c group";
    d().app->menu().activate(Id::snapshot);
    d().advance(5);
    EXPECT_NE(title(Id::monitorAccess).find("add yourself to the i2c group"), std::string::npos);

    // Fixed: a retry from the row clears it.
    d().channelProblem.reset();
    d().monitor->setFault(SimulatedMonitorFault::none);
    d().app->menu().activate(Id::monitorAccess);
    d().advance(1);
    EXPECT_TRUE(hidden(Id::monitorAccess));
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
}

}  // namespace
}  // namespace pellora::test
