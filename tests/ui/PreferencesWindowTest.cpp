// The preferences window on the simulated desk, used with real clicks and keys, on virtual time.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

#include "DeskPreferences.h"
#include "ScopedLocalZone.h"
#include "SimulatedDesk.h"
#include "WidgetsTestApp.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "store/SettingsStore.h"
#include "ui/CurveEditorView.h"
#include "ui/LocationSection.h"
#include "ui/MapPickerView.h"
#include "ui/MenuPanelView.h"
#include "ui/NativeControlsSection.h"
#include "ui/PreferencesWindowController.h"
#include "ui/TimelineView.h"

namespace pellora::test {
namespace {

using Native = NativeControlsSection;

struct PreferencesWindowTest : ::testing::Test {
    ScopedLocalZone zone{"UTC0"};
    std::unique_ptr<SimulatedDesk> desk;

    void start(SimulatedDesk::Options options = {}) {
        widgetsApp();
        if (!options.preferences) {
            options.preferences = deskPreferences;
        }
        desk = std::make_unique<SimulatedDesk>(options);
        desk->launch();
    }
    PreferencesWindowController& open() {
        desk->app->openPreferences();
        desk->advance(0.01);
        return static_cast<PreferencesWindowController&>(*desk->app->prefs());
    }
    SettingsStore& settings() { return *desk->env.settings; }
    std::string key(const char* name) { return desk->keyPrefix() + name; }
    AnchorStore& anchors() { return desk->app->scope()->anchors(); }
    // In adapting mode, past the start-up, with a reading taken.
    void startAdapting() {
        start();
        desk->app->toggleMode();
        desk->advance(200.0);
        desk->snapshot(5.0);
        ASSERT_EQ(desk->app->mode(), Mode::adapting);
    }
};

void clickBox(QCheckBox& box) {
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, box.height() / 2));
}

void pressAndMove(QWidget& view, QPoint from, QPoint to) {
    QTest::mousePress(&view, Qt::LeftButton, {}, from);
    moveHeld(view, to);
}

TEST_F(PreferencesWindowTest, WithoutMonitorTheWindowIsIdleAndComesBackWhenOneArrives) {
    start({.monitorPlugged = false});
    auto& w = open();
    EXPECT_TRUE(w.noMonitorLabel().isVisibleTo(&w.window()));
    EXPECT_FALSE(w.brightnessSlider().isEnabled());
    EXPECT_TRUE(w.curveView().isDimmed());
    // No curve to seed or clear: the buttons say so rather than do nothing.
    EXPECT_FALSE(w.seedButton().isEnabled() || w.clearButton().isEnabled());

    desk->plug(SimulatedDesk::monitorA, desk->monitor);
    desk->advance(1.0);
    EXPECT_FALSE(w.noMonitorLabel().isVisibleTo(&w.window()));
    EXPECT_TRUE(w.brightnessSlider().isEnabled());
    EXPECT_TRUE(w.seedButton().isEnabled() && w.clearButton().isEnabled());
    EXPECT_EQ(w.monitorNameField().text(), "DELL U2720Q");
    EXPECT_EQ(w.statusLabel().text(),
              "Learning from your adjustments · default map until anchored · now: day");
}

// The slider reaches the monitor through the debounce; the code popup, the controller; the
// monitor's own controls are offered as its capabilities list them.
TEST_F(PreferencesWindowTest, SliderCodeAndNativeControlsReachTheMonitor) {
    start();
    desk->monitor->setCapabilities(
        "(prot(monitor)type(lcd)model(U2720Q)vcp(10 12 14(05 7A) 60(0F 11)))");
    auto& w = open();
    QSlider& slider = w.brightnessSlider();
    slider.setFocus();
    int before = desk->monitorBrightness();
    // Five steps in quick succession, as a drag sends them: one write follows, of the last.
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(&slider, Qt::Key_Right);
    }
    int chosen = slider.value();
    EXPECT_EQ(w.brightnessReadout().text(), QString::number(chosen));
    EXPECT_EQ(settings().integer(key("manualBrightness")), chosen);
    EXPECT_EQ(desk->monitorBrightness(), before);
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), chosen);

    QComboBox& popup = w.brightnessVCPPopup();
    const double overrideBefore = desk->app->manualOverrideUntil();
    popup.setCurrentIndex(2);
    emit popup.activated(2);
    EXPECT_EQ(settings().integer(key("brightnessVCP")), 0x6B);
    EXPECT_EQ(desk->brightness->brightnessCode(), 0x6B);
    EXPECT_GT(desk->app->manualOverrideUntil(), overrideBefore);

    Native& native = w.nativeControls();
    desk->advance(7.0);
    EXPECT_EQ(native.statusLabel().text(), "Indexed 4 VCP codes · U2720Q");
    EXPECT_FALSE(native.row(Native::pictureMode).isVisibleTo(&w.window()));
    EXPECT_EQ(native.popup(Native::colorPreset).itemText(1), "Value 0x7A");

    QComboBox& input = native.popup(Native::inputSource);
    ASSERT_EQ(input.count(), 2);
    input.setFocus();
    QTest::keyClick(&input, Qt::Key_Down);
    desk->advance(0.5);
    EXPECT_EQ(desk->monitor->vcpRegister(0x60).value().current, 0x11);
    // Choosing the item already shown writes too; the refresh does not put the first back.
    desk->monitor->defineRegister(0x60, 0x0F, 0xFF);
    emit input.activated(1);
    desk->advance(5.5);
    EXPECT_EQ(desk->monitor->vcpRegister(0x60)->current, 0x11);
    EXPECT_EQ(input.currentIndex(), 1);
}

