#include "ui/TrayMenuView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"

// For the whole ui test program under LeakSanitizer: fontconfig keeps what it parsed of its
// configuration to the end of the process, and Qt's D-Bus tray what it introspected of the
// panel's watcher (its bus connections outlive the application, which tests never delete).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6DBus.so\n";
}

namespace pellora::test {
namespace {

using Id = MenuItemId;

struct TrayView : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    TrayMenuView view{model, "Pellora"};

    void click(Id id) {
        view.menu().popup({20, 20});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view.menu()));
        QTest::mouseClick(&view.menu(), Qt::LeftButton, {},
                          view.menu().actionGeometry(view.action(id)).center());
        view.menu().hide();
    }
};

// The model's writes change the entries in place (never rebuilt under an open menu); a name
// from the monitor or another machine shows as it is, tabs flattened.
TEST_F(TrayView, EntriesShowTheRowsAndChangeInPlace) {
    const QList<QAction*> entries = view.menu().actions();
    EXPECT_EQ(entries.size(), 25);
    EXPECT_EQ(view.action(Id::snapshot)->shortcut().toString(), "Ctrl+N");
    EXPECT_FALSE(view.action(Id::monitor)->isEnabled());
    EXPECT_FALSE(view.action(Id::camera)->isVisible());
    model.setTitle(Id::monitor, "Monitor: A&B\tC");
    model.setEnabled(Id::toggleMode, false);
    model.setHidden(Id::camera, false);
    EXPECT_EQ(view.action(Id::monitor)->text(), "Monitor: A&&B C");
    EXPECT_FALSE(view.action(Id::toggleMode)->isEnabled());
    EXPECT_TRUE(view.action(Id::camera)->isVisible());
    EXPECT_EQ(view.menu().actions(), entries);
}

// A click runs the row's action only when shown and enabled. The check mark is the model's:
// a click the model has not (yet) taken up leaves it as it was; opening the menu tells the
// model, so rows that mirror the system look again.
TEST_F(TrayView, ClickRunsTheRowsActionAndTheCheckMarkIsTheModels) {
    std::vector<Id> ran;
    int opened = 0;
    for (Id id : {Id::snapshot, Id::preview, Id::camera, Id::startAtLogin}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setOnWillShow([&opened] { ++opened; });
    model.setEnabled(Id::preview, false);
    model.setEnabled(Id::camera, true);
    for (Id id : {Id::snapshot, Id::preview, Id::startAtLogin}) {
        click(id);
    }
    view.action(Id::camera)->trigger();  // enabled but hidden: out of the pointer's reach
    EXPECT_EQ(ran, (std::vector<Id>{Id::snapshot, Id::startAtLogin}));
    EXPECT_EQ(opened, 3);
    QAction* row = view.action(Id::startAtLogin);
    EXPECT_FALSE(row->isChecked());
    model.setChecked(Id::startAtLogin, true);
    EXPECT_TRUE(row->isChecked());
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
    EXPECT_TRUE(view.trayIcon().icon().availableSizes().contains(QSize(16, 16)));
}

}  // namespace
}  // namespace pellora::test
