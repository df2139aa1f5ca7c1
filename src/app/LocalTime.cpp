#include "app/LocalTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace pellora::localtime {

namespace {

// A time the calendar cannot place counts as midnight.
std::tm broken(double wallTime) {
    std::tm parts{};
    if (!std::isfinite(wallTime) || std::fabs(wallTime) > 1e15) {
        return parts;
    }
    std::time_t t = static_cast<std::time_t>(std::floor(wallTime));
    // localtime_r reads the zone once per process: a zone changed while we run (a trip, the
    // settings panel rewriting /etc/localtime) is seen only after tzset looks again.
    ::tzset();
    if (!localtime_r(&t, &parts)) {
        return std::tm{};
    }
    return parts;
}

}  // namespace

double fractionalHour(double wallTime) {
    std::tm parts = broken(wallTime);
    return parts.tm_hour + parts.tm_min / 60.0;
}

int hourOfDay(double wallTime) {
    return broken(wallTime).tm_hour;
}

std::string hoursMinutes(double wallTime) {
    std::tm parts = broken(wallTime);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", parts.tm_hour, parts.tm_min);
    return text;
}

std::string hoursMinutesSeconds(double wallTime) {
    std::tm parts = broken(wallTime);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace pellora::localtime