// The slider starts at the prediction, else the stored value, else 70; the brightness code
// shown is the stored one, else luminance, as the controller uses it (18.5 from another
// machine is no code).
TEST_F(PreferencesWindowTest, ControlsStartFromWhatIsStoredOrPredicted) {
    struct Case {
        std::optional<int> stored;
        std::optional<double> code;
        bool anchored;
        int slider, codeIndex;
    } cases[] = {{{}, {}, false, 70, 0},
                 {42, 0x12, false, 42, 1},
                 {250, 0x6B, false, 100, 2},
                 {42, 18.5, false, 42, 0},
                 {42, 0x0B, true, -1, 0}};
    for (Case c : cases) {
        start();
        if (c.stored) {
            settings().set(key("manualBrightness"), *c.stored);
        }
        if (c.code) {
            settings().set(key("brightnessVCP"), *c.code);
        }
        if (c.anchored) {
            // Before the first reading the prediction is made for luma 128.
            anchors().observe(128.0, 5.0, 9.0, 3.0);
            c.slider = anchors().predict(128.0, 9.0).value_or(42);
            ASSERT_NE(c.slider, 42);
        }
        auto& w = open();
        SCOPED_TRACE(c.code.value_or(-1));
        EXPECT_EQ(w.brightnessSlider().value(), c.slider);
        EXPECT_EQ(w.brightnessReadout().text(), c.stored ? QString::number(c.slider) : "—");
        EXPECT_EQ(w.brightnessVCPPopup().currentIndex(), c.codeIndex);
    }
}

// At 7:30 the curve shown follows the checkbox: the morning choice at 128 counts for a sixth
// with the fade alone, for more than half while the room is followed closely.
TEST_F(PreferencesWindowTest, TheMorningCurveShownFollowsTheFollowRoomBox) {
    start({.startWall = 1718955000.0});
    anchors().observe(170, 90, 12, 5);
    anchors().observe(170, 30, 23, 5);
    anchors().observe(128, 80, 7.5, 2.5);
    auto& w = open();
    EXPECT_EQ(w.curveView().curveLine().at(16).brightness, 38);
    clickBox(w.followRoomCheckbox());
    EXPECT_EQ(w.curveView().curveLine().at(16).brightness, 59);
}

