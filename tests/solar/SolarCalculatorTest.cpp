#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "ScopedLocalZone.h"
#include "solar/SolarCalculator.h"

namespace pellora::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double utc(int y, unsigned m, unsigned d, int hour = 0, int minute = 0, int second = 0) {
    const std::chrono::sys_days date{std::chrono::year{y} / std::chrono::month{m} /
                                     std::chrono::day{d}};
    return static_cast<double>(date.time_since_epoch().count()) * 86400.0 + hour * 3600.0 +
           minute * 60.0 + second;
}

struct WorkedExample {
    std::string name;
    SolarCalculator place;
    double date;
    double sunrise;
    double sunset;
};

// Reference times are given to the second, so the tolerance covers rounding only; a day's
// error in the ordinal would move the equinox sunrise by some 20 seconds.
TEST(SolarCalculator, WorkedExamplesMatchReferenceTimes) {
    const WorkedExample examples[] = {
        {"New York midsummer, sunset on the next UTC day",
         {40.7128, -74.006},
         utc(2024, 6, 21, 15),
         utc(2024, 6, 21, 9, 24, 41),
         utc(2024, 6, 22, 0, 30, 27)},
        {"Gulf of Guinea at the March equinox",
         {0, 0},
         utc(2024, 3, 20, 12),
         utc(2024, 3, 20, 6, 4, 32),
         utc(2024, 3, 20, 18, 11, 11)},
        {"Gulf of Guinea on New Year's Day",
         {0, 0},
         utc(2025, 1, 1, 3),
         utc(2025, 1, 1, 5, 59, 17),
         utc(2025, 1, 1, 18, 6, 32)},
    };
    for (const auto& example : examples) {
        SCOPED_TRACE(example.name);
        const auto events = example.place.sunriseSunset(example.date);
        ASSERT_TRUE(events);
        EXPECT_NEAR(events->sunrise, example.sunrise, 2.0);
        EXPECT_NEAR(events->sunset, example.sunset, 2.0);
    }
}

TEST(SolarCalculator, PolarDayAndNightGiveNothingAndNoWindow) {
    const SolarCalculator svalbard{78, 15};
    for (double day : {utc(2024, 6, 21), utc(2024, 12, 21)}) {
        EXPECT_FALSE(svalbard.sunriseSunset(day + 43200));
        for (double t = day; t < day + 86400; t += 900) {
            ASSERT_FALSE(svalbard.isInSolarWindow(t, 3600)) << "at " << t;
        }
    }
    // Poles themselves: the sun stays up in June at the north pole and down at the south.
    EXPECT_FALSE((SolarCalculator{90, 0}.sunriseSunset(utc(2024, 6, 21))));
    EXPECT_FALSE((SolarCalculator{-90, 0}.sunriseSunset(utc(2024, 6, 21))));
}

TEST(SolarCalculator, WindowBoundsAreInclusiveToTheSecond) {
    const SolarCalculator equator{0, 0};
    const auto events = equator.sunriseSunset(utc(2024, 3, 20, 12));
    ASSERT_TRUE(events);
    struct Case {
        const char* name;
        double date;
        double window;
        bool inside;
    };
    const Case cases[] = {
        {"exactly a window after sunrise", events->sunrise + 3600, 3600, true},
        {"a second later", events->sunrise + 3601, 3600, false},
        {"exactly a window before sunrise", events->sunrise - 3600, 3600, true},
        {"a second earlier", events->sunrise - 3601, 3600, false},
        {"exactly a window after sunset", events->sunset + 3600, 3600, true},
        {"a second after that", events->sunset + 3601, 3600, false},
        {"exactly a window before sunset", events->sunset - 3600, 3600, true},
        {"noon", utc(2024, 3, 20, 12), 3600, false},
        {"sunrise itself with no window", events->sunrise, 0, true},
        {"negative window", events->sunrise, -1, false},
        {"NaN window", events->sunrise, kNaN, false},
        {"unbounded window", utc(2024, 3, 20, 12), kInf, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equator.isInSolarWindow(c.date, c.window), c.inside) << c.name;
    }
}

