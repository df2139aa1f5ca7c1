// The "Start at login" row over a login item answered by hand: what it shows, when it looks
// again, and what a user sees when a change fails.

#include "app/StartAtLogin.h"

#include <gtest/gtest.h>

#include "FakeLoginItem.h"
#include "SimulatedDesk.h"
#include "TestEnvironment.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

struct StartAtLoginRow : ::testing::Test {
    TestEnvironment env;
    StatusMenu menu{PlatformTexts::linuxDesktop()};
    FakeLoginItem item;
    RecordingAlerts alerts;
    std::shared_ptr<StartAtLogin> row =
        StartAtLogin::create(menu, item, alerts, *env.log, {"/usr/bin/pellora", false});

    const MenuRow& shown() const { return menu.row(Id::startAtLogin); }
    std::size_t logged(const std::string& text) { return env.linesWith(text).size(); }
};

TEST_F(StartAtLoginRow, ShowsWhatTheItemSaysAndLogsEachNewProblemOnce) {
    EXPECT_EQ(shown().title, "Start at login");
    EXPECT_TRUE(shown().checkable);
    struct Step {
        LoginItem::State state;
        std::size_t problemLines;
    };
    const Step steps[] = {
        {{true, ""}, 0},
        {{false, "entry has Hidden=true"}, 1},
        // Opening the menu again says nothing new.
        {{false, "entry has Hidden=true"}, 1},
        {{true, ""}, 1},
        {{false, "entry has Hidden=true"}, 2},
    };
    for (const Step& step : steps) {
        row->refresh();
        ASSERT_EQ(item.answerReads(step.state), 1u);
        EXPECT_EQ(shown().checked, step.state.enabled);
        EXPECT_EQ(logged("entry has Hidden=true"), step.problemLines);
    }
    // Only the latest of two reads counts.
    row->refresh();
    row->refresh();
    auto older = std::move(item.reads.front());
    item.reads.erase(item.reads.begin());
    item.answerReads({true, ""});
    older({false, ""});
    EXPECT_TRUE(shown().checked);
}

TEST_F(StartAtLoginRow, AChoiceShowsAtOnceAndTheAnswerSettlesIt) {
    menu.activate(Id::startAtLogin);
    ASSERT_EQ(item.changes.size(), 1u);
    EXPECT_TRUE(item.changes[0].first);
    EXPECT_TRUE(shown().checked);
    EXPECT_FALSE(shown().enabled);
    // While it waits: no second change, and a read neither goes out nor shows.
    row->refresh();
    menu.activate(Id::startAtLogin);
    EXPECT_TRUE(item.reads.empty());
    EXPECT_EQ(item.changes.size(), 1u);

    item.answerChange({true, true, "Wrote the entry"});
    EXPECT_TRUE(shown().checked);
    EXPECT_TRUE(shown().enabled);
    EXPECT_EQ(logged("Start at login turned on: Wrote the entry"), 1u);
    EXPECT_TRUE(alerts.shown.empty());

    menu.activate(Id::startAtLogin);
    ASSERT_EQ(item.changes.size(), 1u);
    EXPECT_FALSE(item.changes[0].first);
    item.answerChange({true, false, "Removed the entry"});
    EXPECT_FALSE(shown().checked);
    EXPECT_EQ(logged("Start at login turned off: Removed the entry"), 1u);
}

TEST_F(StartAtLoginRow, AFailedChangeIsToldAndTheRowShowsWhatIsThere) {
    menu.activate(Id::startAtLogin);
    item.answerChange({false, false, "Cannot write /x (Read-only file system)."});
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "Start at login could not be turned on.");
    EXPECT_EQ(alerts.shown[0].informative, "Cannot write /x (Read-only file system).");
    EXPECT_EQ(logged("Start at login could not be turned on: Cannot write /x"), 1u);
    // It looks again, in case the failure left something behind.
    ASSERT_EQ(item.answerReads({true, "entry starts /opt/other"}), 1u);
    EXPECT_TRUE(shown().checked);
}

// The row names a build's copy, so that a user knows which program starts at login.
TEST(StartAtLoginTitle, NamesABuildFolderCopy) {
    EXPECT_EQ(StartAtLogin::rowTitle({"/usr/bin/pellora", false}), "Start at login");
    EXPECT_EQ(StartAtLogin::rowTitle({"/src/build/release/src/pellora", true}),
              "Start at login (this build: /src/build/release/src/pellora)");
}

TEST(StartAtLoginOnTheDesk, LooksAtLaunchAndEachTimeTheRowsAreAboutToShow) {
    SimulatedDesk desk;
    desk.launch();
    EXPECT_FALSE(desk.menu.row(Id::startAtLogin).hidden);
    EXPECT_EQ(desk.loginItem->answerReads({true, ""}), 1u);
    EXPECT_TRUE(desk.menu.row(Id::startAtLogin).checked);
    desk.menu.willShow();
    EXPECT_EQ(desk.loginItem->answerReads({false, ""}), 1u);
    EXPECT_FALSE(desk.menu.row(Id::startAtLogin).checked);

    SimulatedDesk without;
    without.loginItem = nullptr;
    without.launch();
    EXPECT_TRUE(without.menu.row(Id::startAtLogin).hidden);
    without.menu.willShow();
}

}  // namespace
}  // namespace pellora::test
