// The preferences window on the simulated desk, used as a person would: real widgets, real
// clicks and keys, the controller and the simulated monitor behind them, on virtual time.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTest>

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
        options.preferences = deskPreferences;
        desk = std::make_unique<SimulatedDesk>(options);
        desk->launch();
    }
    PreferencesWindowController& open() {
        desk->app->openPreferences();
        desk->advance(0.01);
        return window();
    }
    PreferencesWindowController& window() {
        return static_cast<PreferencesWindowController&>(*desk->app->prefs());
    }
    SettingsStore& settings() { return *desk->env.settings; }
    std::string key(const char* name) { return desk->keyPrefix() + name; }
    std::vector<QString> items(QComboBox& popup) {
        std::vector<QString> out;
        for (int i = 0; i < popup.count(); ++i) {
            out.push_back(popup.itemText(i));
        }
        return out;
    }
};

TEST_F(PreferencesWindowTest, WithoutMonitorTheWindowIsIdleAndComesBackWhenOneArrives) {
    start({.monitorPlugged = false});
    auto& w = open();
    EXPECT_TRUE(w.window().isVisible());
    EXPECT_EQ(w.window().windowTitle(), "Pellora");
    EXPECT_TRUE(w.monitorNameField().text().isEmpty());
    EXPECT_TRUE(w.monitorIdLabel().text().isEmpty());
    EXPECT_TRUE(w.noMonitorLabel().isVisibleTo(&w.window()));
    EXPECT_FALSE(w.brightnessSlider().isEnabled());
    EXPECT_FALSE(w.brightnessVCPPopup().isEnabled());
    EXPECT_FALSE(w.monitorNameField().isEnabled());
    EXPECT_TRUE(w.curveView().isDimmed());
    EXPECT_TRUE(w.timeline().isDimmed());
    EXPECT_EQ(w.brightnessReadout().text(), "—");
    EXPECT_TRUE(w.statusLabel().text().isEmpty());
    EXPECT_TRUE(w.nativeControls().statusLabel().text().isEmpty());

    desk->plug(SimulatedDesk::monitorA, desk->monitor);
    desk->advance(1.0);
    EXPECT_FALSE(w.noMonitorLabel().isVisibleTo(&w.window()));
    EXPECT_TRUE(w.brightnessSlider().isEnabled());
    EXPECT_FALSE(w.curveView().isDimmed());
    EXPECT_EQ(w.monitorNameField().text(), "DELL U2720Q");
    EXPECT_EQ(w.monitorIdLabel().text(), "000010AC-0000A0C5-00000001");
    EXPECT_EQ(w.statusLabel().text(),
              "Learning from your adjustments · default map until anchored · now: day");
    EXPECT_EQ(w.nativeControls().statusLabel().text(), "Reading capabilities…");
}

TEST_F(PreferencesWindowTest, SliderReachesTheControllerAndTheMonitorThroughTheDebounce) {
    start();
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
    ASSERT_TRUE(desk->app->pendingAnchor());
    EXPECT_EQ(desk->app->pendingAnchor()->brightness, chosen);
    EXPECT_EQ(desk->app->lastAppliedBrightness(), chosen);
    EXPECT_EQ(desk->monitorBrightness(), before);
    int setsBefore = desk->monitor->stats().setRequests;
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), chosen);
    // Each write goes out twice on the wire, for monitors that miss one.
    EXPECT_EQ(desk->monitor->stats().setRequests - setsBefore, 2);
}

TEST_F(PreferencesWindowTest, SliderStartsAtThePredictionElseTheStoredValueElseSeventy) {
    struct Case {
        std::optional<int> stored;
        bool anchored;
        int slider;
        QString readout;
    };
    for (Case c : {Case{std::nullopt, false, 70, "—"}, Case{42, false, 42, "42"},
                   Case{250, false, 100, "100"}, Case{42, true, -1, ""}}) {
        start();
        if (c.stored) {
            settings().set(key("manualBrightness"), *c.stored);
        }
        std::optional<int> predicted;
        if (c.anchored) {
            // Before the first reading the prediction is made for luma 128.
            AnchorStore& anchors = desk->app->scope()->anchors();
            anchors.observe(128.0, 5.0, 9.0, 3.0);
            predicted = anchors.predict(128.0, 9.0);
            ASSERT_TRUE(predicted);
            ASSERT_NE(*predicted, 42);
            c.slider = *predicted;
            c.readout = QString::number(*predicted);
        }
        auto& w = open();
        EXPECT_EQ(w.brightnessSlider().value(), c.slider) << c.stored.value_or(-1);
        EXPECT_EQ(w.brightnessReadout().text(), c.readout);
    }
}

