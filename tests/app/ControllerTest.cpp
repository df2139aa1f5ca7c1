// The controller at launch on the simulated desk: what it shows, stores, dumps and sends, with
// and without a monitor or the camera, over stored settings.

#include <nlohmann/json.hpp>

#include "SimulatedDesk.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;
using ControllerTest = DeskTest;

TEST_F(ControllerTest, LaunchListsTheMonitorsAndTakesTheFirstSnapshotAfterTwoSeconds) {
    d().displays.plug(SimulatedDesk::monitorB);
    d().camera.setScriptedLuma({40});
    d().launch();
    EXPECT_EQ(d().count("  [0] DELL U2720Q (000010AC-0000A0C5-00000001) — brightness VCP 0x10 — "
                        "managed"),
              1u);
    EXPECT_EQ(
        d().count("  [1] LG 27UL850 (00001E6D-00005B7F-00000002) — brightness VCP 0x10 — known"),
        1u);
    // Which of the two is driven, and that the other is not.
    EXPECT_EQ(d().title(Id::monitor),
              "Monitor: DELL U2720Q (on card0-DP-1; the other external monitor is left as it is)");
    EXPECT_TRUE(d().hidden(Id::camera));
    d().advance(1.9);
    EXPECT_EQ(d().count("takeSnapshot requesting frame…"), 0u);
    d().advance(2.0);
    EXPECT_EQ(d().title(Id::luma), "Luma: 106 / 255");
    ASSERT_EQ(d().samples().size(), 1u);
    EXPECT_EQ(d().samples()[0].brightness, 50);
    EXPECT_EQ(d().samples()[0].hour, 9);
    EXPECT_EQ(d().title(Id::brightness), "Brightness: (learning)");
    EXPECT_EQ(d().writes(), 0);
    auto dump = nlohmann::json::parse(d().dumpText());
    EXPECT_FALSE(dump.contains("lastAppliedBrightness"));
    EXPECT_EQ(dump["location"]["lat"], 40.7128);
    EXPECT_EQ(dump["mode"], "learning");
    EXPECT_EQ(dump["monitor"]["id"], "000010AC-0000A0C5-00000001");
}

TEST_F(ControllerTest, LaunchWithoutMonitorIsIdleUntilOneIsPlugged) {
    restart({.monitorPlugged = false});
    d().launch(3600);
    EXPECT_EQ(d().title(Id::monitor), "No external monitor — idle");
    EXPECT_EQ(d().title(Id::brightness), "Brightness: (built-in display managed by the desktop)");
    EXPECT_FALSE(d().app->menu().row(Id::toggleMode).enabled);
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::idleGlyph);
    EXPECT_EQ(d().app->nextSnapshotAt(), AppDelegate::distantFuture);
    auto dump = nlohmann::json::parse(d().dumpText());
    EXPECT_TRUE(dump["monitor"].is_null());
    EXPECT_TRUE(dump["nextSnapshotAt"].is_number_integer() && dump["nextSnapshotAt"] == -1);
    EXPECT_EQ(d().count("takeSnapshot"), 0u);
    d().app->toggleMode();  // does nothing and stores nothing
    EXPECT_FALSE(d().env.settings->value(d().keyPrefix() + "mode"));

    d().plug(SimulatedDesk::monitorA, d().monitor);
    d().advance(0.5);
    EXPECT_EQ(d().count("Monitor changed to 000010AC-0000A0C5-00000001"), 1u);
    EXPECT_EQ(d().count("takeSnapshot requesting"), 0u);
    d().advance(0.6);
    EXPECT_EQ(d().count("takeSnapshot requesting frame…"), 1u);
}

