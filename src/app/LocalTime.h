#pragma once

#include <string>

namespace pellora {

// Wall times (seconds since 1970 UTC) seen in the user's own time zone.
namespace localtime {

// Hour plus minute / 60; seconds ignored.
double fractionalHour(double wallTime);
int hourOfDay(double wallTime);
// "HH:mm" and "HH:mm:ss", 24-hour clock.
std::string hoursMinutes(double wallTime);
std::string hoursMinutesSeconds(double wallTime);

}  // namespace localtime
}  // namespace pellora