TEST_F(PreferencesWindowTest, BrightnessCodeChoiceIsStoredAppliedAndLogged) {
    struct Case {
        std::optional<int> stored;
        int shownIndex;
    };
    for (Case c : {Case{std::nullopt, 0}, Case{0x12, 1}, Case{0x6B, 2}, Case{0x0B, 0}}) {
        start();
        if (c.stored) {
            settings().set(key("brightnessVCP"), *c.stored);
        }
        auto& w = open();
        w.loadInitialState();
        EXPECT_EQ(w.brightnessVCPPopup().currentIndex(), c.shownIndex) << c.stored.value_or(-1);
    }
    auto& w = open();
    EXPECT_EQ(items(w.brightnessVCPPopup()),
              (std::vector<QString>{"Luminance (0x10)", "Contrast (0x12)", "Backlight (0x6B)"}));
    double overrideBefore = desk->app->manualOverrideUntil();
    w.brightnessVCPPopup().setCurrentIndex(2);
    emit w.brightnessVCPPopup().activated(2);
    EXPECT_EQ(settings().integer(key("brightnessVCP")), 0x6B);
    EXPECT_EQ(desk->brightness->brightnessCode(), 0x6B);
    EXPECT_EQ(desk->linesWith("Brightness VCP set to 0x6B").size(), 1u);
    EXPECT_GT(desk->app->manualOverrideUntil(), overrideBefore);
}

TEST_F(PreferencesWindowTest, NativeControlsOfferWhatTheMonitorLists) {
    start();
    desk->monitor->setCapabilities(
        "(prot(monitor)type(lcd)model(U2720Q)vcp(10 12 14(05 7A) 60(0F 11)))");
    auto& w = open();
    Native& native = w.nativeControls();
    EXPECT_EQ(native.statusLabel().text(), "Reading capabilities…");
    EXPECT_FALSE(native.row(Native::inputSource).isVisibleTo(&w.window()));
    desk->advance(7.0);
    EXPECT_EQ(native.statusLabel().text(), "Indexed 4 VCP codes · U2720Q");
    EXPECT_TRUE(native.row(Native::colorPreset).isVisibleTo(&w.window()));
    EXPECT_FALSE(native.row(Native::pictureMode).isVisibleTo(&w.window()));
    EXPECT_TRUE(native.row(Native::inputSource).isVisibleTo(&w.window()));
    ASSERT_EQ(native.popup(Native::colorPreset).count(), 2);
    EXPECT_EQ(native.popup(Native::colorPreset).itemText(1), "Value 0x7A");
    EXPECT_EQ(native.popup(Native::inputSource).count(), 2);

    QComboBox& input = native.popup(Native::inputSource);
    input.setFocus();
    QTest::keyClick(&input, Qt::Key_Down);
    desk->advance(0.5);
    auto reg = desk->monitor->vcpRegister(0x60);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->current, 0x11);
    // Choosing the item already shown writes too; the refresh does not put the first back.
    desk->monitor->defineRegister(0x60, 0x0F, 0xFF);
    emit input.activated(1);
    desk->advance(5.5);
    EXPECT_EQ(desk->monitor->vcpRegister(0x60)->current, 0x11);
    EXPECT_EQ(input.currentIndex(), 1);
}