TEST_F(ControllerTest, WithoutCameraAccessNothingIsSampledUntilGranted) {
    restart({.cameraStatus = CameraAuthorization::notDetermined});
    d().launch(7200);
    EXPECT_EQ(d().count("takeSnapshot"), 0u);
    EXPECT_EQ(d().title(Id::camera),
              "\U0001F3A5 Enable camera access… (needed to read room light)");
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::sunGlyph);
    // The camera becomes usable (a group change, a udev rule): the click's fresh look finds
    // it and a snapshot runs at once.
    d().cameraAccess->setStatus(CameraAuthorization::authorized);
    d().app->menu().activate(Id::camera);
    d().advance(0.1);
    EXPECT_TRUE(d().app->cameraGranted());
    EXPECT_TRUE(d().hidden(Id::camera));
    EXPECT_EQ(d().count("takeSnapshot requesting frame…"), 1u);
}

TEST_F(ControllerTest, DeniedCameraNamesTheFixAndRecheckGrantsOnceFixed) {
    restart({.cameraStatus = CameraAuthorization::denied});
    d().launch();
    EXPECT_EQ(d().title(Id::camera),
              "\u26A0\uFE0E Camera permission denied — click for the fix (video group / uaccess)");
    EXPECT_EQ(d().app->menu().glyph(), StatusMenu::warningGlyph);
    d().app->menu().activate(Id::camera);
    d().advance(0.1);
    ASSERT_EQ(d().alerts.shown.size(), 1u);
    EXPECT_EQ(d().alerts.shown[0].message, "Camera access denied");
    // The user fixes it and re-checks from the menu.
    d().cameraAccess->setStatus(CameraAuthorization::authorized);
    d().app->menu().activate(Id::cameraReset);
    d().advance(0.1);
    EXPECT_EQ(d().app->cameraHealth(), CameraHealth::ok);
    EXPECT_EQ(d().count("takeSnapshot requesting frame…"), 1u);
}

TEST_F(ControllerTest, StoredModeAndBadStoredValues) {
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().env.settings->set(d().keyPrefix() + "brightnessVCP", std::int64_t(0x13));
    d().monitor->defineRegister(0x13, 30, 100);
    d().env.remoteSet(d().keyPrefix() + "mode", std::int64_t(1));  // not a text: the local holds
    d().launch();
    EXPECT_EQ(d().title(Id::mode), "Mode: Adapting");
    d().camera.setScriptedLuma({100});
    d().advance(4);
    EXPECT_EQ(d().monitor->vcpRegister(0x13)->current, 71);  // smoothed 121 → default map
    EXPECT_EQ(d().monitorBrightness(), 50);

    // A synced code whose write acts at once (here the factory reset) is never the level.
    restart();
    d().env.settings->set(d().keyPrefix() + "mode", std::string("adapting"));
    d().env.remoteSet(d().keyPrefix() + "brightnessVCP", std::int64_t(0x04));
    d().monitor->defineRegister(0x04, 0, 1);
    d().launch();
    d().camera.setScriptedLuma({100});
    d().advance(4);
    EXPECT_EQ(d().monitor->vcpRegister(0x04)->current, 0);
    EXPECT_EQ(d().monitorBrightness(), 71);
    EXPECT_EQ(d().count("brightnessVCP 0x04 is a monitor action (a reset, the input, the power), "
                        "not a level; using 0x10"),
              1u);

    // Restart over other stored texts and types: defaults, one line each.
    restart();
    d().env.settings->set(d().keyPrefix() + "mode", std::string("Adapting"));
    d().env.settings->set(d().keyPrefix() + "brightnessVCP", std::int64_t(300));
    d().env.settings->set("userLat", std::string("north"));
    d().env.settings->set(d().keyPrefix() + "anchorsV1", std::string("[[1,2]]"));
    d().launch(3 * 3600);
    EXPECT_EQ(d().app->mode(), Mode::learning);
    for (const char* line : {"mode is neither \"learning\" nor \"adapting\"; using learning",
                             "brightnessVCP is not a VCP code (0 to 255); using 0x10",
                             "anchorsV1 do not decode; starting empty",
                             "Stored userLat cannot be used as a location"}) {
        EXPECT_EQ(d().count(line), 1u) << line;
    }
    EXPECT_GE(d().samples().size(), 1u);  // the cycle goes on
}

}  // namespace
}  // namespace pellora::test
