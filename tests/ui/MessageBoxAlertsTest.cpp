#include "ui/MessageBoxAlerts.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

TEST(MessageBoxAlerts, ClickAnswersItsButtonDismissalNothingAndOneBoxPerMessage) {
    widgetsApp();
    MessageBoxAlerts alerts("Pellora");
    std::vector<int> answers;
    auto present = [&](const std::string& message) {
        alerts.present(message, "Quit and relaunch.", {"Quit app", "Later"},
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
    QMessageBox* reset = present("Camera permission reset");
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(present("Camera permission reset"), reset);
    QMessageBox* other = present("Another");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(boxesUp(), 2);
    EXPECT_EQ(reset->informativeText(), "Quit and relaunch.");
    EXPECT_EQ(reset->defaultButton()->text(), "Quit app");
    ASSERT_EQ(reset->buttons().value(1)->text(), "Later");
    QTest::mouseClick(reset->buttons().value(1), Qt::LeftButton);
    EXPECT_EQ(answers, std::vector<int>{1});

    QTest::keyClick(other, Qt::Key_Escape);
    EXPECT_EQ(boxesUp(), 0);
    // Gone for good: the same message comes up anew, and closing it answers nothing.
    QMessageBox* again = present("Another");
    ASSERT_NE(again, nullptr);
    again->close();
    EXPECT_EQ(boxesUp(), 0);
    EXPECT_EQ(answers, std::vector<int>{1});
    EXPECT_NE(present("Still up when the alerts go"), nullptr);
}

// Texts may come from outside (a feed's notes, a device's name): shown as they are, in a box
// that blocks nothing.
TEST(MessageBoxAlerts, TextsAreNeverReadAsMarkup) {
    widgetsApp();
    MessageBoxAlerts alerts("Pellora");
    alerts.present("Pellora <i>9</i> is available", "Faster <b>start</b>.", {"OK"}, {});
    QMessageBox* box = alerts.shown("Pellora <i>9</i> is available");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->informativeText(), "Faster <b>start</b>.");
    auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_NE(informative, nullptr);
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    EXPECT_FALSE(box->isModal());
}

}  // namespace
}  // namespace pellora::test