TEST_F(PreferencesWindowTest, LocationFieldsParseWholeNumbersOnly) {
    start();
    auto& w = open();
    LocationSection& location = w.location();
    EXPECT_EQ(location.latitudeField().text(), "40.7128");
    EXPECT_EQ(location.longitudeField().text(), "-74.0060");
    struct Case {
        const char* typed;
        double stored;
    };
    for (Case c : {Case{"48.8566", 48.8566}, Case{" 48.8566", 40.7128}, Case{"48,8566", 40.7128},
                   Case{"north", 40.7128}, Case{"48.8566 ", 40.7128}, Case{"-33.9", -33.9},
                   Case{"1e1", 10.0}, Case{"nan", 40.7128}, Case{"", 40.7128}}) {
        QLineEdit& field = location.latitudeField();
        field.setFocus();
        field.selectAll();
        QTest::keyClick(&field, Qt::Key_Backspace);
        QTest::keyClicks(&field, c.typed);
        QTest::keyClick(&field, Qt::Key_Return);
        EXPECT_DOUBLE_EQ(settings().doubleValue("userLat").value_or(-1), c.stored) << c.typed;
        EXPECT_EQ(field.text(), QString::asprintf("%.4f", c.stored)) << c.typed;
        EXPECT_DOUBLE_EQ(settings().doubleValue("userLon").value_or(-1), -74.006);
    }
    EXPECT_TRUE(LocationSection::parseCoordinate("+12.5").has_value());
    EXPECT_FALSE(LocationSection::parseCoordinate("12.5.1").has_value());
    EXPECT_FALSE(LocationSection::parseCoordinate("inf").has_value());
}

TEST_F(PreferencesWindowTest, SolarLineTellsTheCadence) {
    // 2024-06-21 09:00 UTC: New York's sunrise was hours ago; noon is not near either.
    start();
    auto& w = open();
    QString line = w.location().solarLabel().text();
    EXPECT_TRUE(line.startsWith("Sunrise ")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(" · cadence: 20 min (solar window)") ||
                line.endsWith(" · cadence: 60 min"));
    w.location().applyLocation(78.0, 15.0);
    EXPECT_EQ(w.location().solarLabel().text(),
              "No sunrise/sunset today (polar day or night) · cadence: 60 min");
    // A latitude the schedule cannot use: it samples at the default latitude, and the line
    // says what it does, not "polar".
    w.location().applyLocation(40.7128, 15.0);
    const QString usable = w.location().solarLabel().text();
    ASSERT_TRUE(usable.startsWith("Sunrise "));
    w.location().applyLocation(95.0, 15.0);
    EXPECT_EQ(w.location().solarLabel().text(), usable);
}

TEST_F(PreferencesWindowTest, FollowTheRoomCloselyIsOneClickForThisMachine) {
    start();
    auto& w = open();
    QCheckBox& box = w.followRoomCheckbox();
    EXPECT_EQ(box.text(),
              "Follow the room closely — measure every 10 minutes while you are at the desk");
    EXPECT_FALSE(box.isChecked());
    const QString usual = w.location().solarLabel().text();
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, box.height() / 2));
    EXPECT_TRUE(box.isChecked());
    EXPECT_TRUE(settings().machineBoolean("followRoomClosely"));
    EXPECT_DOUBLE_EQ(desk->app->nextSnapshotAt() - desk->env.clock.now(), 600);
    EXPECT_TRUE(desk->app->menu().row(MenuItemId::samples).title.ends_with("(10m)"));
    QString close = w.location().solarLabel().text();
    EXPECT_TRUE(close.contains(" · cadence: 10 min at the desk, else ")) << close.toStdString();
    EXPECT_TRUE(close.endsWith(usual.section(" · cadence: ", 1))) << close.toStdString();

    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, box.height() / 2));
    EXPECT_FALSE(settings().machineBoolean("followRoomClosely"));
    EXPECT_EQ(w.location().solarLabel().text(), usual);
    // Changed elsewhere (another window of this program, a script): the next refresh shows it.
    desk->app->setFollowRoomClosely(true);
    desk->advance(6);
    EXPECT_TRUE(box.isChecked());
}

TEST_F(PreferencesWindowTest, CurveEditsGoToTheMonitorsAnchorsAndTheStatusLine) {
    start();
    auto& w = open();
    CurveEditorView& curve = w.curveView();
    QTest::mouseClick(&curve, Qt::LeftButton, {}, QPoint(curve.width() / 2, curve.height() / 2));
    AnchorStore& anchors = desk->app->scope()->anchors();
    ASSERT_EQ(anchors.anchors().size(), 1u);
    EXPECT_DOUBLE_EQ(anchors.anchors()[0].weight, 3.0);
    EXPECT_EQ(curve.anchors().size(), 1u);
    EXPECT_EQ(w.statusLabel().text(), "Adapting from 1 anchor · now: day");
    // The preview is written through the debounce and holds off adapting for 5 minutes.
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), w.brightnessSlider().value());
    EXPECT_NEAR(desk->app->manualOverrideUntil(), desk->env.clock.now() - 0.2 + 300.0, 0.5);

    QTest::mouseClick(&w.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(anchors.anchors().empty());
    EXPECT_TRUE(curve.anchors().empty());
}

