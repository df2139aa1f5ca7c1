// The controller on the simulated desk, on virtual time: what it logs, shows, stores and
// sends to the monitor.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ScopedLocalZone.h"
#include "SimulatedDesk.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

struct ControllerTest : ::testing::Test {
    ScopedLocalZone zone{"UTC0"};
    std::unique_ptr<SimulatedDesk> desk = std::make_unique<SimulatedDesk>();
    SimulatedDesk& d = *desk;

    const std::string& title(Id id) { return d.app->menu().row(id).title; }
    bool hidden(Id id) { return d.app->menu().row(id).hidden; }
    int setRequests() { return d.monitor->stats().setRequests; }
    int getRequests() { return d.monitor->stats().getRequests; }
    std::size_t count(const std::string& text) { return d.linesWith(text).size(); }
};

TEST_F(ControllerTest, LaunchWithMonitorAndCameraTakesTheFirstSnapshotAfterTwoSeconds) {
    d.camera.setScriptedLuma({40});
    d.launch();
    EXPECT_EQ(count("Launching. Bundle=org.pellora.Pellora"), 1u);
    EXPECT_EQ(count("Initial camera authorization status: authorized"), 1u);
    EXPECT_EQ(count("Initial screen lock state: locked=false"), 1u);
    EXPECT_EQ(count("Connected external screens: 1"), 1u);
    EXPECT_EQ(
        count("  [0] DELL U2720Q (000010AC-0000A0C5-00000001) — brightness VCP 0x10 — managed"),
        1u);
    EXPECT_EQ(title(Id::monitor), "Monitor: DELL U2720Q");
    EXPECT_TRUE(hidden(Id::camera));
    d.advance(1.9);
    EXPECT_EQ(count("takeSnapshot requesting frame…"), 0u);
    d.advance(2.0);
    EXPECT_EQ(count("takeSnapshot requesting frame…"), 1u);
    EXPECT_EQ(count("Snapshot OK: luma=40.0"), 1u);
    EXPECT_NEAR(d.app->smoothedLuma(), 106.0, 0.01);
    EXPECT_EQ(title(Id::luma), "Luma: 106 / 255");
    EXPECT_EQ(count("Sample logged: luma=106.0 brightness=50 userSet=true"), 1u);
    ASSERT_EQ(d.samples().size(), 1u);
    EXPECT_EQ(d.samples()[0].brightness, 50);
    EXPECT_EQ(d.samples()[0].hour, 9);
    EXPECT_EQ(title(Id::brightness), "Brightness: (learning)");
    EXPECT_EQ(setRequests(), 0);
}

TEST_F(ControllerTest, LaunchWithoutMonitorIsIdleUntilOneIsPlugged) {
    desk = std::make_unique<SimulatedDesk>(SimulatedDesk::Options{.monitorPlugged = false});
    SimulatedDesk& d = *desk;
    d.launch();
    d.advance(3600);
    EXPECT_EQ(d.linesWith("No external screens connected.").size(), 1u);
    EXPECT_EQ(d.app->menu().row(Id::monitor).title, "No external monitor — idle");
    EXPECT_EQ(d.app->menu().row(Id::samples).title, "Samples: —");
    EXPECT_EQ(d.app->menu().row(Id::brightness).title,
              "Brightness: (built-in display managed by the desktop)");
    EXPECT_FALSE(d.app->menu().row(Id::toggleMode).enabled);
    EXPECT_EQ(d.app->menu().glyph(), StatusMenu::idleGlyph);
    EXPECT_EQ(d.app->nextSnapshotAt(), AppDelegate::distantFuture);
    EXPECT_TRUE(d.linesWith("takeSnapshot").empty());

    d.plug(SimulatedDesk::monitorA, d.monitor);
    d.advance(0.5);
    EXPECT_EQ(d.linesWith("Monitor changed to 000010AC-0000A0C5-00000001").size(), 1u);
    EXPECT_TRUE(d.linesWith("takeSnapshot requesting").empty());
    d.advance(0.6);
    EXPECT_EQ(d.linesWith("takeSnapshot requesting frame…").size(), 1u);
    d.advance(6);
    EXPECT_EQ(d.linesWith("Reading capabilities…").size(), 1u);
    d.advance(5);
    EXPECT_EQ(d.linesWith("Capabilities read: ").size(), 1u);
}

