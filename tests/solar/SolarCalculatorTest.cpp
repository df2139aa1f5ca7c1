#include "solar/SolarCalculator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <tuple>

#include "ScopedLocalZone.h"

namespace pellora::test {
namespace {

const double kNaN = std::nan("");
const SolarCalculator kNewYork{40.7128, -74.006};
const SolarCalculator kEquator{0, 0};

double utc(int y, unsigned m, unsigned d, int hour = 0, int minute = 0, int second = 0) {
    const std::chrono::sys_days date{std::chrono::year{y} / m / d};
    return date.time_since_epoch().count() * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
}

TEST(SolarCalculator, ReferenceTimesWhateverTheZoneDaysByTheUtcCalendarLongitudeWrapped) {
    // To the second: a day's error in the ordinal moves the equinox sunrise by some 20 s.
    const std::tuple<SolarCalculator, double, double, double> cases[] = {
        {kNewYork, utc(2024, 6, 21, 15), utc(2024, 6, 21, 9, 24, 41), utc(2024, 6, 22, 0, 30, 27)},
        {kEquator, utc(2025, 1, 1, 3), utc(2025, 1, 1, 5, 59, 17), utc(2025, 1, 1, 18, 6, 32)}};
    ScopedLocalZone local("Pacific/Kiritimati");  // UTC+14: a local calendar would be a day off
    for (const auto& [place, date, sunrise, sunset] : cases) {
        const auto events = place.sunriseSunset(date);
        ASSERT_TRUE(events) << date;
        EXPECT_NEAR(events->sunrise, sunrise, 2.0) << date;
        EXPECT_NEAR(events->sunset, sunset, 2.0) << date;
    }
    EXPECT_EQ(kNewYork.sunriseSunset(std::nextafter(utc(2024, 6, 22), 0.0)),
              kNewYork.sunriseSunset(utc(2024, 6, 21)));
    // Days of one ordinal rise alike: 2024 is a leap year.
    auto rise = [](double day) { return kNewYork.sunriseSunset(day)->sunrise - day; };
    EXPECT_NEAR(rise(utc(2024, 3, 1)), rise(utc(2025, 3, 2)), 1e-3);
    // Longitude goes round the globe; stored coordinates fall back per field.
    auto at = [](double lon) { return *SolarCalculator{45, lon}.sunriseSunset(utc(2024, 6, 21)); };
    EXPECT_EQ(at(200.0), at(-160.0));
    EXPECT_DOUBLE_EQ(at(-180).sunrise - at(180).sunrise, 86400);
    EXPECT_EQ(SolarCalculator::forStoredLocation(0.0, std::nullopt).lon, -74.006);
    EXPECT_EQ(SolarCalculator::forStoredLocation(std::nullopt, 2.5).lat, 40.7128);
}

TEST(SolarCalculator, TheWindowIsInclusiveCrossesUtcMidnightAndNeedsUsableInput) {
    const double rise = kEquator.sunriseSunset(utc(2024, 3, 20, 12))->sunrise;
    // Tokyo 25 min before the 22 June sunrise, New York 45 min after the 21 June sunset.
    const std::tuple<SolarCalculator, double, double, bool> cases[] = {
        {kEquator, rise + 3600, 3600, true},
        {kEquator, rise + 3601, 3600, false},
        {kEquator, rise, kNaN, false},
        {{35.6762, 139.6503}, utc(2024, 6, 21, 19), 3600, true},
        {kNewYork, utc(2024, 6, 22, 1, 15), 3600, true}};
    for (const auto& [place, date, window, inside] : cases) {
        EXPECT_EQ(place.isInSolarWindow(date, window), inside) << date << " " << window;
    }
    const double june = utc(2024, 6, 21, 12);
    const std::pair<SolarCalculator, double> unusable[] = {
        {{78, 15}, june},  {{-90, 0}, june}, {{kNaN, 0}, june}, {{0, kNaN}, june},
        {{90.5, 0}, june}, {{0, 0}, kNaN},   {{0, 0}, 1e300},   {{0, 0}, -1.1e12}};
    for (const auto& [place, date] : unusable) {
        EXPECT_FALSE(place.sunriseSunset(date)) << place.lat << ", " << place.lon << " " << date;
        EXPECT_FALSE(place.isInSolarWindow(date, 43200)) << date;
    }
}

}  // namespace
}  // namespace pellora::test
