#include "ui/TrayMenuView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

#include "QtTestApp.h"
#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "ui/MenuPanelView.h"

// For the whole ui test program under LeakSanitizer: fontconfig keeps what it parsed of its
// configuration to the end of the process, and Qt's D-Bus tray what it introspected of the
// panel's watcher (its bus connections outlive the application, which tests never delete).
// OpenSSL's per-thread state of Qt's network thread is freed by the thread's own exit
// handler, which the check at the end of the process can overtake.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6DBus.so\nleak:libcrypto.so\n";
}

namespace pellora::test {
namespace {

using Id = MenuItemId;

// The tray's menu and, where there is no tray, the panel window: both views of one model.
struct TrayView : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    TrayMenuView view{model, "Pellora"};
    MenuPanelView panel{model};

    void click(Id id) {
        view.menu().popup({20, 20});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view.menu()));
        QTest::mouseClick(&view.menu(), Qt::LeftButton, {},
                          view.menu().actionGeometry(view.action(id)).center());
        view.menu().hide();
    }
};

// The model's writes change the entries in place (never rebuilt under an open menu). A name
// from the monitor or another machine shows as it is: tabs flattened in the menu, never
// markup in the panel. State rows are the panel's text, commands its buttons.
TEST_F(TrayView, BothViewsFollowTheRowsInPlace) {
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const QList<QAction*> entries = view.menu().actions();
    EXPECT_EQ(view.action(Id::snapshot)->shortcut().toString(), "Ctrl+N");
    EXPECT_EQ(panel.button(Id::snapshot)->toolTip(), "Ctrl+N");
    EXPECT_FALSE(view.action(Id::monitor)->isEnabled());
    EXPECT_FALSE(panel.button(Id::monitor)->isVisibleTo(&panel));
    EXPECT_EQ(panel.label(Id::startAtLogin), nullptr);  // the window's own checkbox
    EXPECT_FALSE(view.action(Id::camera)->isVisible());

    model.setTitle(Id::monitor, "Monitor: <b>A&B</b>\tC");
    EXPECT_EQ(view.action(Id::monitor)->text(), "Monitor: <b>A&&B</b> C");
    EXPECT_EQ(panel.label(Id::monitor)->text(), "Monitor: <b>A&B</b>\tC");
    EXPECT_EQ(panel.label(Id::monitor)->textFormat(), Qt::PlainText);
    // The camera row turns from hidden to a command and back.
    model.setAction(Id::camera, [] {});
    model.setHidden(Id::camera, false);
    EXPECT_TRUE(view.action(Id::camera)->isVisible());
    EXPECT_TRUE(panel.button(Id::camera)->isVisibleTo(&panel));
    model.setHidden(Id::camera, true);
    EXPECT_FALSE(panel.button(Id::camera)->isVisibleTo(&panel));
    EXPECT_FALSE(panel.label(Id::camera)->isVisibleTo(&panel));
    EXPECT_EQ(view.menu().actions(), entries);
    // Views that went stop listening; the others still follow.
    { MenuPanelView gone{model}; }
    { TrayMenuView gone{model, "Pellora"}; }
    model.setTitle(Id::mode, "Mode: Adapting");
    EXPECT_EQ(panel.label(Id::mode)->text(), "Mode: Adapting");
}

