// The edges of the controller's decisions, from tables; the desk tests show them in use.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ScopedLocalZone.h"
#include "app/ApplyPolicy.h"
#include "app/LearningPolicy.h"
#include "app/LightTrend.h"
#include "app/LocalTime.h"
#include "app/MenuTexts.h"
#include "app/PlatformTexts.h"
#include "app/SnapshotPolicy.h"
#include "app/StatusMenu.h"
#include "solar/SolarCalculator.h"

namespace pellora {
namespace {

TEST(ApplyPolicyTest, DefaultMapIsTheLineFrom20To100) {
    const struct {
        double luma;
        int brightness;
    } cases[] = {{0, 20},   {20, 20},     {60, 40},
                 {130, 75}, {179.9, 100}, {255, 100},
                 {25, 23},  {-5, 20},     {std::numeric_limits<double>::quiet_NaN(), 20}};
    for (auto c : cases) {
        EXPECT_EQ(ApplyPolicy::defaultMap(c.luma), c.brightness) << c.luma;
    }
}

TEST(ApplyPolicyTest, DecidesRowGlyphAndWrite) {
    // Learning, and adapting without a curve: ControllerTest and SnapshotCycleTest.
    const double now = 1000;
    const struct {
        const char* what;
        ApplyPolicy::Inputs in;
        std::string row;
        std::optional<int> write = {};
        int delta = 0;
    } cases[] = {
        {"pause, truncated", {true, now, now + 299.6, 80, 128, 50}, "Paused — resumes in 299s"},
        {"under the threshold", {true, now, 0, 62, 128, 60}, "Brightness → 62", {}, 0},
        {"at the threshold", {true, now, 0, 63, 128, 60}, "Brightness → 63", 63, 3},
        {"down by the threshold", {true, now, 0, 57, 128, 60}, "Brightness → 57", 57, -3},
        {"pause just over", {true, now, now, 40, 128, std::nullopt}, "Brightness → 40", 40, 0},
    };
    for (const auto& c : cases) {
        auto d = ApplyPolicy::decide(c.in);
        EXPECT_EQ(d.brightnessRow, c.row) << c.what;
        EXPECT_EQ(d.write, c.write) << c.what;
        EXPECT_EQ(d.delta, c.delta) << c.what;
    }
    // The glyph of an adapting target; none while learning or paused.
    EXPECT_EQ(ApplyPolicy::decide({true, now, 0, 39, 128, 60}).glyph, StatusMenu::darkGlyph);
    EXPECT_FALSE(ApplyPolicy::decide({true, now, now + 1, 39, 128, 60}).glyph);
    for (auto [target, glyph] : {std::pair{39, StatusMenu::darkGlyph},
                                 {40, StatusMenu::midGlyph},
                                 {69, StatusMenu::midGlyph},
                                 {70, StatusMenu::sunGlyph}}) {
        EXPECT_STREQ(ApplyPolicy::glyphFor(target), glyph) << target;
    }
}

TEST(SnapshotPolicyTest, IntervalIsDenseNearSunriseAndSunset) {
    // New York, 2024-06-21: sunrise 09:25 UTC, sunset 00:31 UTC the next day.
    auto ny = SolarCalculator::forStoredLocation(std::nullopt, std::nullopt);
    auto sun = ny.sunriseSunset(1718960400.0);
    ASSERT_TRUE(sun);
    EXPECT_EQ(SnapshotPolicy::interval(sun->sunrise - 40 * 60, ny), 1200.0);
    EXPECT_EQ(SnapshotPolicy::interval(sun->sunrise + 60 * 60, ny), 1200.0);
    EXPECT_EQ(SnapshotPolicy::interval(sun->sunrise + 61 * 60, ny), 3600.0);
    EXPECT_EQ(SnapshotPolicy::interval(sun->sunset - 30 * 60, ny), 1200.0);
    EXPECT_EQ(SnapshotPolicy::skipReason(false, true, false), "takeSnapshot skipped (no scope)");
    EXPECT_EQ(SnapshotPolicy::failedReadingHealth(false, true), CameraHealth::permissionDenied);
    // A clock set back gives a reading no weight, never a negative one; the first stands alone.
    EXPECT_EQ(SnapshotPolicy::forgettingWeight(-5), 0);
    EXPECT_EQ(SnapshotPolicy::forgettingWeight(std::numeric_limits<double>::infinity()), 1);
    // Following closely, the menu shows the spacing in use; otherwise the usual cadence.
    EXPECT_EQ(SnapshotPolicy::cadenceLabel(3600, true, true, 1174), "20m");
    EXPECT_EQ(SnapshotPolicy::cadenceLabel(3600, true, false, 1174), "60m");
}

// The lead after readings of (luma, seconds since the one before).
TEST(LightTrendTest, LeadsOnlyWhileTheRateHasGuessedBetterThanHolding) {
    constexpr double first = std::numeric_limits<double>::infinity();
    const std::pair<const char*, std::vector<std::pair<double, double>>> rows[] = {
        {"one step: a rate, no record of it", {{100, first}, {110, 600}}},
        {"a steady rise, half a step ahead", {{100, first}, {110, 600}, {120, 600}}},
        {"a steady fall", {{120, first}, {110, 600}, {100, 600}}},
        {"back and forth", {{100, first}, {120, 600}, {100, 600}}},
        {"a fast rise, capped", {{0, first}, {100, 600}, {200, 600}}},
        {"a gap forgets the rate", {{100, first}, {110, 600}, {120, 600}, {150, 1801}}},
        {"but not how it did", {{100, first}, {110, 600}, {120, 600}, {150, 1801}, {155, 300}}},
        {"no number", {{100, first}, {110, 600}, {120, 600}, {NAN, 600}}},
        // A reading asked for seconds after the last differs from it by the camera's noise.
        {"seconds after: the rate stands", {{100, first}, {110, 600}, {120, 600}, {123, 5}}},
    };
    const double leads[] = {0, 5, -5, 0, 40, 0, 5, 0, 5};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        LightTrend trend;
        for (auto [luma, since] : rows[i].second) {
            trend.add(luma, since);
        }
        EXPECT_DOUBLE_EQ(trend.lead(600), leads[i]) << rows[i].first;
    }
    // Readings further apart lead further, to half-way to the next.
    LightTrend rising;
    for (auto [luma, since] : rows[1].second) {
        rising.add(luma, since);
    }
    EXPECT_DOUBLE_EQ(rising.lead(1200), 10);
}

TEST(LearningPolicyTest, WhoseChangeAndWhetherItStands) {
    const struct {
        std::optional<int> reference;
        int read;
        bool present, pending;
        bool userSet, start;
    } cases[] = {
        {60, 62, true, false, false, false},         {60, 63, true, false, true, true},
        {60, 57, true, true, true, false},           {60, 70, false, false, false, false},
        {std::nullopt, 50, true, false, true, true},
    };
    for (auto c : cases) {
        auto j = LearningPolicy::judgeReading(c.reference, c.read, c.present, c.pending);
        EXPECT_EQ(j.userSet, c.userSet) << c.read;
        EXPECT_EQ(j.startPending, c.start) << c.read;
    }
    EXPECT_TRUE(LearningPolicy::isPresent(false, 299.9));
    EXPECT_FALSE(LearningPolicy::isPresent(false, 300.0));
    EXPECT_TRUE(LearningPolicy::isPresent(false, std::nullopt));

    using Step = LearningPolicy::CheckStep;
    EXPECT_EQ(LearningPolicy::beforeRead(true, false, 500, true), Step::nothing);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 178.9, true), Step::nothing);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 179, false), Step::dropAbsent);
    // Another monitor's choice goes whether or not anyone is there, but never early.
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 180, false, false), Step::dropOtherMonitor);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 178.9, true, false), Step::nothing);
    EXPECT_TRUE(LearningPolicy::stands(43, 45));
    EXPECT_TRUE(LearningPolicy::stands(47, 45));
}