// A field takes a whole number as typed, else the default place; a click on the map picks the
// place under the pointer; the line under them tells the sampling cadence there.
TEST_F(PreferencesWindowTest, LocationComesFromTheFieldsOrTheMapAndTheLineTellsTheCadence) {
    start({.closeReadingsPerDay = 1});
    auto& w = open();
    LocationSection& location = w.location();
    EXPECT_EQ(location.longitudeField().text(), "-74.0060");
    const std::pair<const char*, double> typings[] = {
        {"48.8566", 48.8566},  {" 48.8566", 40.7128}, {"48,8566", 40.7128},
        {"48.8566 ", 40.7128}, {"-33.9", -33.9},      {"+1e1", 10.0},
        {"nan", 40.7128},      {"inf", 40.7128},      {"", 40.7128}};
    for (auto [typed, stored] : typings) {
        QLineEdit& field = location.latitudeField();
        field.setFocus();
        field.selectAll();
        QTest::keyClick(&field, Qt::Key_Backspace);
        QTest::keyClicks(&field, typed);
        QTest::keyClick(&field, Qt::Key_Return);
        EXPECT_DOUBLE_EQ(settings().doubleValue("userLat").value_or(-1), stored) << typed;
        EXPECT_EQ(field.text(), QString::asprintf("%.4f", stored)) << typed;
        EXPECT_DOUBLE_EQ(settings().doubleValue("userLon").value_or(-1), -74.006);
    }
    MapPickerView& map = location.map();
    QPoint spot(map.width() / 2 + 60, map.height() / 2 - 20);
    Coordinate expected = map.coordinateAt(spot);
    QTest::mouseClick(&map, Qt::LeftButton, {}, spot);
    EXPECT_NEAR(settings().doubleValue("userLat").value_or(0), expected.lat, 1e-9);
    EXPECT_NEAR(settings().doubleValue("userLon").value_or(0), expected.lon, 1e-9);
    EXPECT_EQ(location.latitudeField().text(), QString::asprintf("%.4f", expected.lat));

    location.applyLocation(40.7128, 15.0);
    const QString usable = location.solarLabel().text();
    EXPECT_TRUE(usable.startsWith("Sunrise ") &&
                (usable.endsWith(" · cadence: 20 min (solar window)") ||
                 usable.endsWith(" · cadence: 60 min")))
        << usable.toStdString();
    location.applyLocation(78.0, 15.0);
    EXPECT_EQ(location.solarLabel().text(),
              "No sunrise/sunset today (polar day or night) · cadence: 60 min");
    // A latitude the schedule cannot use: it samples at the default one, and says so.
    location.applyLocation(95.0, 15.0);
    EXPECT_EQ(location.solarLabel().text(), usable);
    // A longitude past ±180 is the same meridian as its wrap, on the map and in the schedule.
    location.applyLocation(40.7128, 15.0 + 360.0);
    EXPECT_EQ(location.longitudeField().text(), "15.0000");
    EXPECT_EQ(location.solarLabel().text(), usable);

    // Following the room closely is one click for this machine, and the line says so.
    QCheckBox& box = w.followRoomCheckbox();
    clickBox(box);
    EXPECT_TRUE(settings().machineBoolean("followRoomClosely"));
    EXPECT_DOUBLE_EQ(desk->app->nextSnapshotAt() - desk->env.clock.now(), 600);
    EXPECT_EQ(location.solarLabel().text(), usable.section(" · cadence: ", 0, 0) +
                                                " · cadence: 10 min at the desk, else " +
                                                usable.section(" · cadence: ", 1));
    clickBox(box);
    EXPECT_FALSE(settings().machineBoolean("followRoomClosely"));
    EXPECT_EQ(location.solarLabel().text(), usable);
    // Changed elsewhere (another window of this program, a script): the next refresh shows it.
    desk->app->setFollowRoomClosely(true);
    desk->advance(6);
    EXPECT_TRUE(box.isChecked());
    // The week's 7 readings taken: the sun's cadence holds at the desk too, and the line says so.
    for (int i = 0; i < 7; ++i) {
        desk->snapshot(1);
    }
    EXPECT_EQ(location.solarLabel().text(), usable + " (this week's readings are used up)");
}

