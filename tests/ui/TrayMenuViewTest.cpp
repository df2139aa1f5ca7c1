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

// One line per entry: "--" for a separator, else its text, "off" when disabled, "hidden"
// when invisible, its check mark, and its shortcut.
QStringList shown(QMenu& menu) {
    QStringList lines;
    for (QAction* entry : menu.actions()) {
        QStringList parts{entry->isSeparator() ? "--" : entry->text(),
                          entry->isEnabled() ? "" : "off", entry->isVisible() ? "" : "hidden",
                          !entry->isCheckable() ? ""
                          : entry->isChecked()  ? "checked"
                                                : "unchecked",
                          entry->shortcut().toString()};
        parts.removeAll("");
        lines << parts.join('|');
    }
    return lines;
}

struct TrayView : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    TrayMenuView view{model, "Pellora"};
};

TEST_F(TrayView, EntriesFollowTheRowsAndChangeInPlace) {
    EXPECT_EQ(shown(view.menu()).join(" ; "),
              "Monitor: —|off ; -- ; Luma: —|off ; Brightness: —|off ; Mode: —|off ; "
              "Samples: 0|off ; Last snapshot: never|off ; off|hidden ; off|hidden ; off|hidden ; "
              "-- ; "
              "Start adapting|Ctrl+A ; Snapshot now|Ctrl+N ; Preview adjustment|Ctrl+V ; "
              "Preferences…|Ctrl+, ; Check for Updates… ; Start at login|unchecked ; -- ; "
              "Reveal samples in file manager|Ctrl+S ; Enable camera access… ; "
              "Log camera diagnostics ; Re-check camera permission (video group) ; "
              "Reveal debug dump in file manager ; "
              "Probe monitor capabilities (may stall DDC briefly) ; Quit|Ctrl+Q");
    const QList<QAction*> entries = view.menu().actions();
    const std::tuple<std::function<void()>, int, QString> changes[] = {
        // A name from the monitor or another machine shows as it is, tabs flattened.
        {[&] { model.setTitle(Id::monitor, "Monitor: A&B\tC"); }, 0, "Monitor: A&&B C|off"},
        {[&] { model.setEnabled(Id::toggleMode, false); }, 11, "Start adapting|off|Ctrl+A"},
        {[&] { model.setHidden(Id::camera, false); }, 7, "off"},
        {[&] { model.setChecked(Id::startAtLogin, true); }, 16, "Start at login|checked"},
    };
    for (const auto& [change, line, text] : changes) {
        QStringList expected = shown(view.menu());
        expected[line] = text;
        change();
        EXPECT_EQ(shown(view.menu()), expected) << text.toStdString();
    }
    EXPECT_EQ(view.menu().actions(), entries);  // nothing rebuilt under an open menu
}

TEST_F(TrayView, ClickRunsTheRowsActionOnlyWhenShownAndEnabled) {
    std::vector<Id> ran;
    for (Id id : {Id::snapshot, Id::preview, Id::camera}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setEnabled(Id::preview, false);
    for (Id id : {Id::snapshot, Id::preview}) {
        view.menu().popup({20, 20});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view.menu()));
        QTest::mouseClick(&view.menu(), Qt::LeftButton, {},
                          view.menu().actionGeometry(view.action(id)).center());
        view.menu().hide();
    }
    view.action(Id::camera)->trigger();  // hidden, so out of the pointer's reach anyway
    EXPECT_EQ(ran, std::vector<Id>{Id::snapshot});
}

// The check mark is the model's: a click that the model has not (yet) taken up leaves it
// as it was, and opening the menu lets the rows look again at what they mirror.
TEST_F(TrayView, CheckMarkShowsTheModelAndOpeningTellsIt) {
    int clicks = 0, opened = 0;
    model.setAction(Id::startAtLogin, [&clicks] { ++clicks; });
    model.setOnWillShow([&opened] { ++opened; });
    view.menu().popup({20, 20});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view.menu()));
    EXPECT_EQ(opened, 1);
    QAction* row = view.action(Id::startAtLogin);
    QTest::mouseClick(&view.menu(), Qt::LeftButton, {}, view.menu().actionGeometry(row).center());
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(row->isChecked());
    model.setChecked(Id::startAtLogin, true);
    EXPECT_TRUE(row->isChecked());
}

// Light on a dark plate: the half circles show their filled half light on any panel.
TEST_F(TrayView, GlyphIsDrawnIntoTheIconAndNamedInTheTooltip) {
    auto image = [&] { return view.trayIcon().icon().pixmap(22).toImage(); };
    const QImage sun = image();
    EXPECT_EQ(view.trayIcon().toolTip(), "Pellora ☀");
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
