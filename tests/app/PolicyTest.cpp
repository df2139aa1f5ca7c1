// The controller's decisions, from tables of state and inputs.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ScopedLocalZone.h"
#include "app/ApplyPolicy.h"
#include "app/LearningPolicy.h"
#include "app/LocalTime.h"
#include "app/MenuTexts.h"
#include "app/PlatformTexts.h"
#include "app/SnapshotPolicy.h"
#include "app/StatusMenu.h"
#include "solar/SolarCalculator.h"

namespace pellora {
namespace {

TEST(ApplyPolicyTest, DefaultMapIsTheLineFrom20To100) {
    struct Case {
        double luma;
        int brightness;
    } cases[] = {{0, 20},      {20, 20},   {60, 40},   {100, 60}, {130, 75},
                 {179.9, 100}, {180, 100}, {255, 100}, {25, 23},  {-5, 20}};
    for (auto c : cases) {
        EXPECT_EQ(ApplyPolicy::defaultMap(c.luma), c.brightness) << c.luma;
    }
}

TEST(ApplyPolicyTest, DecidesRowGlyphAndWrite) {
    const double now = 1000;
    struct Case {
        const char* what;
        ApplyPolicy::Inputs in;
        std::string row;
        std::optional<std::string> glyph;
        std::optional<int> write;
        int delta;
    } cases[] = {
        {"learning never writes",
         {false, now, 0, 80, 128, std::nullopt},
         "Brightness: (learning)",
         std::nullopt,
         std::nullopt,
         0},
        {"pause, truncated",
         {true, now, now + 299.6, 80, 128, 50},
         "Paused — resumes in 299s",
         std::nullopt,
         std::nullopt,
         0},
        {"under the threshold",
         {true, now, 0, 62, 128, 60},
         "Brightness → 62",
         StatusMenu::midGlyph,
         std::nullopt,
         0},
        {"at the threshold",
         {true, now, 0, 63, 128, 60},
         "Brightness → 63",
         StatusMenu::midGlyph,
         63,
         3},
        {"down by the threshold",
         {true, now, 0, 57, 128, 60},
         "Brightness → 57",
         StatusMenu::midGlyph,
         57,
         -3},
        {"first write after a change",
         {true, now, 0, 39, 128, std::nullopt},
         "Brightness → 39",
         StatusMenu::darkGlyph,
         39,
         0},
        {"no curve: default map",
         {true, now, 0, std::nullopt, 128, std::nullopt},
         "Brightness → 74",
         StatusMenu::sunGlyph,
         74,
         0},
        {"pause just over",
         {true, now, now, 40, 128, std::nullopt},
         "Brightness → 40",
         StatusMenu::midGlyph,
         40,
         0},
    };
    for (const auto& c : cases) {
        auto d = ApplyPolicy::decide(c.in);
        EXPECT_EQ(d.brightnessRow, c.row) << c.what;
        EXPECT_EQ(d.glyph, c.glyph) << c.what;
        EXPECT_EQ(d.write, c.write) << c.what;
        EXPECT_EQ(d.delta, c.delta) << c.what;
    }
    EXPECT_STREQ(ApplyPolicy::glyphFor(39), StatusMenu::darkGlyph);
    EXPECT_STREQ(ApplyPolicy::glyphFor(40), StatusMenu::midGlyph);
    EXPECT_STREQ(ApplyPolicy::glyphFor(69), StatusMenu::midGlyph);
    EXPECT_STREQ(ApplyPolicy::glyphFor(70), StatusMenu::sunGlyph);
}

TEST(SnapshotPolicyTest, SmoothingSkipsAndFailedReadings) {
    EXPECT_DOUBLE_EQ(SnapshotPolicy::smooth(128, 40), 106.0);
    double l = 128;
    for (double expected : {146.0, 159.5, 169.625}) {
        l = SnapshotPolicy::smooth(l, 200);
        EXPECT_DOUBLE_EQ(l, expected);
    }
    EXPECT_EQ(SnapshotPolicy::skipReason(false, true, false), "takeSnapshot skipped (no scope)");
    EXPECT_EQ(SnapshotPolicy::skipReason(true, false, true),
              "takeSnapshot skipped (camera not granted)");
    EXPECT_EQ(SnapshotPolicy::skipReason(true, true, true), "takeSnapshot skipped (screen locked)");
    EXPECT_EQ(SnapshotPolicy::skipReason(true, true, false), std::nullopt);
    EXPECT_EQ(SnapshotPolicy::failedReadingHealth(true, false), CameraHealth::noDevice);
    EXPECT_EQ(SnapshotPolicy::failedReadingHealth(true, true), CameraHealth::notResponding);
    EXPECT_EQ(SnapshotPolicy::failedReadingHealth(false, true), CameraHealth::permissionDenied);
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
    EXPECT_EQ(SnapshotPolicy::interval((sun->sunrise + sun->sunset) / 2, ny), 3600.0);
    EXPECT_STREQ(SnapshotPolicy::intervalLabel(1200), "20m");
    EXPECT_STREQ(SnapshotPolicy::intervalLabel(3600), "60m");
}

TEST(SnapshotPolicyTest, FollowingTheRoomClosely) {
    const double tau = SnapshotPolicy::forgetSeconds;
    const struct {
        double since, weight;
    } weights[] = {
        {0, 0},
        {-5, 0},  // a clock set back gives no weight, never a negative one
        {tau, 1 - std::exp(-1.0)},
        {3 * tau, 1 - std::exp(-3.0)},
        {std::numeric_limits<double>::infinity(), 1},  // the first reading stands alone
    };
    for (auto w : weights) {
        EXPECT_NEAR(SnapshotPolicy::forgettingWeight(w.since), w.weight, 1e-12) << w.since;
    }
    // Readings seconds apart are smoothed; ten minutes on, the old light is all but gone.
    EXPECT_LT(SnapshotPolicy::forgettingWeight(3), 0.05);
    EXPECT_GT(SnapshotPolicy::forgettingWeight(600), 0.95);
    EXPECT_DOUBLE_EQ(SnapshotPolicy::smoothForgetting(40, 200, tau), 200 - 160 * std::exp(-1.0));
}

TEST(LearningPolicyTest, WhoseChangeAndWhetherItStands) {
    struct Case {
        std::optional<int> reference;
        int read;
        bool present, pending;
        bool userSet, start;
    } cases[] = {
        {60, 62, true, false, false, false},   // within 2 of what we hold
        {60, 63, true, false, true, true},     // departs by 3
        {60, 57, true, true, true, false},     // one already pending decides itself
        {60, 70, false, false, false, false},  // nobody there
        {std::nullopt, 50, true, false, true, true},
    };
    for (auto c : cases) {
        auto j = LearningPolicy::judgeReading(c.reference, c.read, c.present, c.pending);
        EXPECT_EQ(j.userSet, c.userSet) << c.read;
        EXPECT_EQ(j.startPending, c.start) << c.read;
    }
    EXPECT_TRUE(LearningPolicy::isPresent(false, 299.9));
    EXPECT_FALSE(LearningPolicy::isPresent(false, 300.0));
    EXPECT_FALSE(LearningPolicy::isPresent(true, 0.0));
    EXPECT_TRUE(LearningPolicy::isPresent(false, std::nullopt));

    using Step = LearningPolicy::CheckStep;
    EXPECT_EQ(LearningPolicy::beforeRead(false, true, 500, true), Step::nothing);
    EXPECT_EQ(LearningPolicy::beforeRead(true, false, 500, true), Step::nothing);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 178.9, true), Step::nothing);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 179, false), Step::dropAbsent);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 180, true), Step::readBack);
    // Another monitor's choice goes whether or not anyone is there, but never early.
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 180, false, false), Step::dropOtherMonitor);
    EXPECT_EQ(LearningPolicy::beforeRead(true, true, 178.9, true, false), Step::nothing);
    EXPECT_TRUE(LearningPolicy::stands(43, 45));
    EXPECT_TRUE(LearningPolicy::stands(47, 45));
    EXPECT_FALSE(LearningPolicy::stands(43, 40));
    EXPECT_FALSE(LearningPolicy::stands(std::nullopt, 40));
}

