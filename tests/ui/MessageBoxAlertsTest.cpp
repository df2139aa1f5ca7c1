#include "ui/MessageBoxAlerts.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

const std::string kReset = "Camera permission reset";

struct Alerts : ::testing::Test {
    QApplication& app = widgetsApp();
    MessageBoxAlerts alerts{"Pellora"};
    std::vector<int> answers;

    QMessageBox* present(const std::string& message) {
        alerts.present(message, "Quit and relaunch the app.", {"Quit app", "Later"},
                       [this](int button) { answers.push_back(button); });
        QMessageBox* box = alerts.shown(message);
        return box != nullptr && QTest::qWaitForWindowExposed(box) ? box : nullptr;
    }
    int visibleBoxes() {
        QCoreApplication::processEvents();
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            count += qobject_cast<QMessageBox*>(window) != nullptr && window->isVisible();
        }
        return count;
    }
};

TEST_F(Alerts, ClickOnTheSecondButtonAnswersOne) {
    QMessageBox* box = present(kReset);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(answers.empty());  // shown, not waited on
    EXPECT_EQ(box->text().toStdString(), kReset);
    EXPECT_EQ(box->informativeText(), "Quit and relaunch the app.");
    QList<QAbstractButton*> buttons = box->buttons();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(box->defaultButton()->text(), "Quit app");
    QAbstractButton* later = buttons[0]->text() == "Later" ? buttons[0] : buttons[1];
    QTest::mouseClick(later, Qt::LeftButton);
    EXPECT_EQ(answers, std::vector<int>{1});
    EXPECT_EQ(alerts.shown(kReset), nullptr);
    EXPECT_EQ(visibleBoxes(), 0);
}

TEST_F(Alerts, SameMessageIsRaisedNotStackedAndDismissalAnswersNothing) {
    QMessageBox* first = present(kReset);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(present(kReset), first);
    EXPECT_EQ(visibleBoxes(), 1);
    QMessageBox* other = present("Another message");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(visibleBoxes(), 2);

    QTest::keyClick(first, Qt::Key_Escape);
    other->close();
    EXPECT_EQ(visibleBoxes(), 0);
    EXPECT_TRUE(answers.empty());
    // Gone for good: the same message comes up anew and answers again.
    QMessageBox* again = present(kReset);
    ASSERT_NE(again, nullptr);
    QTest::mouseClick(again->defaultButton(), Qt::LeftButton);
    EXPECT_EQ(answers, std::vector<int>{0});
}

}  // namespace
}  // namespace pellora::test