TEST(SolarCalculator, EveryMomentOfAUtcDayGivesTheSameEvents) {
    const SolarCalculator newYork{40.7128, -74.006};
    const double start = utc(2024, 6, 21);
    const double next = utc(2024, 6, 22);
    const auto reference = newYork.sunriseSunset(start);
    ASSERT_TRUE(reference);
    for (double t :
         {start, start + 1, start + 43200, next - 1, next - 0.001, std::nextafter(next, 0.0)}) {
        EXPECT_EQ(newYork.sunriseSunset(t), reference) << "at " << t;
    }
    const auto following = newYork.sunriseSunset(next);
    ASSERT_TRUE(following);
    EXPECT_NE(following, reference);
    EXPECT_NEAR(following->sunrise - reference->sunrise, 86400, 60);

    // The division by a day's length rounds the very last instant of 1969 into 1970.
    const double lastOf1969 = std::nextafter(0.0, -1.0);
    EXPECT_EQ(newYork.sunriseSunset(lastOf1969), newYork.sunriseSunset(utc(1969, 12, 31, 12)));
    EXPECT_NE(newYork.sunriseSunset(lastOf1969), newYork.sunriseSunset(0.0));
}

// The events' offsets from the day's start depend only on the day of the year, so days
// with the same ordinal must agree exactly, across leap years and before 1970.
TEST(SolarCalculator, DayOfYearComesFromTheUtcCalendar) {
    struct Pair {
        const char* name;
        double a;
        double b;
        bool same;
    };
    const Pair pairs[] = {
        {"31 Dec 1969 and 31 Dec 2025 are both day 365", utc(1969, 12, 31), utc(2025, 12, 31),
         true},
        {"31 Dec 2024 is day 366", utc(2024, 12, 31), utc(2025, 12, 31), false},
        {"1 Mar 2024 is day 61, as is 2 Mar 2025", utc(2024, 3, 1), utc(2025, 3, 2), true},
        {"1 Mar 2100 is day 60: no leap day that century", utc(2100, 3, 1), utc(2025, 3, 1), true},
        {"1 Jan 1900 and 1 Jan 2025", utc(1900, 1, 1), utc(2025, 1, 1), true},
    };
    const SolarCalculator place{51.5074, -0.1278};
    for (const auto& p : pairs) {
        const auto a = place.sunriseSunset(p.a + 3600);
        const auto b = place.sunriseSunset(p.b + 3600);
        ASSERT_TRUE(a && b) << p.name;
        const double riseA = a->sunrise - p.a;
        const double riseB = b->sunrise - p.b;
        if (p.same) {
            EXPECT_NEAR(riseA, riseB, 1e-3) << p.name;
        } else {
            EXPECT_GT(std::fabs(riseA - riseB), 1.0) << p.name;
        }
    }
}

TEST(SolarCalculator, MachineTimeZoneDoesNotMatter) {
    const SolarCalculator newYork{40.7128, -74.006};
    const double date = utc(2024, 6, 21, 23, 30);
    const auto reference = newYork.sunriseSunset(date);
    ASSERT_TRUE(reference);
    for (const char* zone : {"UTC0", "Pacific/Kiritimati", "America/Adak", "<+14>-14"}) {
        ScopedLocalZone local(zone);
        EXPECT_EQ(newYork.sunriseSunset(date), reference) << zone;
    }
}

// Events of a neighbouring UTC day can be the nearest ones: Tokyo's sunrise falls on the
// previous UTC evening, New York's summer sunset just after UTC midnight.
TEST(SolarCalculator, WindowSeesEventsAcrossUtcMidnight) {
    const SolarCalculator tokyo{35.6762, 139.6503};
    const SolarCalculator newYork{40.7128, -74.006};
    struct Case {
        const char* name;
        SolarCalculator place;
        double date;
        bool inside;
    };
    const Case cases[] = {
        {"Tokyo 25 minutes before sunrise, 04:00 local", tokyo, utc(2024, 6, 21, 19, 0), true},
        {"Tokyo 40 minutes after sunrise", tokyo, utc(2024, 6, 21, 20, 5), true},
        {"Tokyo at local noon", tokyo, utc(2024, 6, 22, 3, 0), false},
        {"New York 45 minutes after sunset", newYork, utc(2024, 6, 22, 1, 15), true},
        {"New York 5 minutes after UTC midnight", newYork, utc(2024, 6, 22, 0, 5), true},
        {"New York at local noon", newYork, utc(2024, 6, 22, 17, 0), false},
        {"New York two hours after sunset", newYork, utc(2024, 6, 22, 2, 31), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.place.isInSolarWindow(c.date, 3600), c.inside) << c.name;
    }
    // The day's own record is unchanged: that Tokyo sunrise belongs to 22 June UTC.
    const auto tokyo22 = tokyo.sunriseSunset(utc(2024, 6, 22, 3));
    ASSERT_TRUE(tokyo22);
    EXPECT_LT(tokyo22->sunrise, utc(2024, 6, 22));
}

