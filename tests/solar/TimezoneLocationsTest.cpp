#include "solar/TimezoneLocations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "ScopedLocalZone.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

TEST(TimezoneLocations, GuessByIdentifierElseOffsetAndTheSystemZoneReadAtTheMoment) {
    const std::tuple<const char*, int, Coordinate> cases[] = {
        {"Europe/Paris", 7200, {48.8566, 2.3522}}, {"europe/paris", 3600, {40, 15}},
        {"Asia/Kathmandu", 20700, {40, 86.25}},    {"Pacific/Kiritimati", 50400, {40, 180}},
        {"Etc/Test", -50400, {40, -180}},          {"", 0, {40, 0}}};
    for (const auto& [identifier, offset, expected] : cases) {
        EXPECT_EQ(TimezoneLocations::guess(identifier, offset), expected) << identifier;
    }
    // Paris is in the table: a misread identifier would guess by the offset instead.
    const std::tuple<const char*, double, int> zones[] = {
        {"Europe/Paris", 1705320000, 3600},   // 2024-01-15 12:00 UTC
        {"Europe/Paris", 1721044800, 7200}};  // 2024-07-15 12:00 UTC
    if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Paris")) {
        GTEST_SKIP() << "no time-zone data";
    }
    for (const auto& [identifier, moment, offset] : zones) {
        ScopedLocalZone local(identifier);
        const ZoneReading reading = TimezoneLocations::systemZone(moment);
        EXPECT_EQ(reading.utcOffsetSeconds, offset) << identifier << " at " << moment;
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(VirtualClock(moment)),
                  TimezoneLocations::guess(identifier, offset));
    }
}

// TZ may name the zone's file by its path, or be a rule with no dates for the summer time,
// both of which the C library takes: the guess is then still Paris, or still an hour east.
TEST(TimezoneLocations, TheSystemZoneGivenAsAFileOrABareRule) {
    if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Paris")) {
        GTEST_SKIP() << "no time-zone data";
    }
    const double january = 1705320000;  // 2024-01-15 12:00 UTC
    for (const char* path :
         {"/usr/share/zoneinfo/Europe/Paris", ":/usr/share/zoneinfo/Europe/Paris"}) {
        ScopedLocalZone local(path);
        EXPECT_EQ(TimezoneLocations::systemZone(january).utcOffsetSeconds, 3600) << path;
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(VirtualClock(january)),
                  (Coordinate{48.8566, 2.3522}))
            << path;
    }
    ScopedLocalZone local("CET-1CEST");
    EXPECT_EQ(TimezoneLocations::systemZone(january).utcOffsetSeconds, 3600);
    EXPECT_EQ(TimezoneLocations::guessFromCurrent(VirtualClock(january)), (Coordinate{40, 15}));
}

}  // namespace
}  // namespace pellora::test
