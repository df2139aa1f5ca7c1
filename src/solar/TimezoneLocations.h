#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace pellora {

class Clock;

// A place on the globe, in degrees, north and east positive.
struct Coordinate {
    double lat = 0;
    double lon = 0;
    bool operator==(const Coordinate&) const = default;
};

// A time zone as the system reports it at one moment.
struct ZoneReading {
    std::string identifier;    // IANA area/city form, e.g. "Europe/Paris"
    int utcOffsetSeconds = 0;  // for that moment, daylight-saving time included
};

// A rough location for the machine from its time zone alone, without any location
// service: a major city's centre for well-known zones, else a longitude from the offset.
// City-level accuracy is all the sunrise and sunset schedule needs.
namespace TimezoneLocations {

using Table = std::map<std::string, Coordinate, std::less<>>;

// Zone identifier to the centre of the city that names it; compared exactly, case included.
const Table& map();

// The table's row for `identifier`, else latitude 40 and the longitude of the offset
// (15 degrees per hour), limited to -180..180.
Coordinate guess(std::string_view identifier, int utcOffsetSeconds);

// The system's current zone and its offset at `now` (seconds since 1970 UTC).
ZoneReading systemZone(double now);

// `guess` for the system's zone at the clock's present moment.
Coordinate guessFromCurrent(const Clock& clock);

}  // namespace TimezoneLocations
}  // namespace pellora