// A click runs the row's action only when shown and enabled. The check mark is the model's:
// a click the model has not (yet) taken up leaves it as it was; opening the menu tells the
// model, so rows that mirror the system look again.
TEST_F(TrayView, ClickRunsTheRowsActionAndTheCheckMarkIsTheModels) {
    std::vector<Id> ran;
    int opened = 0;
    for (Id id : {Id::snapshot, Id::preview, Id::camera, Id::startAtLogin, Id::quit}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setOnWillShow([&opened] { ++opened; });
    model.setEnabled(Id::preview, false);
    model.setEnabled(Id::camera, true);
    for (Id id : {Id::snapshot, Id::preview, Id::startAtLogin}) {
        click(id);
    }
    view.action(Id::camera)->trigger();  // enabled but hidden: out of the pointer's reach
    for (Id id : {Id::preview, Id::quit}) {
        QTest::mouseClick(panel.button(id), Qt::LeftButton);
    }
    EXPECT_EQ(ran, (std::vector<Id>{Id::snapshot, Id::startAtLogin, Id::quit}));
    EXPECT_EQ(opened, 3);
    QAction* row = view.action(Id::startAtLogin);
    EXPECT_FALSE(row->isChecked());
    model.setChecked(Id::startAtLogin, true);
    EXPECT_TRUE(row->isChecked());
}

// Without a tray the window carries the menu: the key a button names does what it says there,
// and only while its row may act.
TEST_F(TrayView, TheKeysThePanelNamesWorkInItsWindow) {
    std::vector<Id> ran;
    for (Id id : {Id::snapshot, Id::preview, Id::quit}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setEnabled(Id::preview, false);
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_EQ(panel.button(Id::snapshot)->toolTip(), "Ctrl+N");
    EXPECT_EQ(panel.button(Id::quit)->toolTip(), "Ctrl+Q");
    for (Qt::Key key : {Qt::Key_N, Qt::Key_V, Qt::Key_Q}) {
        QTest::keyClick(&panel, key, Qt::ControlModifier);
    }
    EXPECT_EQ(ran, (std::vector<Id>{Id::snapshot, Id::quit}));
    // Pasting into a field of the window stays pasting.
    model.setEnabled(Id::preview, true);
    QLineEdit field(&panel);
    field.show();
    field.setFocus();
    ASSERT_TRUE(runEventsUntil([&] { return field.hasFocus(); }, 2000));
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ran.size(), 2u);
}

// Light on a dark plate: the half circles show their filled half light on any panel.
TEST_F(TrayView, GlyphIsDrawnIntoTheIconAndNamedInTheTooltip) {
    auto image = [&] { return view.trayIcon().icon().pixmap(22).toImage(); };
    const QImage sun = image();
    for (auto [glyph, lightSide] :
         {std::pair{StatusMenu::warningGlyph, -1}, std::pair{StatusMenu::darkGlyph, 0},
          std::pair{StatusMenu::midGlyph, 1}}) {
        model.setGlyph(glyph);
        EXPECT_EQ(view.trayIcon().toolTip(), QString("Pellora ") + glyph);
        const QImage drawn = image();
        ASSERT_EQ(drawn.size(), QSize(22, 22));
        EXPECT_NE(drawn, sun);
        int light[2] = {0, 0}, dark = 0;
        for (int y = 0; y < 22; ++y) {
            for (int x = 0; x < 22; ++x) {
                const QColor c = drawn.pixelColor(x, y);
                light[x >= 11] += c.alpha() > 200 && c.lightness() > 200;
                dark += c.alpha() > 200 && c.lightness() < 60;
            }
        }
        EXPECT_GT(dark, 100) << glyph;
        if (lightSide >= 0) {
            EXPECT_GT(light[lightSide], 2 * light[1 - lightSide]) << glyph;
        }
    }
    // Drawn at the sizes XEmbed trays and the GNOME and KDE panels ask for, never scaled.
    const QList<QSize> sizes = view.trayIcon().icon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(22, 22)));
}

// Drawn again when a screen scaled more than the others is plugged in, so it is not a
// blurred enlargement there; the ctest entry UiScreenPluggedIn runs it on a display of its own.
TEST_F(TrayView, TheIconIsDrawnAgainForAScreenPluggedIn) {
    const QString plug = qEnvironmentVariable("PELLORA_PLUG_SCREENS");
    if (plug.isEmpty()) {
        GTEST_SKIP() << "plugs screens into the display: run as UiScreenPluggedIn";
    }
    const auto sharpAtTwice = [&] {
        return view.trayIcon().icon().availableSizes().contains(QSize(44, 44));
    };
    ASSERT_EQ(qGuiApp->devicePixelRatio(), 1.0);
    ASSERT_FALSE(sharpAtTwice());
    ASSERT_EQ(QProcess::execute("sh", {"-c", plug}), 0);
    ASSERT_TRUE(QTest::qWaitFor([] { return qGuiApp->devicePixelRatio() == 2.0; }));
    EXPECT_TRUE(sharpAtTwice());
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