TEST(MenuTextsTest, RowsFromState) {
    test::ScopedLocalZone zone("UTC0");
    EXPECT_EQ(MenuTexts::samplesRow(0, 1718979600.0 /* 14:20 */, "60m"),
              "Samples: 0 · next 14:20 (60m)");
    EXPECT_EQ(MenuTexts::samplesRow(12, std::nullopt, "20m"), "Samples: 12");
    struct Case {
        Mode mode;
        long long count;
        std::string title;
        bool enabled;
    } toggles[] = {
        {Mode::learning, 0, "Start adapting (need 80 more samples)", false},
        {Mode::learning, 79, "Start adapting (need 1 more samples)", false},
        {Mode::learning, 80, "Start adapting", true},
        {Mode::adapting, 3, "Back to learning", true},
    };
    for (const auto& c : toggles) {
        auto t = MenuTexts::toggleRow(c.mode, c.count);
        EXPECT_EQ(t.title, c.title);
        EXPECT_EQ(t.enabled, c.enabled);
    }
    const auto& texts = PlatformTexts::linuxDesktop();
    auto desk = MenuTexts::cameraRow(CameraHealth::notResponding, "Desk Cam", texts);
    ASSERT_TRUE(desk.title);
    EXPECT_EQ(desk.title->rfind("\u26A0\uFE0E Camera \"Desk Cam\" is connected", 0), 0u);
    EXPECT_EQ(desk.action, MenuTexts::CameraAction::snapshotNow);
    auto ask = MenuTexts::cameraRow(CameraHealth::needsPermission, "", texts);
    EXPECT_EQ(ask.title, "\U0001F3A5 Enable camera access… (needed to read room light)");
    EXPECT_EQ(ask.glyph, StatusMenu::sunGlyph);
    EXPECT_FALSE(MenuTexts::cameraRow(CameraHealth::ok, "", texts).title);

    // One failed read among good ones is no alarm; two, or one with none good, is.
    EXPECT_FALSE(MenuTexts::monitorAccessRow(std::nullopt, 1, true));
    EXPECT_TRUE(MenuTexts::monitorAccessRow(std::nullopt, 2, true));
    EXPECT_TRUE(MenuTexts::monitorAccessRow(std::nullopt, 1, false));
    EXPECT_FALSE(MenuTexts::monitorAccessRow("denied", 0, false));
    auto denied = MenuTexts::monitorAccessRow("Permission denied opening /dev/i2c-4", 1, true);
    ASSERT_TRUE(denied);
    EXPECT_NE(denied->find("Permission denied opening /dev/i2c-4"), std::string::npos);

    EXPECT_STREQ(MenuTexts::glyph(false, CameraHealth::noDevice, true), StatusMenu::idleGlyph);
    EXPECT_STREQ(MenuTexts::glyph(true, CameraHealth::ok, false), StatusMenu::sunGlyph);
    EXPECT_STREQ(MenuTexts::glyph(true, CameraHealth::needsPermission, false),
                 StatusMenu::sunGlyph);
    EXPECT_STREQ(MenuTexts::glyph(true, CameraHealth::noDevice, false), StatusMenu::warningGlyph);
    EXPECT_STREQ(MenuTexts::glyph(true, CameraHealth::ok, true), StatusMenu::warningGlyph);
}

TEST(LocalTimeTest, FractionalHourIgnoresSeconds) {
    test::ScopedLocalZone zone("UTC0");
    EXPECT_DOUBLE_EQ(localtime::fractionalHour(1718981159.0), 14.75);  // 14:45:59
    EXPECT_DOUBLE_EQ(localtime::fractionalHour(1718928000.0), 0.0);
    EXPECT_EQ(localtime::hoursMinutesSeconds(1718981159.0), "14:45:59");
}

}  // namespace
}  // namespace pellora
