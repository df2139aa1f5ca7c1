#include "ui/MenuPanelView.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "ui/TrayMenuView.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

struct MenuPanel : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    MenuPanelView panel{model};
};

// State rows are text, commands are buttons that run only when enabled; a check-mark row is
// the window's own checkbox, not a row of the panel.
TEST_F(MenuPanel, StateAsTextCommandsAsButtons) {
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_TRUE(panel.label(Id::monitor)->isVisibleTo(&panel));
    EXPECT_FALSE(panel.button(Id::monitor)->isVisibleTo(&panel));
    EXPECT_EQ(panel.button(Id::snapshot)->text(), "Snapshot now");
    EXPECT_EQ(panel.button(Id::snapshot)->toolTip(), "Ctrl+N");
    EXPECT_EQ(panel.label(Id::startAtLogin), nullptr);
    std::vector<Id> ran;
    for (Id id : {Id::snapshot, Id::toggleMode, Id::quit}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setEnabled(Id::toggleMode, false);
    for (Id id : {Id::snapshot, Id::toggleMode, Id::quit}) {
        QTest::mouseClick(panel.button(id), Qt::LeftButton);
    }
    EXPECT_EQ(ran, (std::vector<Id>{Id::snapshot, Id::quit}));
}

// The controller's writes reach the panel and the tray alike; a name from the monitor is
// text, never markup; the camera row turns from hidden to a command and back.
TEST_F(MenuPanel, FollowsTheMenuBesideTheTray) {
    auto tray = std::make_unique<TrayMenuView>(model, "Pellora");
    model.setTitle(Id::monitor, "Monitor: <b>A&B</b>");
    EXPECT_EQ(panel.label(Id::monitor)->text(), "Monitor: <b>A&B</b>");
    EXPECT_EQ(panel.label(Id::monitor)->textFormat(), Qt::PlainText);
    EXPECT_EQ(tray->action(Id::monitor)->text(), "Monitor: <b>A&&B</b>");
    model.setTitle(Id::camera, "Camera not responding — click to retry");
    model.setAction(Id::camera, [] {});
    model.setEnabled(Id::camera, true);
    model.setHidden(Id::camera, false);
    EXPECT_TRUE(panel.button(Id::camera)->isVisibleTo(&panel));
    EXPECT_EQ(panel.button(Id::camera)->text(), "Camera not responding — click to retry");
    EXPECT_TRUE(tray->action(Id::camera)->isVisible());
    model.setHidden(Id::camera, true);
    EXPECT_FALSE(panel.button(Id::camera)->isVisibleTo(&panel));
    EXPECT_FALSE(panel.label(Id::camera)->isVisibleTo(&panel));
    // Views that went stop listening; the others still follow.
    { MenuPanelView gone{model}; }
    tray.reset();
    model.setTitle(Id::mode, "Mode: Adapting");
    EXPECT_EQ(panel.label(Id::mode)->text(), "Mode: Adapting");
}

TEST(StatusMenuObservers, EachToldInOrderAndRemovalWhileToldIsSafe) {
    StatusMenu model{PlatformTexts::linuxDesktop()};
    std::vector<std::string> told;
    int second = 0;
    const int first = model.addObserver([&](std::optional<MenuItemId> id) {
        told.push_back(id ? "first row" : "first glyph");
        // Takes the second one away before its turn, and itself.
        model.removeObserver(second);
        model.removeObserver(first);
    });
    second = model.addObserver([&](auto) { told.push_back("second"); });
    model.addObserver([&](auto) { told.push_back("third"); });
    model.setGlyph(StatusMenu::idleGlyph);
    model.setTitle(Id::luma, "Luma: 80.0");
    EXPECT_EQ(told, (std::vector<std::string>{"first glyph", "third", "third"}));
}

}  // namespace
}  // namespace pellora::test
