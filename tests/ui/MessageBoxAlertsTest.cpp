#include "ui/MessageBoxAlerts.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "WidgetsTestApp.h"
#include "ui/ApplicationIcon.h"

namespace pellora::test {
namespace {

// One box per message, blocking nothing; a click answers its button, a dismissal nothing.
// Texts may come from outside (a feed's notes, a device's name): shown as they are, a word
// wider than the box can grow (a link, a path) wrapped like the rest, not cut at its edge.
// A message told again while up says what it is told now: a camera re-check that finds
// access granted must not leave the box saying access is refused.
TEST(MessageBoxAlerts, ClickAnswersItsButtonDismissalNothingAndOneBoxPerMessage) {
    widgetsApp();
    MessageBoxAlerts alerts("Pellora");
    std::vector<int> answers;
    const std::string link = "Faster start.\n\nhttps://example.org/" + std::string(300, 'x');
    auto present = [&](const std::string& message, const std::string& details) {
        alerts.present(message, details, {"Quit app", "Later"},
                       [&](int button) { answers.push_back(button); });
        QMessageBox* box = alerts.shown(message);
        return box != nullptr && QTest::qWaitForWindowExposed(box) ? box : nullptr;
    };
    auto boxesUp = [] {
        QCoreApplication::processEvents();
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::count_if(windows.begin(), windows.end(), [](QWidget* window) {
            return window->isVisible() && qobject_cast<QMessageBox*>(window);
        });
    };
    QMessageBox* first = present("Pellora <i>9</i> is available", link);
    ASSERT_NE(first, nullptr);
    auto* label = first->findChild<QLabel*>("qt_msgbox_informativelabel");
    EXPECT_LE(label->minimumSizeHint().width(), label->width());
    EXPECT_EQ(label->text().remove(QChar(0x200B)).toStdString(), link);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(present("Pellora <i>9</i> is available", "<b>Still</b> refused."), first);
    EXPECT_EQ(first->informativeText().toStdString(), "<b>Still</b> refused.");
    for (QLabel* shown : first->findChildren<QLabel*>("qt_msgbox_informativelabel")) {
        EXPECT_EQ(shown->textFormat(), Qt::PlainText);
    }
    QMessageBox* other = present("Another", "");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(boxesUp(), 2);
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(first->textFormat(), Qt::PlainText);
    EXPECT_EQ(first->defaultButton()->text(), "Quit app");
    ASSERT_EQ(first->buttons().value(1)->text(), "Later");
    QTest::mouseClick(first->buttons().value(1), Qt::LeftButton);
    EXPECT_EQ(answers, std::vector<int>{1});

    QTest::keyClick(other, Qt::Key_Escape);
    EXPECT_EQ(boxesUp(), 0);
    EXPECT_EQ(alerts.shown("Another"), nullptr);
    // Gone for good: the same message comes up anew, and closing it answers nothing.
    QMessageBox* again = present("Another", "");
    ASSERT_NE(again, nullptr);
    again->close();
    EXPECT_EQ(boxesUp(), 0);
    EXPECT_EQ(answers, std::vector<int>{1});
    EXPECT_NE(present("Still up when the alerts go", ""), nullptr);
}

// The program's own icon, at every size the package installs, on the alerts as on the
// windows; the generic one only where the program has none.
TEST(MessageBoxAlerts, ShowTheApplicationsIcon) {
    widgetsApp();
    const QIcon icon = applicationIcon();
    EXPECT_EQ(icon.availableSizes().size(), 8);
    // Drawn, not blank: the plate's corner is clear, its middle is not.
    const QImage drawn = icon.pixmap(22).toImage();
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(drawn.pixel(11, 11)), 255);
    MessageBoxAlerts alerts("Pellora");
    alerts.present("Without an icon", "", {"OK"}, {});
    EXPECT_EQ(alerts.shown("Without an icon")->icon(), QMessageBox::Information);
    QApplication::setWindowIcon(icon);
    alerts.present("With the icon", "", {"OK"}, {});
    const QPixmap shown = alerts.shown("With the icon")->iconPixmap();
    QApplication::setWindowIcon(QIcon());
    EXPECT_EQ(shown.toImage().convertToFormat(QImage::Format_ARGB32),
              icon.pixmap(64).toImage().convertToFormat(QImage::Format_ARGB32));
}

// Each box comes up on the pointer's screen, its icon drawn for that screen's scale.
TEST(MessageBoxAlerts, TheIconIsSharpOnEveryScreen) {
    widgetsApp();
    QApplication::setWindowIcon(applicationIcon());
    MessageBoxAlerts alerts("Pellora");
    for (QScreen* screen : QGuiApplication::screens()) {
        QCursor::setPos(screen->geometry().center());
        const std::string message = "On " + screen->name().toStdString();
        alerts.present(message, "", {"OK"}, {});
        QMessageBox* box = alerts.shown(message);
        ASSERT_TRUE(box != nullptr && QTest::qWaitForWindowExposed(box));
        EXPECT_GE(box->iconPixmap().devicePixelRatio(), box->screen()->devicePixelRatio())
            << message;
    }
    QApplication::setWindowIcon(QIcon());
}

}  // namespace
}  // namespace pellora::test
