#pragma once

#include <algorithm>
#include <cmath>

namespace pellora {

// The two parts of the day that keep separate curves.
enum class DayPeriod { day, night };

// Night is from 22:00 up to (not including) 7:00.
inline DayPeriod dayPeriodOf(double hour) {
    return (hour < 7.0 || hour >= 22.0) ? DayPeriod::night : DayPeriod::day;
}

// A learnt point of a monitor's curve: the brightness the user chose for a room light.
struct Anchor {
    double luma = 0;        // room light, 0 to 255
    double brightness = 0;  // chosen brightness, 0 to 100
    double hour = 0;        // local fractional hour when last observed, or in the morning fade
    double t = 0;           // time of the last observation, seconds since 1970
    double weight = 0;      // evidence as of `t`, not yet decayed

    bool operator==(const Anchor&) const = default;

    DayPeriod period() const { return dayPeriodOf(hour); }

    // Evidence fades with a half-life of `halfLifeDays`; a stamp in the future counts as now.
    double decayedWeight(double now, double halfLifeDays = 30.0) const {
        const double ageDays = std::max(0.0, (now - t) / 86400.0);
        return weight * std::exp2(ageDays / -halfLifeDays);
    }
};

}  // namespace pellora
