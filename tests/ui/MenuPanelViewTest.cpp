#include "ui/MenuPanelView.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "ui/TrayMenuView.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

// What the panel shows, top to bottom: "--" for a line, "label:" or "button:" and the
// text, "off" for a disabled button. Hidden widgets are left out.
QStringList shown(const MenuPanelView& panel, const StatusMenu& model) {
    QStringList lines;
    for (const MenuRow& row : model.rows()) {
        if (panel.label(row.id) == nullptr) {
            continue;
        }
        if (QFrame* line = panel.separatorBefore(row.id); line && line->isVisibleTo(&panel)) {
            lines << "--";
        }
        if (panel.label(row.id)->isVisibleTo(&panel)) {
            lines << "label:" + panel.label(row.id)->text();
        }
        if (QToolButton* button = panel.button(row.id); button->isVisibleTo(&panel)) {
            lines << "button:" + button->text() + (button->isEnabled() ? "" : "|off");
        }
    }
    return lines;
}

struct MenuPanel : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    MenuPanelView panel{model};
};

TEST_F(MenuPanel, RowsInOrderStateAsTextCommandsAsButtons) {
    EXPECT_EQ(shown(panel, model).join(" ; "),
              "label:Monitor: — ; -- ; label:Luma: — ; label:Brightness: — ; label:Mode: — ; "
              "label:Samples: 0 ; label:Last snapshot: never ; -- ; button:Start adapting ; "
              "button:Snapshot now ; button:Preview adjustment ; button:Preferences… ; "
              "button:Check for Updates… ; -- ; button:Reveal samples in file manager ; "
              "button:Enable camera access… ; button:Log camera diagnostics ; "
              "button:Re-check camera permission (video group) ; "
              "button:Reveal debug dump in file manager ; "
              "button:Probe monitor capabilities (may stall DDC briefly) ; button:Quit");
    EXPECT_EQ(panel.button(Id::snapshot)->toolTip(), "Ctrl+N");
    // A check-mark row is the window's own checkbox, not a row of the panel.
    EXPECT_EQ(panel.label(Id::startAtLogin), nullptr);
    EXPECT_EQ(panel.button(Id::startAtLogin), nullptr);
}

TEST_F(MenuPanel, ClickRunsTheRowsActionOnlyWhenEnabled) {
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
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

// The controller's writes reach the panel and the tray alike, each to the row written.
TEST_F(MenuPanel, FollowsTheMenuBesideTheTray) {
    auto tray = std::make_unique<TrayMenuView>(model, "Pellora");
    QLabel* monitor = panel.label(Id::monitor);
    const struct {
        std::function<void()> change;
        QString line;
    } steps[] = {
        // A name from the monitor is text, never markup or a mnemonic.
        {[&] { model.setTitle(Id::monitor, "Monitor: <b>A&B</b>"); }, "label:Monitor: <b>A&B</b>"},
        {[&] { model.setTitle(Id::samples, "Samples: 12 · next 14:20 (60m)"); },
         "label:Samples: 12 · next 14:20 (60m)"},
        // The camera row turns from hidden to a command the user can click.
        {[&] {
             model.setTitle(Id::camera, "Camera not responding — click to retry");
             model.setAction(Id::camera, [] {});
             model.setEnabled(Id::camera, true);
             model.setHidden(Id::camera, false);
         },
         "button:Camera not responding — click to retry"},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_TRUE(shown(panel, model).contains(step.line)) << step.line.toStdString();
    }
    EXPECT_EQ(monitor->textFormat(), Qt::PlainText);
    EXPECT_EQ(panel.button(Id::camera)->text(), "Camera not responding — click to retry");
    EXPECT_EQ(tray->action(Id::monitor)->text(), "Monitor: <b>A&&B</b>");
    EXPECT_TRUE(tray->action(Id::camera)->isVisible());

    model.setHidden(Id::camera, true);
    EXPECT_FALSE(panel.button(Id::camera)->isVisibleTo(&panel));
    EXPECT_FALSE(panel.label(Id::camera)->isVisibleTo(&panel));
    // Without the panel, the tray still follows.
    { MenuPanelView gone{model}; }
    tray.reset();
    auto again = std::make_unique<TrayMenuView>(model, "Pellora");
    model.setTitle(Id::mode, "Mode: Adapting");
    EXPECT_EQ(again->action(Id::mode)->text(), "Mode: Adapting");
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
