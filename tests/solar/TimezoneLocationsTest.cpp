#include "solar/TimezoneLocations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "ScopedLocalZone.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

TEST(TimezoneLocations, TheTableHoldsTheFiftyFiveCitiesWithTheirSigns) {
    const auto& table = TimezoneLocations::map();
    EXPECT_EQ(table.size(), 55u);
    EXPECT_EQ(table.at("America/New_York"), (Coordinate{40.7128, -74.006}));
    EXPECT_EQ(table.at("Europe/London"), (Coordinate{51.5074, -0.1278}));
    EXPECT_EQ(table.at("America/Sao_Paulo"), (Coordinate{-23.5505, -46.6333}));
    EXPECT_EQ(table.at("Pacific/Auckland"), (Coordinate{-36.8485, 174.7633}));
}

TEST(TimezoneLocations, GuessUsesTheExactIdentifierElseTheOffsetLimitedToTheGlobe) {
    struct Case {
        const char* identifier;
        int offset;
        Coordinate expected;
    } cases[] = {{"Europe/Paris", 7200, {48.8566, 2.3522}},
                 {"Asia/Kathmandu", 20700, {40, 86.25}},
                 {"America/St_Johns", -12600, {40, -52.5}},
                 {"America/St_Johns", -9000, {40, -37.5}},
                 {"Pacific/Kiritimati", 50400, {40, 180}},
                 {"Etc/GMT+12", -43200, {40, -180}},
                 {"Etc/Test", -50400, {40, -180}},
                 {"UTC", 0, {40, 0}},
                 {"", 0, {40, 0}},
                 {"europe/paris", 3600, {40, 15}},
                 {"Europe/Paris ", 3600, {40, 15}}};
    for (const Case& c : cases) {
        EXPECT_EQ(TimezoneLocations::guess(c.identifier, c.offset), c.expected) << c.identifier;
    }
}

bool haveZoneData(const char* identifier) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path("/usr/share/zoneinfo") / identifier,
                                   error);
}

TEST(TimezoneLocations, TheSystemZoneIsReadWithItsOffsetAtTheGivenMoment) {
    const double january = 1705320000;  // 2024-01-15 12:00 UTC
    const double july = 1721044800;     // 2024-07-15 12:00 UTC
    struct Case {
        const char* identifier;
        double moment;
        int offset;
    } cases[] = {{"Asia/Kathmandu", january, 20700}, {"America/St_Johns", january, -12600},
                 {"America/St_Johns", july, -9000},  {"Pacific/Kiritimati", july, 50400},
                 {"Europe/Paris", january, 3600},    {"Europe/Paris", july, 7200}};
    int checked = 0;
    for (const Case& c : cases) {
        if (!haveZoneData(c.identifier)) {
            std::printf("no time-zone data for %s: row skipped\n", c.identifier);
            continue;
        }
        ScopedLocalZone local(c.identifier);
        const ZoneReading reading = TimezoneLocations::systemZone(c.moment);
        EXPECT_EQ(reading.identifier, c.identifier);
        EXPECT_EQ(reading.utcOffsetSeconds, c.offset) << c.identifier << " at " << c.moment;
        VirtualClock clock(c.moment);
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(clock),
                  TimezoneLocations::guess(c.identifier, c.offset));
        ++checked;
    }
    if (checked == 0) {
        GTEST_SKIP() << "no time-zone data at all";
    }
}

}  // namespace
}  // namespace pellora::test