TEST_F(PreferencesWindowTest, ClickingTheMapPicksThePlaceAndDraggingOnlyPans) {
    start();
    auto& w = open();
    MapPickerView& map = w.location().map();
    QPoint spot(map.width() / 2 + 60, map.height() / 2 - 20);
    Coordinate expected = map.coordinateAt(spot);
    QTest::mouseClick(&map, Qt::LeftButton, {}, spot);
    EXPECT_NEAR(settings().doubleValue("userLat").value_or(0), expected.lat, 1e-9);
    EXPECT_NEAR(settings().doubleValue("userLon").value_or(0), expected.lon, 1e-9);
    EXPECT_EQ(w.location().latitudeField().text(), QString::asprintf("%.4f", expected.lat));

    double lat = expected.lat;
    // The click's region change animates; let it end before the drag.
    desk->advance(1.0);
    double centreLon = map.region().centre.lon;
    QTest::mousePress(&map, Qt::LeftButton, {}, spot);
    QMouseEvent move(QEvent::MouseMove, QPointF(spot) + QPointF(30, 10), map.mapToGlobal(spot),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&map, &move);
    QTest::mouseRelease(&map, Qt::LeftButton, {}, spot + QPoint(30, 10));
    EXPECT_DOUBLE_EQ(settings().doubleValue("userLat").value_or(0), lat);
    EXPECT_GT(std::abs(map.region().centre.lon - centreLon), 1.0);
}

TEST_F(PreferencesWindowTest, AnAnchorDragSurvivesTheRefreshAndCommitsWhereReleased) {
    start();
    auto& w = open();
    AnchorStore& anchors = desk->app->scope()->anchors();
    anchors.observe(60.0, 30.0, 9.0, 1.0);
    anchors.observe(200.0, 80.0, 9.0, 1.0);
    w.refreshSamples();
    CurveEditorView& curve = w.curveView();
    ASSERT_EQ(curve.anchors().size(), 2u);
    QPoint from = curve.viewPoint(curve.anchors()[0]).toPoint();
    QTest::mousePress(&curve, Qt::LeftButton, {}, from);
    auto drag = [&](QPoint to) {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), curve.mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&curve, &move);
    };
    drag(from + QPoint(20, -20));
    // The 5-second refresh fires under the hand.
    desk->advance(5.5);
    ASSERT_TRUE(curve.dragIndex());
    CurvePoint held = curve.curvePoint(from + QPoint(20, -20));
    EXPECT_NEAR(curve.anchors()[0].luma, held.luma, 1e-9);
    EXPECT_NEAR(curve.anchors()[0].brightness, held.brightness, 1e-9);
    QPoint to = from + QPoint(40, -40);
    drag(to);
    CurvePoint released = curve.curvePoint(to);
    QTest::mouseRelease(&curve, Qt::LeftButton, {}, to);
    auto editable = anchors.editable(9.0);
    ASSERT_EQ(editable.size(), 2u);
    EXPECT_NEAR(editable[0].luma, released.luma, 0.5);
    EXPECT_NEAR(editable[0].brightness, released.brightness, 0.5);
    // Each step was previewed on the monitor, through the debounce.
    desk->advance(0.2);
    EXPECT_EQ(desk->monitorBrightness(), static_cast<int>(std::lround(released.brightness)));
    EXPECT_EQ(w.brightnessSlider().value(), static_cast<int>(std::lround(released.brightness)));
}

