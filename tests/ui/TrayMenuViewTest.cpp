#include "ui/TrayMenuView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "ui/TrayIndicator.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

// One line per menu entry: "--" for a separator, else the text, "off" when disabled,
// "hidden" when invisible, then the shortcut.
std::vector<QString> shown(QMenu& menu) {
    std::vector<QString> lines;
    for (QAction* entry : menu.actions()) {
        QStringList parts{entry->isSeparator() ? "--" : entry->text()};
        parts << (entry->isEnabled() ? "" : "off") << (entry->isVisible() ? "" : "hidden")
              << entry->shortcut().toString();
        parts.removeAll("");
        lines.push_back(parts.join('|'));
    }
    return lines;
}

QImage iconImage(const QIcon& icon, int size) {
    return icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct TrayView : ::testing::Test {
    QApplication& app = widgetsApp();
    StatusMenu model{PlatformTexts::linuxDesktop()};
    TrayMenuView view{model, "Pellora"};
};

TEST_F(TrayView, MenuHasTheRowsInOrderWithSeparatorsStatesAndShortcuts) {
    const std::vector<QString> launch = {"Monitor: —|off",
                                         "--",
                                         "Luma: —|off",
                                         "Brightness: —|off",
                                         "Mode: —|off",
                                         "Samples: 0|off",
                                         "Last snapshot: never|off",
                                         "off|hidden",
                                         "off|hidden",
                                         "--",
                                         "Start adapting|Ctrl+A",
                                         "Snapshot now|Ctrl+N",
                                         "Preview adjustment|Ctrl+V",
                                         "Preferences…|Ctrl+,",
                                         "Check for Updates…",
                                         "--",
                                         "Reveal samples in file manager|Ctrl+S",
                                         "Enable camera access…",
                                         "Log camera diagnostics",
                                         "Re-check camera permission (video group)",
                                         "Reveal debug dump in file manager",
                                         "Probe monitor capabilities (may stall DDC briefly)",
                                         "Quit|Ctrl+Q"};
    EXPECT_EQ(shown(view.menu()), launch);
    EXPECT_EQ(view.trayIcon().contextMenu(), &view.menu());
    EXPECT_EQ(view.isTrayAvailable(), QSystemTrayIcon::isSystemTrayAvailable());
}

TEST_F(TrayView, ModelChangeTouchesOnlyItsOwnEntry) {
    const QList<QAction*> entries = view.menu().actions();
    struct Case {
        std::function<void()> change;
        int line;
        QString expected;
    } cases[] = {
        // A name from a monitor or another machine is shown as it is, tabs flattened.
        {[&] { model.setTitle(Id::monitor, "Monitor: A&B\tU2720"); }, 0, "Monitor: A&&B U2720|off"},
        {[&] { model.setEnabled(Id::toggleMode, false); }, 10, "Start adapting|off|Ctrl+A"},
        {[&] { model.setHidden(Id::camera, false); }, 7, "off"},
        {[&] { model.setTitle(Id::camera, "⚠︎ No camera"); }, 7, "⚠︎ No camera|off"},
    };
    for (const Case& c : cases) {
        std::vector<QString> expected = shown(view.menu());
        expected[c.line] = c.expected;
        c.change();
        EXPECT_EQ(shown(view.menu()), expected) << c.expected.toStdString();
    }
    EXPECT_EQ(view.menu().actions(), entries);  // the same entries: nothing was rebuilt
}

TEST_F(TrayView, ClickRunsTheRowsActionOnlyWhenShownAndEnabled) {
    std::vector<Id> ran;
    for (Id id : {Id::snapshot, Id::preview, Id::camera}) {
        model.setAction(id, [&ran, id] { ran.push_back(id); });
    }
    model.setEnabled(Id::preview, false);
    QMenu& menu = view.menu();
    for (Id id : {Id::snapshot, Id::preview}) {
        menu.popup({20, 20});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(view.action(id)).center());
        menu.hide();
    }
    view.action(Id::camera)->trigger();  // hidden: not reachable by the pointer either
    EXPECT_EQ(ran, std::vector<Id>{Id::snapshot});
}

TEST_F(TrayView, GlyphIsDrawnIntoTheIconAndNamedInTheTooltip) {
    const QImage sun = iconImage(view.trayIcon().icon(), 22);
    EXPECT_EQ(view.trayIcon().toolTip(), "Pellora ☀");
    model.setGlyph(StatusMenu::warningGlyph);
    EXPECT_EQ(view.trayIcon().toolTip(), "Pellora ⚠︎");
    ASSERT_FALSE(sun.isNull());
    EXPECT_EQ(sun.size(), QSize(22, 22));
    EXPECT_NE(sun, iconImage(view.trayIcon().icon(), 22));
    for (int size : {16, 22, 24, 32, 48}) {
        EXPECT_TRUE(view.trayIcon().icon().availableSizes().contains(QSize(size, size))) << size;
    }
}

// Light on dark whatever the panel: the half-filled circles show their light half on the side
// the glyph fills.
TEST_F(TrayView, HalfCirclesShowWhichHalfIsFilled) {
    for (auto [glyph, leftLighter] :
         {std::pair{StatusMenu::darkGlyph, true}, std::pair{StatusMenu::midGlyph, false}}) {
        const QImage image = iconImage(TrayMenuView::glyphIcon(glyph), 22);
        EXPECT_LT(image.pixelColor(0, 0).alpha(), 128);  // rounded corner
        int light[2] = {0, 0}, dark = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                light[x >= 11] += c.alpha() > 200 && c.lightness() > 200;
                dark += c.alpha() > 200 && c.lightness() < 60;
            }
        }
        EXPECT_GT(dark, 100) << glyph;
        EXPECT_GT(leftLighter ? light[0] : light[1], 2 * (leftLighter ? light[1] : light[0]))
            << glyph << " " << light[0] << "/" << light[1];
    }
}

TEST_F(TrayView, IndicatorSaysTheBrightnessAndItsChange) {
    EXPECT_EQ(TrayIndicator::text(63, 3), "Brightness 63 (+3)");
    EXPECT_EQ(TrayIndicator::text(60, -3), "Brightness 60 (\u22123)");
    EXPECT_EQ(TrayIndicator::text(63, 0), "Brightness 63");
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIndicator(view.trayIcon()).show(63, 3);
        QCoreApplication::processEvents();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            EXPECT_FALSE(window->isVisible()) << window->metaObject()->className();
        }
    }
}

}  // namespace
}  // namespace pellora::test
