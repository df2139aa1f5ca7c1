#include "solar/SolarCalculator.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

namespace pellora {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// cos 90.833°: the zenith allows for refraction and the size of the sun's disc.
constexpr double kCosZenith = -0.01453808050249674;
constexpr double kRadiansPerDayOfYear = 0.01721420632103996;  // 2π / 365

struct UtcDay {
    double start = 0;  // 00:00 UTC
    int ordinal = 1;   // 1 for 1 January
};

constexpr std::chrono::sys_days kFirstDay{std::chrono::year::min() / std::chrono::January / 1};
constexpr std::chrono::sys_days kLastDay{std::chrono::year::max() / std::chrono::December / 31};

// Civil-calendar arithmetic on UTC only, so the machine's time zone never enters.
std::optional<UtcDay> utcDayContaining(double date) {
    if (!std::isfinite(date)) {
        return std::nullopt;
    }
    double index = std::floor(date / kSecondsPerDay);
    // The division can round across midnight for instants a hair before it.
    if (index * kSecondsPerDay > date) {
        index -= 1;
    } else if ((index + 1) * kSecondsPerDay <= date) {
        index += 1;
    }
    if (index < kFirstDay.time_since_epoch().count() ||
        index > kLastDay.time_since_epoch().count()) {
        return std::nullopt;
    }
    const std::chrono::sys_days day{std::chrono::days{static_cast<long long>(index)}};
    const std::chrono::year_month_day civil{day};
    if (!civil.ok()) {
        return std::nullopt;
    }
    const std::chrono::sys_days newYear{civil.year() / std::chrono::January / 1};
    return UtcDay{index * kSecondsPerDay, static_cast<int>((day - newYear).count()) + 1};
}

}  // namespace

SolarCalculator SolarCalculator::forStoredLocation(std::optional<double> storedLat,
                                                   std::optional<double> storedLon) {
    return SolarCalculator{storedLat.value_or(defaultLat), storedLon.value_or(defaultLon)};
}

std::optional<SunriseSunset> SolarCalculator::sunriseSunset(double date) const {
    if (!std::isfinite(lat) || !std::isfinite(lon) || lat < -90.0 || lat > 90.0) {
        return std::nullopt;
    }
    const std::optional<UtcDay> day = utcDayContaining(date);
    if (!day) {
        return std::nullopt;
    }
    const double longitude = (lon < -180.0 || lon > 180.0) ? std::remainder(lon, 360.0) : lon;

    const double g = (day->ordinal - 1) * kRadiansPerDayOfYear;
    const double equationOfTime =
        229.18 * (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) -
                  0.014615 * std::cos(2 * g) - 0.040849 * std::sin(2 * g));
    const double declination = 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) -
                               0.006758 * std::cos(2 * g) + 0.000907 * std::sin(2 * g) -
                               0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g);
    const double phi = lat * std::numbers::pi / 180.0;
    const double c = (kCosZenith - std::sin(phi) * std::sin(declination)) /
                     (std::cos(phi) * std::cos(declination));
    if (!(std::fabs(c) <= 1.0)) {
        return std::nullopt;
    }
    const double hourAngle = std::acos(c) * 180.0 / std::numbers::pi;
    // Minutes after the day's start, deliberately not wrapped into one day.
    const double sunrise = 720.0 - 4.0 * (longitude + hourAngle) - equationOfTime;
    const double sunset = 720.0 - 4.0 * (longitude - hourAngle) - equationOfTime;
    return SunriseSunset{day->start + sunrise * 60.0, day->start + sunset * 60.0};
}

bool SolarCalculator::isInSolarWindow(double date, double window) const {
    // A day's events lie between 12.3 hours before its start and 36.3 hours after, so for
    // any date only its own UTC day and the two beside it can hold one nearby.
    for (double offset : {0.0, -kSecondsPerDay, kSecondsPerDay}) {
        const std::optional<SunriseSunset> events = sunriseSunset(date + offset);
        if (events && (std::fabs(events->sunrise - date) <= window ||
                       std::fabs(events->sunset - date) <= window)) {
            return true;
        }
    }
    return false;
}

bool SolarCalculator::isAfterSunset(double date) const {
    double latest = -std::numeric_limits<double>::infinity();
    bool sunset = false;
    for (double offset : {0.0, -kSecondsPerDay, kSecondsPerDay}) {
        const std::optional<SunriseSunset> events = sunriseSunset(date + offset);
        if (!events) {
            continue;
        }
        for (auto [at, isSunset] : {std::pair{events->sunrise, false}, {events->sunset, true}}) {
            if (at <= date && at > latest) {
                latest = at;
                sunset = isSunset;
            }
        }
    }
    return sunset;
}

}  // namespace pellora
