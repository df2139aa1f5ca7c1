#include "solar/SolarCalculator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <tuple>

#include "ScopedLocalZone.h"

namespace pellora::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const SolarCalculator kNewYork{40.7128, -74.006};
const SolarCalculator kEquator{0, 0};

double utc(int y, unsigned m, unsigned d, int hour = 0, int minute = 0, int second = 0) {
    const std::chrono::sys_days date{std::chrono::year{y} / m / d};
    return date.time_since_epoch().count() * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
}

TEST(SolarCalculator, KnownPlacesAndDatesMatchReferenceTimesWhateverTheMachinesZone) {
    // To the second: a day's error in the ordinal moves the equinox sunrise by some 20 s.
    const std::tuple<SolarCalculator, double, double, double> cases[] = {
        {kNewYork, utc(2024, 6, 21, 15), utc(2024, 6, 21, 9, 24, 41), utc(2024, 6, 22, 0, 30, 27)},
        {kEquator, utc(2024, 3, 20, 12), utc(2024, 3, 20, 6, 4, 32), utc(2024, 3, 20, 18, 11, 11)},
        {kEquator, utc(2025, 1, 1, 3), utc(2025, 1, 1, 5, 59, 17), utc(2025, 1, 1, 18, 6, 32)},
    };
    for (const char* zone : {"UTC0", "Pacific/Kiritimati", "America/Adak"}) {
        ScopedLocalZone local(zone);
        for (const auto& [place, date, sunrise, sunset] : cases) {
            const auto events = place.sunriseSunset(date);
            ASSERT_TRUE(events) << date;
            EXPECT_NEAR(events->sunrise, sunrise, 2.0) << date << " in " << zone;
            EXPECT_NEAR(events->sunset, sunset, 2.0) << date << " in " << zone;
        }
    }
}

TEST(SolarCalculator, EveryMomentOfAUtcDayGivesThatDaysEventsByTheUtcCalendar) {
    const auto june21 = kNewYork.sunriseSunset(utc(2024, 6, 21));
    EXPECT_EQ(kNewYork.sunriseSunset(std::nextafter(utc(2024, 6, 22), 0.0)), june21);
    EXPECT_NE(kNewYork.sunriseSunset(utc(2024, 6, 22)), june21);
    EXPECT_EQ(kNewYork.sunriseSunset(std::nextafter(0.0, -1.0)),
              kNewYork.sunriseSunset(utc(1969, 12, 31, 12)));
    // Days of one ordinal rise alike: 2024 is a leap year, 2100 is not, 1969 precedes 1970.
    auto rise = [](double day) { return kNewYork.sunriseSunset(day)->sunrise - day; };
    EXPECT_NEAR(rise(utc(1969, 12, 31)), rise(utc(2025, 12, 31)), 1e-3);
    EXPECT_NEAR(rise(utc(2024, 3, 1)), rise(utc(2025, 3, 2)), 1e-3);
    EXPECT_NEAR(rise(utc(2100, 3, 1)), rise(utc(2025, 3, 1)), 1e-3);
    EXPECT_GT(std::fabs(rise(utc(2024, 12, 31)) - rise(utc(2025, 12, 31))), 1);
}

TEST(SolarCalculator, TheWindowIsInclusiveAndSeesEventsAcrossUtcMidnight) {
    const auto equinox = *kEquator.sunriseSunset(utc(2024, 3, 20, 12));
    const SolarCalculator tokyo{35.6762, 139.6503};
    const std::tuple<SolarCalculator, double, double, bool> cases[] = {
        {kEquator, equinox.sunrise + 3600, 3600, true},
        {kEquator, equinox.sunrise + 3601, 3600, false},
        {kEquator, equinox.sunrise, -1, false},
        {kEquator, equinox.sunrise, kNaN, false},
        {kEquator, utc(2024, 3, 20, 12), kInf, true},
        {tokyo, utc(2024, 6, 21, 19, 0), 3600, true},     // 25 min before the 22 June sunrise
        {kNewYork, utc(2024, 6, 22, 1, 15), 3600, true},  // 45 min after the 21 June sunset
        {kNewYork, utc(2024, 6, 22, 2, 31), 3600, false},
    };
    for (const auto& [place, date, window, inside] : cases) {
        EXPECT_EQ(place.isInSolarWindow(date, window), inside) << date << " " << window;
    }
}

TEST(SolarCalculator, PolarDaysAndUnusableInputGiveNothingAndNoWindow) {
    const double june = utc(2024, 6, 21, 12);
    const std::pair<SolarCalculator, double> cases[] = {
        {{78, 15}, june},   {{78, 15}, utc(2024, 12, 21, 12)},
        {{-90, 0}, june},   {{kNaN, 0}, june},
        {{0, -kInf}, june}, {{90.5, 0}, june},
        {{180, 0}, june},   {{0, 0}, kNaN},
        {{0, 0}, 1e300},    {{0, 0}, 1.2e12},
        {{0, 0}, -1.1e12}};
    for (const auto& [place, date] : cases) {
        EXPECT_FALSE(place.sunriseSunset(date)) << place.lat << ", " << place.lon << " " << date;
        for (double t = date - 43200; t < date + 43200; t += 3600) {
            EXPECT_FALSE(place.isInSolarWindow(t, 3600)) << t;
        }
    }
    EXPECT_TRUE(kEquator.sunriseSunset(utc(30000, 3, 20, 12)));
}

TEST(SolarCalculator, LongitudeGoesRoundTheGlobeAndStoredCoordinatesFallBackPerField) {
    const double date = utc(2024, 6, 21, 12);
    auto at = [date](double lon) { return *SolarCalculator{45, lon}.sunriseSunset(date); };
    for (const auto& [given, same] : {std::pair{200.0, -160.0}, {-190.0, 170.0}, {-1e6, 80.0}}) {
        EXPECT_EQ(at(given), at(same)) << given;
    }
    EXPECT_DOUBLE_EQ(at(-180).sunrise - at(180).sunrise, 86400);
    auto stored = [](std::optional<double> lat, std::optional<double> lon) {
        const SolarCalculator place = SolarCalculator::forStoredLocation(lat, lon);
        return std::pair(place.lat, place.lon);
    };
    EXPECT_EQ(stored(std::nullopt, std::nullopt), std::pair(40.7128, -74.006));
    EXPECT_EQ(stored(0.0, std::nullopt), std::pair(0.0, -74.006));
    EXPECT_EQ(stored(std::nullopt, 2.5), std::pair(40.7128, 2.5));
}

}  // namespace
}  // namespace pellora::test