// The purple dot is the brightness the curve gives the room's light now: edited, cleared or
// gone with its monitor, the curve takes the dot with it.
TEST_F(PreferencesWindowTest, CurveEditsDragsClearAndSeedGoToTheMonitorsAnchors) {
    start();
    auto& w = open();
    w.setLiveLuma(128.0);
    CurveEditorView& curve = w.curveView();
    QTest::mouseClick(&curve, Qt::LeftButton, {}, QPoint(curve.width() / 2, curve.height() / 2));
    ASSERT_EQ(anchors().anchors().size(), 1u);
    EXPECT_EQ(curve.livePrediction(), anchors().predict(128.0, 9.0));
    EXPECT_DOUBLE_EQ(anchors().anchors()[0].weight, 3.0);
    EXPECT_EQ(curve.anchors().size(), 1u);
    EXPECT_EQ(w.statusLabel().text(), "Adapting from 1 anchor · now: day");
    // The preview is written through the debounce and holds off adapting for 5 minutes.
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), w.brightnessSlider().value());
    EXPECT_NEAR(desk->app->manualOverrideUntil(), desk->env.clock.now() - 0.2 + 300.0, 0.5);

    QTest::mouseClick(&w.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(anchors().anchors().empty());
    EXPECT_TRUE(curve.anchors().empty());
    EXPECT_EQ(curve.livePrediction(), std::nullopt);

    // A drag survives the 5-second refresh under the hand and commits where released.
    anchors().observe(60.0, 30.0, 9.0, 1.0);
    anchors().observe(200.0, 80.0, 9.0, 1.0);
    w.refreshSamples();
    ASSERT_EQ(curve.anchors().size(), 2u);
    w.setLiveLuma(100.0);
    ASSERT_TRUE(curve.livePrediction());
    EXPECT_EQ(curve.livePrediction(), anchors().predict(100.0, 9.0));
    const QPoint from = curve.viewPoint(curve.anchors()[0]).toPoint();
    const QPoint held = from + QPoint(20, -20), to = from + QPoint(40, -40);
    CurvePoint released = curve.curvePoint(to);
    pressAndMove(curve, from, held);
    desk->advance(5.5);
    ASSERT_TRUE(curve.dragIndex());
    EXPECT_NEAR(curve.anchors()[0].luma, curve.curvePoint(held).luma, 1e-9);
    moveHeld(curve, to);
    QTest::mouseRelease(&curve, Qt::LeftButton, {}, to);
    auto editable = anchors().editable(9.0);
    ASSERT_EQ(editable.size(), 2u);
    EXPECT_NEAR(editable[0].luma, released.luma, 0.5);
    EXPECT_NEAR(editable[0].brightness, released.brightness, 0.5);
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), static_cast<int>(std::lround(released.brightness)));
    // Alt and a click on a point takes it away.
    QTest::mouseClick(&curve, Qt::LeftButton, Qt::AltModifier, to);
    EXPECT_EQ(anchors().editable(9.0).size(), 1u);
    EXPECT_EQ(curve.anchors().size(), 1u);
    EXPECT_EQ(w.statusLabel().text(), "Adapting from 1 anchor · now: day");

    // Seeding rebuilds the anchors from a morning of the user's own choices, logged.
    for (int i = 0; i < 12; ++i) {
        desk->app->scope()->logger().log(Sample{desk->env.clock.now() - 3600.0 + i * 300.0,
                                                40.0 + i * 15.0, 20 + i * 5, 9, true});
    }
    anchors().observe(128.0, 90.0, 9.0, 1.0);
    QTest::mouseClick(&w.seedButton(), Qt::LeftButton);
    desk->advance(0.1);
    ASSERT_FALSE(anchors().anchors().empty());
    EXPECT_TRUE(
        std::ranges::none_of(anchors().anchors(), [](auto& a) { return a.brightness == 90; }));
    EXPECT_EQ(curve.anchors().size(), anchors().editable(9.0).size());

    desk->unplug(SimulatedDesk::monitorA);
    desk->advance(1.0);
    ASSERT_FALSE(desk->app->scope());
    EXPECT_EQ(curve.livePrediction(), std::nullopt);
    EXPECT_TRUE(w.noMonitorLabel().isVisibleTo(&w.window()));
    EXPECT_TRUE(w.monitorNameField().text().isEmpty());
}

// The learnt curve may come from another machine, whose log stays there: with none of the
// user's own choices logged here, "Seed from history" has nothing to build from and leaves
// the curve as it is.
TEST_F(PreferencesWindowTest, SeedingWithoutLoggedChoicesKeepsTheCurve) {
    start({.cameraStatus = CameraAuthorization::denied});
    anchors().observe(60.0, 30.0, 9.0, 1.0);
    auto& w = open();
    ASSERT_TRUE(desk->samples().empty());
    QTest::mouseClick(&w.seedButton(), Qt::LeftButton);
    desk->advance(0.1);
    EXPECT_EQ(anchors().anchors().size(), 1u);
    EXPECT_EQ(w.curveView().anchors().size(), 1u);
}