TEST(SolarCalculator, UnusableInputGivesNothing) {
    struct Case {
        const char* name;
        SolarCalculator place;
        double date;
    };
    const double june = utc(2024, 6, 21, 12);
    const Case cases[] = {
        {"NaN latitude", {kNaN, 0}, june},
        {"infinite latitude", {kInf, 0}, june},
        {"NaN longitude", {0, kNaN}, june},
        {"negative infinite longitude", {0, -kInf}, june},
        {"NaN date", {0, 0}, kNaN},
        {"infinite date", {0, 0}, kInf},
        {"negative infinite date", {0, 0}, -kInf},
        {"date beyond any calendar", {0, 0}, 1e300},
        {"date in the year 40000", {0, 0}, 1.2e12},
        {"date before the year -32767", {0, 0}, -1.1e12},
        {"latitude just past the north pole", {90.5, 0}, june},
        {"latitude past the south pole", {-91, 0}, june},
        {"latitude wildly out of range", {1e10, 0}, june},
        {"latitude of half a turn, which the formula would accept", {180, 0}, june},
        {"latitude past the pole that mirrors a real one", {100, 0}, utc(2024, 3, 20)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.place.sunriseSunset(c.date)) << c.name;
        EXPECT_FALSE(c.place.isInSolarWindow(c.date, 3600)) << c.name;
        EXPECT_FALSE(c.place.isInSolarWindow(c.date, kInf)) << c.name;
    }
    // Far but still calendrical dates work.
    const auto distant = SolarCalculator{0, 0}.sunriseSunset(utc(30000, 3, 20, 12));
    ASSERT_TRUE(distant);
    EXPECT_TRUE(std::isfinite(distant->sunrise) && std::isfinite(distant->sunset));
}

TEST(SolarCalculator, LongitudeOutsideTheRangeGoesRoundTheGlobe) {
    const double date = utc(2024, 6, 21, 12);
    struct Case {
        double given;
        double same;
    };
    for (const Case& c : {Case{200, -160}, Case{-190, 170}, Case{725, 5}, Case{-1e6, 80}}) {
        const auto given = SolarCalculator{45, c.given}.sunriseSunset(date);
        ASSERT_TRUE(given) << c.given;
        EXPECT_EQ(given, (SolarCalculator{45, c.same}.sunriseSunset(date))) << c.given;
    }
    // Both ends of the range are kept as given; they name the same meridian a day apart.
    const auto east = SolarCalculator{45, 180}.sunriseSunset(date);
    const auto west = SolarCalculator{45, -180}.sunriseSunset(date);
    ASSERT_TRUE(east && west);
    EXPECT_DOUBLE_EQ(west->sunrise - east->sunrise, 86400);
}

TEST(SolarCalculator, StoredLocationFallsBackPerField) {
    struct Case {
        std::optional<double> lat;
        std::optional<double> lon;
        double expectLat;
        double expectLon;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 40.7128, -74.006},
        {0.0, std::nullopt, 0.0, -74.006},
        {std::nullopt, 0.0, 40.7128, 0.0},
        {48.8566, 2.3522, 48.8566, 2.3522},
    };
    for (const auto& c : cases) {
        const SolarCalculator place = SolarCalculator::forStoredLocation(c.lat, c.lon);
        EXPECT_EQ(place.lat, c.expectLat);
        EXPECT_EQ(place.lon, c.expectLon);
    }
}

}  // namespace
}  // namespace pellora::test