TEST_F(PreferencesWindowTest, SeedFromHistoryRebuildsTheAnchorsFromTheLog) {
    start();
    auto& w = open();
    // A morning of the user's own choices, logged.
    for (int i = 0; i < 12; ++i) {
        desk->app->scope()->logger().log(Sample{desk->env.clock.now() - 3600.0 + i * 300.0,
                                                40.0 + i * 15.0, 20 + i * 5, 9, true});
    }
    desk->app->scope()->anchors().observe(128.0, 90.0, 9.0, 1.0);
    QTest::mouseClick(&w.seedButton(), Qt::LeftButton);
    desk->advance(0.1);
    const auto& seeded = desk->app->scope()->anchors().anchors();
    ASSERT_FALSE(seeded.empty());
    for (const Anchor& anchor : seeded) {
        EXPECT_NE(anchor.brightness, 90.0);
    }
    EXPECT_EQ(w.curveView().anchors().size(), desk->app->scope()->anchors().editable(9.0).size());
    EXPECT_TRUE(w.statusLabel().text().startsWith("Adapting from "));
}

TEST_F(PreferencesWindowTest, RefreshTimerRunsWhileOpenAndKeepsAnUnfinishedName) {
    start();
    auto& w = open();
    EXPECT_TRUE(w.timerRunning());
    QLineEdit& name = w.monitorNameField();
    name.setFocus();
    QTest::keyClicks(&name, " left");
    desk->advance(5.0);
    EXPECT_EQ(name.text(), "DELL U2720Q left");
    QTest::keyClick(&name, Qt::Key_Return);
    EXPECT_EQ(desk->registry->friendlyName(desk->app->scope()->monitor()), "DELL U2720Q left");
    w.window().close();
    EXPECT_FALSE(w.timerRunning());
    EXPECT_FALSE(w.window().isVisible());
    open();
    EXPECT_TRUE(w.timerRunning());
}

TEST_F(PreferencesWindowTest, StartAtLoginBoxShowsTheLoginItemAndSetsIt) {
    start();
    desk->loginItem->answerReads({false, ""});
    auto& w = open();
    QCheckBox* box = w.startAtLoginBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Start at login");
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
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    ASSERT_EQ(desk->loginItem->changes.size(), 1u);
    EXPECT_TRUE(desk->loginItem->changes[0].first);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    // What the row makes of the answer (failures included) shows in the box.
    desk->loginItem->answerChange({false, false, "Cannot write the entry."});
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(box->isEnabled());
}

// Refreshes come every 5 seconds and after every snapshot; a large log may take longer to
// read. While one read is under way further refreshes queue nothing behind it, and the one
// read that follows it shows what was appended meanwhile.
TEST_F(PreferencesWindowTest, ARefreshNeverQueuesBehindAnUnfinishedOne) {
    start();
    auto& w = open();
    desk->advance(1.0);
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
}

// Real time for the window as the program has it: timed on a clock of its own, run on the
// main queue (the program's two main queues share the main thread).
class RealTimeOnMain final : public Queue {
  public:
    RealTimeOnMain(VirtualClock& clock, Queue& main)
        : timing_(clock.makeQueue("real-time")), main_(main) {}
    const std::string& label() const override { return main_.label(); }
    void post(Task task) override { main_.post(std::move(task)); }
    WorkItemPtr postAfter(double seconds, Task task) override {
        auto item = std::make_shared<WorkItem>();
        timing_->postAfter(seconds, [&main = main_, item, task = std::move(task)]() mutable {
            main.post([item, task = std::move(task)] {
                if (!item->isCancelled()) {
                    task();
                }
            });
        });
        return item;
    }
    void sync(Task task) override { main_.sync(std::move(task)); }
    bool isCurrent() const override { return main_.isCurrent(); }

  private:
    std::unique_ptr<ManualQueue> timing_;
    Queue& main_;
};

// The refresh is for the person at the window, who lives in real time: a demo's time scale
// speeds up the desk, never the refresh.
TEST_F(PreferencesWindowTest, TheRefreshRunsOnRealTimeNotTheDesks) {
    VirtualClock real;
    std::unique_ptr<RealTimeOnMain> realTime;
    widgetsApp();
    SimulatedDesk::Options options;
    options.preferences = [&](SimulatedDesk& d, PreferencesHooks hooks) {
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
    };
    desk = std::make_unique<SimulatedDesk>(options);
    desk->launch();
    auto& w = open();
    // The first snapshot, the capabilities read and the commit of the anchor the first
    // reading started are over; the next snapshot is 20 minutes after the first.
    desk->advance(200.0);
    const Monitor monitor = desk->app->scope()->monitor();
    desk->registry->setFriendlyName("Renamed elsewhere", monitor);
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
