// The close cadence's weekly budget of camera readings, on both clocks.

#include <gtest/gtest.h>

#include "app/ReadingBudget.h"
#include "app/SnapshotPolicy.h"

namespace pellora {
namespace {

// Fourteen readings twelve hours apart, the last at wall 1000 and monotonic 500: the first
// is a week old twelve hours after the last.
constexpr double halfDay = 43200;

TEST(ReadingBudgetTest, SevenDaysOfReadingsAgeOutOnTheLongerClock) {
    const struct {
        const char* what;
        double wall, monotonic;
        bool allows;
    } rows[] = {
        {"at once", 1000, 500, false},
        {"both clocks a second short", 1000 + halfDay - 1, 500 + halfDay - 1, false},
        {"the first a week old on both clocks", 1000 + halfDay, 500 + halfDay, true},
        {"a suspend: only the wall clock aged it", 1000 + halfDay, 500 + 60, true},
        {"a clock set back: only the monotonic one aged it", 1000 - 3600, 500 + halfDay, true},
    };
    for (const auto& row : rows) {
        ReadingBudget budget(2);
        for (int i = 13; i >= 0; --i) {
            budget.recordReading(1000 - i * halfDay, 500 - i * halfDay);
        }
        EXPECT_EQ(budget.allowsAnother(row.wall, row.monotonic), row.allows) << row.what;
    }
}

TEST(ReadingBudgetTest, MemoryStaysBoundedWhateverTheClocksDo) {
    ReadingBudget budget(2);
    for (int i = 0; i < 1000; ++i) {
        budget.recordReading(1000, 500);  // a frozen clock: nothing ever ages out
    }
    EXPECT_EQ(budget.readingsInWindow(1000, 500), 15u);
    EXPECT_FALSE(budget.allowsAnother(1000, 500));
}

// 50 readings a day: 350 a week. Hours at the desk on each of the last seven days, readings
// taken away from it, and the spacing that spreads what is left over the hours at the desk.
TEST(ReadingBudgetTest, WhatAwayReadingsLeaveIsSpreadOverTheWeeksHoursAtTheDesk) {
    const struct {
        const char* what;
        double hoursADay;
        int away;
        double spacing;
    } rows[] = {
        {"no time at the desk yet", 0, 0, 600},
        {"six hours a day: every ten minutes fits", 6, 20, 600},
        {"fifteen hours a day", 15, 28, 15 * 3600 * 7 / 322.0},
        {"away readings spend it all", 15, 400, 15 * 3600 * 7},
    };
    for (const auto& row : rows) {
        ReadingBudget budget(50);
        for (int day = 0; day < 7; ++day) {
            for (int hour = 0; hour < row.hoursADay; ++hour) {
                const double t = day * 86400.0 + hour * 3600;
                budget.recordPresence(t, t, 1800);
                budget.recordPresence(t + 1800, t + 1800, 1800);  // the same hour's record
            }
        }
        for (int i = 0; i < row.away; ++i) {
            budget.recordReading(6 * 86400.0 + i, 6 * 86400.0 + i, false);
        }
        EXPECT_DOUBLE_EQ(budget.spacingAtDesk(7 * 86400.0 - 1, 7 * 86400.0 - 1, 600), row.spacing)
            << row.what;
    }
    // A week on, that time is forgotten.
    ReadingBudget budget(1);
    budget.recordPresence(0, 0, 86400);
    EXPECT_DOUBLE_EQ(budget.spacingAtDesk(ReadingBudget::window, 0, 600), 600);
}

TEST(ReadingBudgetTest, ASpentBudgetReadsOnlyWhenTheUsualCadenceIsDue) {
    const struct {
        const char* what;
        double now;
        bool present, withinBudget, readNow;
        double checkAgainIn;
    } rows[] = {
        {"there, within budget", 100, true, true, true, 0},
        {"there, budget spent", 100, true, false, false, 600},
        {"there, budget spent, usual due soon", 3400, true, false, false, 200},
        {"there, budget spent, usual due", 3600, true, false, true, 0},
        {"away, within budget", 100, false, true, false, 600},
    };
    for (const auto& row : rows) {
        auto step = SnapshotPolicy::closeStep(row.now, 3600, row.present, row.withinBudget);
        EXPECT_EQ(step.readNow, row.readNow) << row.what;
        EXPECT_DOUBLE_EQ(step.checkAgainIn, row.checkAgainIn) << row.what;
    }
}

}  // namespace
}  // namespace pellora