// The refresh runs while the window is open: it reads the login item again, keeps a name
// being typed, never queues behind an unfinished read, and shows what was appended meanwhile.
TEST_F(PreferencesWindowTest, RefreshRunsWhileOpenWithTheStartAtLoginBoxAndAnUnfinishedName) {
    start();
    desk->loginItem->answerReads({false, ""});
    auto& w = open();
    QCheckBox* box = w.startAtLoginBox();
    ASSERT_NE(box, nullptr);
    // Coming forward, the window has the entry looked at again; so does its refresh.
    EXPECT_EQ(desk->loginItem->answerReads({true, ""}), 1u);
    EXPECT_TRUE(box->isChecked());
    desk->advance(PreferencesWindowController::refreshInterval);
    EXPECT_EQ(desk->loginItem->answerReads({false, ""}), 1u);
    EXPECT_FALSE(box->isChecked());

    w.window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window()));
    box->ensurePolished();
    w.window().findChild<QScrollArea*>()->ensureWidgetVisible(box);
    clickBox(*box);
    ASSERT_EQ(desk->loginItem->changes.size(), 1u);
    EXPECT_TRUE(desk->loginItem->changes[0].first);
    EXPECT_FALSE(box->isEnabled());
    // What the row makes of the answer (failures included) shows in the box.
    desk->loginItem->answerChange({false, false, "Cannot write the entry."});
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(box->isEnabled());

    EXPECT_TRUE(w.timerRunning());
    QLineEdit& name = w.monitorNameField();
    name.setFocus();
    QTest::keyClicks(&name, " left");
    desk->advance(5.0);
    EXPECT_EQ(name.text(), "DELL U2720Q left");
    QTest::keyClick(&name, Qt::Key_Return);
    EXPECT_EQ(desk->registry->friendlyName(desk->app->scope()->monitor()), "DELL U2720Q left");
    // The menu names the monitor as the window does, without waiting for the next reading.
    desk->advance(PreferencesWindowController::refreshInterval);
    EXPECT_EQ(desk->title(MenuItemId::monitor), "Monitor: DELL U2720Q left");

    w.refreshSamples();
    const std::size_t reading = desk->env.clock.pendingCount();
    for (int i = 0; i < 10; ++i) {
        w.refreshSamples();
    }
    EXPECT_EQ(desk->env.clock.pendingCount(), reading);
    const double t = desk->env.clock.now();
    desk->app->scope()->logger().log(Sample{t, 99.0, 42, 9, true});
    desk->advance(0.01);
    ASSERT_FALSE(w.timeline().samples().empty());
    EXPECT_EQ(w.timeline().samples().back().t, t);

    w.window().close();
    EXPECT_FALSE(w.timerRunning());
    open();
    EXPECT_TRUE(w.timerRunning());
}

// A monitor swapped for another while a name is typed and an anchor dragged for it: both
// edits are the old monitor's, and neither renames the new one or moves its curve.
TEST_F(PreferencesWindowTest, EditsBegunForOneMonitorLeaveTheNextAlone) {
    start();
    auto& w = open();
    anchors().observe(60.0, 30.0, 9.0, 1.0);
    w.refreshSamples();
    QLineEdit& latitude = w.location().latitudeField();
    QTest::keyClicks(&latitude, "5");  // the place is no monitor's: it stays as typed
    QLineEdit& name = w.monitorNameField();
    name.setFocus();
    QTest::keyClicks(&name, " left");
    CurveEditorView& curve = w.curveView();
    ASSERT_EQ(curve.anchors().size(), 1u);
    const QPoint from = curve.viewPoint(curve.anchors()[0]).toPoint();
    const QPoint to = from + QPoint(60, -60);
    pressAndMove(curve, from, to);

    desk->displays.unplug(SimulatedDesk::monitorA.id);
    desk->plug(SimulatedDesk::monitorB, desk->otherMonitor);
    desk->advance(1.0);
    ASSERT_TRUE(desk->app->scope());
    const Monitor b = desk->app->scope()->monitor();
    ASSERT_EQ(w.monitorIdLabel().text(), QString::fromStdString(b.identifier()));
    AnchorStore& bAnchors = desk->app->scope()->anchors();
    bAnchors.observe(150.0, 70.0, 9.0, 1.0);

    QTest::mouseRelease(&curve, Qt::LeftButton, {}, to);
    auto editable = bAnchors.editable(9.0);
    ASSERT_EQ(editable.size(), 1u);
    EXPECT_DOUBLE_EQ(editable[0].luma, 150.0);
    EXPECT_DOUBLE_EQ(editable[0].brightness, 70.0);
    ASSERT_EQ(curve.anchors().size(), 1u);  // the new monitor's curve from then on
    EXPECT_DOUBLE_EQ(curve.anchors()[0].luma, 150.0);

    EXPECT_EQ(name.text(), "LG 27UL850");
    QTest::keyClick(&name, Qt::Key_Return);
    EXPECT_EQ(desk->registry->friendlyName(b), "LG 27UL850");
    EXPECT_EQ(latitude.text(), "40.71285");
}