TEST(MenuTextsTest, RowsFromState) {
    test::ScopedLocalZone zone("UTC0");
    EXPECT_EQ(MenuTexts::samplesRow(12, std::nullopt, "20m"), "Samples: 12");
    auto toggle = MenuTexts::toggleRow(Mode::learning, 79);
    EXPECT_EQ(toggle.title, "Start adapting (need 1 more samples)");
    EXPECT_FALSE(toggle.enabled);
    EXPECT_TRUE(MenuTexts::toggleRow(Mode::adapting, 3).enabled);
    // One failed read among good ones is no alarm; two, or one with none good, is.
    EXPECT_FALSE(MenuTexts::monitorAccessRow(std::nullopt, 1, true));
    EXPECT_TRUE(MenuTexts::monitorAccessRow(std::nullopt, 2, true));
    EXPECT_TRUE(MenuTexts::monitorAccessRow(std::nullopt, 1, false));
    EXPECT_FALSE(MenuTexts::monitorAccessRow("denied", 0, false));
    // A monitor that answered before and stops is asleep or elsewhere, not set up wrong.
    EXPECT_NE(MenuTexts::monitorAccessRow(std::nullopt, 2, true).value_or("").find("asleep"),
              std::string::npos);
    EXPECT_NE(MenuTexts::monitorAccessRow(std::nullopt, 1, false).value_or("").find("turn DDC/CI"),
              std::string::npos);
    EXPECT_STREQ(MenuTexts::glyph(false, CameraHealth::noDevice, true), StatusMenu::idleGlyph);
}

TEST(LocalTimeTest, FractionalHourIgnoresSeconds) {
    test::ScopedLocalZone zone("UTC0");
    EXPECT_DOUBLE_EQ(localtime::fractionalHour(1718981159.0), 14.75);  // 14:45:59
    EXPECT_EQ(localtime::hoursMinutesSeconds(1718981159.0), "14:45:59");
}

// A laptop taken to Tokyo whose session zone is changed while the program runs.
TEST(LocalTimeTest, FollowsAZoneChangedWhileRunning) {
    test::ScopedLocalZone zone("Europe/Berlin");
    EXPECT_EQ(localtime::hoursMinutes(1718981159.0), "16:45");
    ::setenv("TZ", "Asia/Tokyo", 1);  // nothing else tells the C library
    EXPECT_EQ(localtime::hoursMinutes(1718981159.0), "23:45");
    EXPECT_EQ(localtime::hourOfDay(1718981159.0), 23);
}

}  // namespace
}  // namespace pellora
