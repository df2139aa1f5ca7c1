#pragma once

#include <optional>

namespace pellora {

// One UTC day's sunrise and sunset, in seconds since 1970-01-01 00:00 UTC.
struct SunriseSunset {
    double sunrise = 0;
    double sunset = 0;
    bool operator==(const SunriseSunset&) const = default;
};

// Sunrise and sunset at a place, from the NOAA general solar position approximation.
// Needs no time-zone data beyond UTC and keeps no state; safe on any thread.
//
// Unusable input gives no result rather than a made-up instant: a non-finite latitude,
// longitude or date, a latitude outside -90..90, or a date whose UTC day lies outside
// the years -32767..32767. A longitude outside -180..180 is taken round the globe
// (200 is -160).
struct SolarCalculator {
    double lat = 0;  // degrees, north positive
    double lon = 0;  // degrees, east positive

    // Where callers stand when no location has been stored.
    static constexpr double defaultLat = 40.7128;
    static constexpr double defaultLon = -74.006;

    // A calculator for the stored coordinates, each replaced by its default when absent.
    static SolarCalculator forStoredLocation(std::optional<double> storedLat,
                                             std::optional<double> storedLon);

    // The sunrise and sunset of the UTC calendar day containing `date`. They may fall on
    // the UTC day before or after it far from the Greenwich meridian. Nothing when the sun
    // does not cross the horizon that day (polar day or night).
    std::optional<SunriseSunset> sunriseSunset(double date) const;

    // Whether `date` lies within `window` seconds (inclusive) of a sunrise or sunset. The
    // neighbouring UTC days' events count too, so that a sunrise or sunset just across a
    // UTC midnight from `date` is not missed. Meant for windows of up to about 11 hours.
    bool isInSolarWindow(double date, double window) const;

    // Whether the last sunrise or sunset before `date` was a sunset. False where the sun
    // neither rises nor sets nearby (polar day or night) and for unusable input.
    bool isAfterSunset(double date) const;
};

}  // namespace pellora