// The input list held open while the monitor is swapped for one with other inputs: what the
// user picks from it must be the new monitor's, or its screen goes dark.
TEST_F(PreferencesWindowTest, AnInputListHeldOpenAcrossASwapShowsTheNewMonitors) {
    start();
    desk->monitor->setCapabilities("(prot(monitor)vcp(10 60(0F 11)))");
    desk->otherMonitor->setCapabilities("(prot(monitor)vcp(10 60(0F 12)))");
    const auto swap = [&](const DisplayInfo& gone, const DisplayInfo& next, auto& monitor) {
        desk->displays.unplug(gone.id);
        desk->plug(next, monitor);
        desk->advance(12.0);
    };
    // Both seen before, so each one's stored capabilities are there at once.
    swap(SimulatedDesk::monitorA, SimulatedDesk::monitorB, desk->otherMonitor);
    swap(SimulatedDesk::monitorB, SimulatedDesk::monitorA, desk->monitor);
    auto& w = open();
    w.window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window()));
    QComboBox& input = w.nativeControls().popup(Native::inputSource);
    ASSERT_EQ(input.itemData(1).toUInt(), 0x11u);
    input.showPopup();
    ASSERT_TRUE(input.view()->isVisible());

    swap(SimulatedDesk::monitorA, SimulatedDesk::monitorB, desk->otherMonitor);
    EXPECT_FALSE(input.view()->isVisible());
    ASSERT_EQ(input.count(), 2);
    EXPECT_EQ(input.itemData(1).toUInt(), 0x12u);
}

// Until 22:00 the day's anchors are the ones edited, the night's (which the evening fade
// counts more and more) shown faded beside them. At 22:00 the night's become the ones edited,
// but a drag holds the editor on the day's until it ends: the day's point is the one moved.
TEST_F(PreferencesWindowTest, ADragAcrossTheStartOfTheNightMovesTheDaysPoint) {
    start({.startWall = 1718960400.0 + 13 * 3600 - 2.0});  // 21:59:58
    anchors().observe(60.0, 30.0, 12.0, 1.0);
    anchors().observe(200.0, 80.0, 12.0, 1.0);
    anchors().observe(60.0, 10.0, 23.0, 1.0);
    CurveEditorView& curve = open().curveView();
    ASSERT_EQ(curve.otherAnchors().size(), 1u);
    EXPECT_DOUBLE_EQ(curve.otherAnchors()[0].brightness, 10.0);
    const QPoint from = curve.viewPoint(curve.anchors()[0]).toPoint(), to = from + QPoint(30, 0);
    pressAndMove(curve, from, to);
    desk->advance(3.0);
    QTest::mouseRelease(&curve, Qt::LeftButton, {}, to);
    const auto night = anchors().editable(23.0);
    ASSERT_EQ(night.size(), 1u);
    EXPECT_DOUBLE_EQ(night[0].luma, 60.0);
    EXPECT_DOUBLE_EQ(night[0].brightness, 10.0);
    const auto day = anchors().editable(12.0);
    ASSERT_EQ(day.size(), 2u);
    EXPECT_NEAR(day[0].luma, curve.curvePoint(to).luma, 0.5);
}

// A choice committed (or synced from another machine) while a point is dragged takes the
// first place in the list shown: the drop still moves the point dragged.
TEST_F(PreferencesWindowTest, AnAnchorAddedDuringADragLeavesThePointDraggedTheOneMoved) {
    start();
    anchors().observe(100.0, 30.0, 12.0, 1.0);
    CurveEditorView& curve = open().curveView();
    const QPoint from = curve.viewPoint(curve.anchors()[0]).toPoint(), to = from + QPoint(0, -30);
    pressAndMove(curve, from, to);
    anchors().observe(40.0, 20.0, 12.0, 1.0);
    QTest::mouseRelease(&curve, Qt::LeftButton, {}, to);
    const auto day = anchors().editable(12.0);
    ASSERT_EQ(day.size(), 2u);
    EXPECT_DOUBLE_EQ(day[0].brightness, 20.0);
    EXPECT_NEAR(day[1].brightness, curve.curvePoint(to).brightness, 0.5);
}

// A screen reader names each control by its accessible name or the label that names it; a
// popup's own name on Linux is only the value it shows.
TEST_F(PreferencesWindowTest, EveryControlAndChartHasANameToAnnounce) {
    start();
    desk->monitor->setCapabilities("(prot(monitor)type(lcd)model(U2720Q)vcp(10 14(05) 60(0F)))");
    auto& w = open();
    desk->advance(7.0);
    const auto named = [](QWidget* widget) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
        const bool labelled = !a->relations(QAccessible::Label).isEmpty();
        return labelled ||
               (!qobject_cast<QComboBox*>(widget) && !a->text(QAccessible::Name).isEmpty());
    };
    std::vector<QWidget*> controls{&w.timeline(), &w.curveView()};
    for (QWidget* next = w.window().nextInFocusChain(); next != &w.window();
         next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(&w.window()) &&
            !qobject_cast<QScrollArea*>(next)) {
            controls.push_back(next);
        }
    }
    ASSERT_GE(controls.size(), 15u);
    for (QWidget* control : controls) {
        EXPECT_TRUE(named(control)) << control->metaObject()->className() << " "
                                    << QAccessible::queryAccessibleInterface(control)
                                           ->text(QAccessible::Value)
                                           .toStdString();
    }
}