TEST_F(ControllerTest, WithoutCameraAccessNothingIsSampledUntilGranted) {
    desk = std::make_unique<SimulatedDesk>(
        SimulatedDesk::Options{.cameraStatus = CameraAuthorization::notDetermined});
    SimulatedDesk& d = *desk;
    d.launch();
    d.advance(7200);
    EXPECT_TRUE(d.linesWith("takeSnapshot").empty());
    EXPECT_FALSE(d.app->menu().row(Id::camera).hidden);
    EXPECT_EQ(d.app->menu().row(Id::camera).title,
              "\U0001F3A5 Enable camera access… (needed to read room light)");
    EXPECT_EQ(d.app->menu().glyph(), StatusMenu::sunGlyph);
    // The user answers the request with yes: a snapshot at once.
    d.app->menu().activate(Id::camera);
    d.advance(0.1);
    EXPECT_EQ(
        d.linesWith("──── camera diagnostics (user clicked Enable camera access) ────").size(), 1u);
    EXPECT_EQ(d.linesWith("requesting camera access (notDetermined)…").size(), 1u);
    auto answer = d.linesWith(
        "requestAccess returned granted=true after 0.00s → authorized  "
        "(INSTANT — no prompt was shown (cached/auto decision))");
    EXPECT_EQ(answer.size(), 1u);
    EXPECT_TRUE(d.app->cameraGranted());
    EXPECT_TRUE(d.app->menu().row(Id::camera).hidden);
    EXPECT_EQ(d.linesWith("takeSnapshot requesting frame…").size(), 1u);
}

TEST_F(ControllerTest, DeniedCameraNamesTheFixAndRecheckGrantsOnceFixed) {
    desk = std::make_unique<SimulatedDesk>(
        SimulatedDesk::Options{.cameraStatus = CameraAuthorization::denied});
    SimulatedDesk& d = *desk;
    d.launch();
    EXPECT_EQ(d.app->cameraHealth(), CameraHealth::permissionDenied);
    EXPECT_EQ(d.app->menu().row(Id::camera).title,
              "\u26A0\uFE0E Camera permission denied — click for the fix (video group / uaccess)");
    EXPECT_EQ(d.app->menu().glyph(), StatusMenu::warningGlyph);
    d.app->menu().activate(Id::camera);
    d.advance(0.1);
    ASSERT_EQ(d.alerts.shown.size(), 1u);
    EXPECT_EQ(d.alerts.shown[0].message, "Camera access denied");
    EXPECT_EQ(d.alerts.shown[0].informative, "The simulated camera is set to refuse access.");
    EXPECT_EQ(d.linesWith("status=denied; cannot re-prompt").size(), 1u);
    // The user fixes it and re-checks from the menu.
    d.cameraAccess->setStatus(CameraAuthorization::authorized);
    d.app->menu().activate(Id::cameraReset);
    d.advance(0.1);
    EXPECT_EQ(d.linesWith("Camera access re-checked: authorized").size(), 1u);
    EXPECT_TRUE(d.app->cameraGranted());
    EXPECT_EQ(d.app->cameraHealth(), CameraHealth::ok);
    EXPECT_EQ(d.linesWith("takeSnapshot requesting frame…").size(), 1u);
}

TEST_F(ControllerTest, StoredModeAndBadStoredValues) {
    d.env.settings->set(d.keyPrefix() + "mode", std::string("adapting"));
    d.env.settings->set(d.keyPrefix() + "brightnessVCP", std::int64_t(0x13));
    d.monitor->defineRegister(0x13, 30, 100);
    d.launch();
    EXPECT_EQ(d.app->mode(), Mode::adapting);
    EXPECT_EQ(count("Brightness VCP for this monitor: 0x13"), 1u);
    EXPECT_EQ(title(Id::mode), "Mode: Adapting");
    d.camera.setScriptedLuma({100});
    d.advance(4);
    EXPECT_EQ(d.monitor->vcpRegister(0x13)->current, 71);  // smoothed 121 → default map
    EXPECT_EQ(d.monitor->vcpRegister(0x10)->current, 50);

    // Restart over other stored texts and types: defaults, one line each.
    desk = std::make_unique<SimulatedDesk>();
    SimulatedDesk& e = *desk;
    e.env.settings->set(e.keyPrefix() + "mode", std::string("Adapting"));
    e.env.settings->set(e.keyPrefix() + "brightnessVCP", std::int64_t(300));
    e.env.settings->set("userLat", std::string("north"));
    e.env.settings->set(e.keyPrefix() + "anchorsV1", std::string("[[1,2]]"));
    e.launch();
    e.advance(10);
    EXPECT_EQ(e.app->mode(), Mode::learning);
    EXPECT_EQ(e.linesWith("mode is neither \"learning\" nor \"adapting\"; using learning").size(),
              1u);
    EXPECT_EQ(e.linesWith("brightnessVCP is not a VCP code (0 to 255); using 0x10").size(), 1u);
    EXPECT_EQ(e.linesWith("Brightness VCP for this monitor: 0x10").size(), 1u);
    EXPECT_EQ(e.linesWith("anchorsV1 do not decode; starting empty").size(), 1u);
    EXPECT_EQ(e.samples().size(), 1u);  // the cycle goes on
    e.advance(3 * 3600);
    EXPECT_EQ(e.linesWith("Stored userLat cannot be used as a location").size(), 1u);
}

}  // namespace
}  // namespace pellora::test
