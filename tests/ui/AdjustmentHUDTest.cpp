#include "ui/AdjustmentHUD.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "VirtualClock.h"
#include "WidgetsTestApp.h"
#include "platform/OnScreenDisplay.h"

namespace pellora::test {
namespace {

using Phase = AdjustmentHUD::Phase;

struct HudTest : ::testing::Test {
    QApplication& app = widgetsApp();
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
};

TEST_F(HudTest, TextAndFillFollowTheValue) {
    const std::tuple<int, int, QString, double> cases[] = {{0, 0, "Brightness 0%", 0},
                                                           {55, 3, "\u2191 Brightness 55%", 85.8},
                                                           {100, -5, "\u2193 Brightness 100%", 156},
                                                           {130, 3, "\u2191 Brightness 130%", 156}};
    AdjustmentHUD hud(*main, clock, nullptr, false);
    for (const auto& [brightness, delta, text, fill] : cases) {
        hud.show(brightness, delta);
        EXPECT_EQ(hud.text(), text);
        // The fill slides there with the fade-in and ends exactly on it.
        clock.advance(AdjustmentHUD::kFadeInSeconds);
        EXPECT_NEAR(hud.shownFillWidth(), fill, 1e-9) << brightness;
    }
}

// Sampled every tick from the first show: the phases the panel went through, each once per
// stretch, and when it was last seen visible. A show during the fade-out comes back up from
// where the fade had got to.
TEST_F(HudTest, StaysUntilTheHoldAfterTheLastShowThenFadesOnce) {
    AdjustmentHUD hud(*main, clock, nullptr, false);
    std::vector<Phase> phases;
    double lastVisible = 0;
    const double start = clock.monotonic();
    auto sampleFor = [&](double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.01) {
            clock.advance(0.01);
            if (phases.empty() || phases.back() != hud.phase()) {
                phases.push_back(hud.phase());
            }
            lastVisible = hud.isVisible() ? clock.monotonic() - start : lastVisible;
        }
    };
    for (int i = 0; i < 2; ++i) {
        hud.show(40 + i * 5, 5);
        sampleFor(1.0);
    }
    sampleFor(2.0);
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::FadingIn, Phase::Shown, Phase::FadingIn,
                                          Phase::Shown, Phase::FadingOut, Phase::Hidden}));
    // Second show at 1.0: hidden 1.6 + 0.45 later, within one 10 ms sample.
    EXPECT_NEAR(lastVisible, 1.0 + 1.6 + 0.45, 0.011);
    EXPECT_EQ(clock.pendingCount(), 0u);  // no tick left running once hidden

    hud.show(50, 0);
    clock.advance(AdjustmentHUD::kHoldSeconds + 0.3);
    ASSERT_EQ(hud.phase(), Phase::FadingOut);
    const double faded = hud.opacity();
    hud.show(60, 10);
    EXPECT_NEAR(hud.opacity(), faded, 1e-9);
    clock.advance(0.2);  // past where the old fade-out would have hidden it
    EXPECT_TRUE(hud.isVisible());
    clock.advance(AdjustmentHUD::kFadeInSeconds);
    EXPECT_DOUBLE_EQ(hud.opacity(), 1.0);
}

TEST_F(HudTest, AnOverlayThatTakesNoFocusAtTheTopCentreOfThePointersScreen) {
    AdjustmentHUD hud(*main, clock, nullptr, false);
    for (auto flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                      Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput}) {
        EXPECT_TRUE(hud.windowFlags().testFlag(flag)) << flag;
    }
    QWidget other;
    other.setGeometry(300, 300, 200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QScreen* screen = QGuiApplication::primaryScreen();
    QCursor::setPos(screen->geometry().center());
    hud.show(70, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hud));
    QTest::qWait(50);
    // The off-screen platform (no display at all) activates whatever is shown.
    if (QGuiApplication::platformName() != "offscreen") {
        EXPECT_EQ(QApplication::activeWindow(), &other);
    }
    const QRect frame = screen->geometry();
    EXPECT_EQ(hud.geometry(), QRect(frame.x() + (frame.width() - 220) / 2,
                                    screen->availableGeometry().y() + 14, 220, 74));
    if (QGuiApplication::platformName() == "xcb") {
        // Corners cut and the fade done by the X server, for desktops with no compositor.
        EXPECT_FALSE(hud.mask().contains(QPoint(0, 0)));
        clock.advance(AdjustmentHUD::kHoldSeconds + 0.2);
        EXPECT_LT(hud.windowOpacity(), 0.99);
    }
}

// What reaches the screen, where the X server cuts the corners: on a screen scaled other
// than the one the panel was made on (a laptop beside a monitor), all of the panel, its far
// corner as filled as its near one.
TEST_F(HudTest, TheWholePanelReachesEveryScreen) {
    if (QGuiApplication::platformName() != "xcb") {
        GTEST_SKIP() << "needs an X server";
    }
    AdjustmentHUD hud(*main, clock, nullptr, false);
    for (QScreen* screen : QGuiApplication::screens()) {
        QCursor::setPos(screen->geometry().center());
        hud.show(70, 0);
        clock.advance(AdjustmentHUD::kFadeInSeconds);
        QTest::qWait(200);
        const QPoint origin = hud.geometry().topLeft() - screen->geometry().topLeft();
        const QImage shown = screen->grabWindow(0, origin.x(), origin.y(), 220, 74).toImage();
        const qreal ratio = shown.devicePixelRatio();
        const auto at = [&](int x, int y) { return shown.pixelColor(QPoint(x, y) * ratio); };
        EXPECT_EQ(at(200, 6).name().toStdString(), at(20, 6).name().toStdString())
            << screen->name().toStdString();
        EXPECT_EQ(at(200, 68).name().toStdString(), at(20, 6).name().toStdString())
            << screen->name().toStdString();
    }
}

// A desktop display that answers when the test says.
struct FakeOsd : OnScreenDisplay {
    std::vector<int> shown;
    std::vector<std::function<void(bool)>> answers;
    void showBrightness(int percent, std::function<void(bool)> done) override {
        shown.push_back(percent);
        answers.push_back(std::move(done));
    }
};

TEST_F(HudTest, OnWaylandTheDesktopsDisplayIsAskedFirstAndGivenUpAfterAFailure) {
    FakeOsd osd;
    AdjustmentHUD(*main, clock, &osd, false).show(30, 0);  // not asked outside Wayland
    EXPECT_TRUE(osd.shown.empty());
    AdjustmentHUD hud(*main, clock, &osd, true);
    hud.show(130, 5);
    hud.show(-3, -5);
    EXPECT_EQ(osd.shown, (std::vector<int>{100, 0}));
    osd.answers[0](true);
    EXPECT_FALSE(hud.isVisible());
    // The first failure shows the latest value here; from then on the desktop is not asked.
    osd.answers[1](false);
    EXPECT_TRUE(hud.isVisible());
    EXPECT_EQ(hud.text(), "\u2193 Brightness -3%");
    hud.show(44, 1);
    EXPECT_EQ(osd.shown.size(), 2u);
    // An answer after the indicator is gone touches nothing.
    auto late = std::make_unique<AdjustmentHUD>(*main, clock, &osd, true);
    late->show(10, 0);
    late.reset();
    osd.answers.back()(false);
    clock.advance(5);
}

}  // namespace
}  // namespace pellora::test