// Long texts from outside are broken into lines, not laid out as one line that widens the
// window's column past the window and sends the charts under a sideways scroll: the model of
// a monitor whose capabilities string is damaged ("model(" left open), hundreds of characters,
// and, without a tray, where the menu's rows head the window, a camera warning naming its fix.
TEST_F(PreferencesWindowTest, LongTextsWrapWithinTheWindow) {
    start({.preferences = deskPreferencesWithoutTray});
    desk->monitor->setCapabilities(
        "(prot(monitor)type(lcd)model(U2720Q cmds(01 02 03 07 0C E3 F3 F7)vcp(02 04 05 08 10 12 "
        "14(05 08 0B) 16 18 1A 52 60(0F 11 12) AC AE B2 B6 C6 C8 C9 D6(01 04 05) DC(00 02 03 05) "
        "DF FD)mccs_ver(2.1)mswhql(1))");
    desk->camera.setPresent(false);
    desk->snapshot(10.0);
    auto& w = open();
    desk->advance(7.0);
    const QString line = w.nativeControls().statusLabel().text();
    ASSERT_TRUE(line.startsWith("Indexed 23 VCP codes · U2720Q")) << line.toStdString();
    const std::string& warning = desk->title(MenuItemId::camera);
    ASSERT_TRUE(warning.starts_with("\u26A0\uFE0E No camera detected")) << warning;
    auto* scroll = w.window().findChild<QScrollArea*>();
    scroll->resize(PreferencesWindowController::windowWidth, 600);
    EXPECT_LE(scroll->widget()->minimumSizeHint().width(), scroll->viewport()->width());
    auto* row = w.window().findChild<MenuPanelView*>();
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->button(MenuItemId::camera)->text().replace('\n', ' ').toStdString(), warning);
}

// Opened from a tray or menu on any screen, the window comes up on that screen, all of it
// (the second screen is 512 points wide).
TEST_F(PreferencesWindowTest, TheWindowOpensOnTheScreenUnderThePointer) {
    start();
    for (QScreen* screen : QGuiApplication::screens()) {
        QCursor::setPos(screen->geometry().center());
        auto& w = open();
        EXPECT_TRUE(screen->availableGeometry().contains(w.window().geometry()))
            << screen->name().toStdString();
        w.window().close();
    }
}

// The window is taller than most screens and scrolls with the wheel, which passes over its
// popups and slider on the way: they leave the wheel to the window (an event a control does
// not take goes on to the scroll area), and the monitor's input and brightness stay.
TEST_F(PreferencesWindowTest, TheWheelScrollsTheWindowPastItsControls) {
    start();
    desk->monitor->setCapabilities("(prot(monitor)type(lcd)model(U2720Q)vcp(10 12 60(0F 11)))");
    auto& w = open();
    desk->advance(7.0);
    w.window().resize(PreferencesWindowController::windowWidth, 400);
    w.window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window()));
    desk->monitor->defineRegister(0x60, 0x0F, 0xFF);
    // Whether the control kept the turn for itself.
    const auto wheel = [](QWidget& over) {
        const QPointF at(over.width() / 2.0, over.height() / 2.0);
        QWheelEvent event(at, over.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&over, &event);
        return event.isAccepted();
    };

    QComboBox& input = w.nativeControls().popup(Native::inputSource);
    ASSERT_TRUE(input.isVisibleTo(&w.window()));
    EXPECT_FALSE(wheel(input));
    desk->advance(0.5);
    EXPECT_EQ(desk->monitor->vcpRegister(0x60)->current, 0x0F);
    EXPECT_FALSE(wheel(w.brightnessVCPPopup()));
    EXPECT_EQ(desk->brightness->brightnessCode(), 0x10);

    QSlider& slider = w.brightnessSlider();
    const int value = slider.value();
    EXPECT_FALSE(wheel(slider));
    desk->advance(0.5);
    EXPECT_EQ(slider.value(), value);
    EXPECT_FALSE(settings().integer(key("manualBrightness")));

    // Clicked first, a control takes the wheel as its own.
    slider.setFocus();
    EXPECT_TRUE(wheel(slider));
    EXPECT_NE(slider.value(), value);
}

// An edit of the curve shows its brightness on the monitor; the next reading finds the
// monitor there, which is no choice made with the monitor's buttons at the room's light.
TEST_F(PreferencesWindowTest, AnEditsPreviewIsNotTakenForTheMonitorsButtons) {
    ASSERT_NO_FATAL_FAILURE(startAdapting());
    const std::size_t changes = desk->count("external brightness change");
    auto& w = open();
    CurveEditorView& curve = w.curveView();
    // The dark room's brightness, set in daylight.
    const std::size_t before = anchors().anchors().size();
    QTest::mouseClick(&curve, Qt::LeftButton, {}, curve.viewPoint({20.0, 10.0}).toPoint());
    ASSERT_EQ(anchors().anchors().size(), before + 1);
    desk->advance(0.2);
    ASSERT_EQ(desk->monitorBrightness(), 10);
    ASSERT_GT(desk->app->smoothedLuma(), 60.0);
    desk->snapshot(200.0);
    EXPECT_EQ(desk->count("external brightness change"), changes);
    EXPECT_EQ(anchors().anchors().size(), before + 1);
}

// The slider is the monitor's brightness: one adapting wrote while the window was open shows
// there, so that a nudge of the slider starts from it, not from the value the window opened on.
TEST_F(PreferencesWindowTest, TheSliderFollowsTheBrightnessAdaptingWrites) {
    ASSERT_NO_FATAL_FAILURE(startAdapting());
    auto& w = open();
    anchors().observe(desk->app->smoothedLuma(), 12.0, 9.1, 20.0);
    desk->snapshot(6.0);
    ASSERT_EQ(desk->monitorBrightness(), 12);
    EXPECT_EQ(w.brightnessSlider().value(), 12);
    EXPECT_EQ(w.brightnessReadout().text(), "12");
}

// "Preferences…" on a window the user minimized brings it back, not only to the front of
// the taskbar.
TEST_F(PreferencesWindowTest, OpeningAMinimizedWindowRestoresIt) {
    start();
    auto& w = open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window()));
    w.window().showMinimized();
    ASSERT_TRUE(w.window().isMinimized());
    open();
    EXPECT_FALSE(w.window().isMinimized());
    EXPECT_TRUE(w.window().isVisible());
}

// Real time as the program has it: timed on a clock of its own, run on the main queue.
class RealTimeOnMain final : public Queue {
  public:
    RealTimeOnMain(VirtualClock& clock, Queue& main)
        : timing_(clock.makeQueue("real-time")), main_(main) {}
    const std::string& label() const override { return main_.label(); }
    void post(Task task) override { main_.post(std::move(task)); }
    WorkItemPtr postAfter(double seconds, Task task) override {
        return timing_->postAfter(seconds, [&main = main_, task] { main.post(task); });
    }
    void sync(Task task) override { main_.sync(std::move(task)); }
    bool isCurrent() const override { return main_.isCurrent(); }

  private:
    std::unique_ptr<ManualQueue> timing_;
    Queue& main_;
};

// The person at the window lives in real time: a demo's time scale never speeds the refresh.
TEST_F(PreferencesWindowTest, TheRefreshRunsOnRealTimeNotTheDesks) {
    VirtualClock real;
    std::unique_ptr<RealTimeOnMain> realTime;
    start({.preferences = [&](SimulatedDesk& d, PreferencesHooks hooks) {
        realTime = std::make_unique<RealTimeOnMain>(real, d.mainQueue);
        PreferencesWindowController::Services services{
            .controller = d.brightness,
            .registry = d.registry,
            .settings = *d.env.settings,
            .log = *d.env.log,
            .clock = d.env.clock,
            .main = d.mainQueue,
            .realClock = real,
            .realTime = *realTime,
            .work = *d.probeQueue,
            .texts = PlatformTexts::linuxDesktop(),
        };
        return PreferencesWindowController::create(services, std::move(hooks));
    }});
    auto& w = open();
    // Past the start-up's snapshot, capabilities read and commit; the next snapshot is at 20 min.
    desk->advance(200.0);
    desk->registry->setFriendlyName("Renamed elsewhere", desk->app->scope()->monitor());
    desk->advance(600.0);
    EXPECT_EQ(w.monitorNameField().text(), "DELL U2720Q");
    real.advance(4.9);
    desk->advance(0.01);
    EXPECT_EQ(w.monitorNameField().text(), "DELL U2720Q");
    real.advance(0.1);
    desk->advance(0.01);
    EXPECT_EQ(w.monitorNameField().text(), "Renamed elsewhere");
}

}  // namespace
}  // namespace pellora::test
