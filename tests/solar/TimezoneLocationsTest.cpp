#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "ScopedLocalZone.h"
#include "VirtualClock.h"
#include "solar/TimezoneLocations.h"

namespace pellora::test {
namespace {

TEST(TimezoneLocations, TableHoldsTheCitiesWithPlausibleCoordinates) {
    const auto& table = TimezoneLocations::map();
    EXPECT_EQ(table.size(), 55u);
    for (const auto& [identifier, place] : table) {
        EXPECT_NE(identifier.find('/'), std::string::npos) << identifier;
        EXPECT_TRUE(place.lat >= -90 && place.lat <= 90) << identifier;
        EXPECT_TRUE(place.lon >= -180 && place.lon <= 180) << identifier;
    }
    EXPECT_EQ(table.at("America/New_York"), (Coordinate{40.7128, -74.006}));
    EXPECT_EQ(table.at("Europe/London"), (Coordinate{51.5074, -0.1278}));
    EXPECT_EQ(table.at("Pacific/Auckland"), (Coordinate{-36.8485, 174.7633}));
    // Southern and western cities keep their signs.
    EXPECT_LT(table.at("America/Sao_Paulo").lat, 0);
    EXPECT_LT(table.at("America/Sao_Paulo").lon, 0);
    EXPECT_GT(table.at("Asia/Tokyo").lon, 0);
}

TEST(TimezoneLocations, GuessUsesTheTableThenTheOffset) {
    struct Case {
        const char* name;
        const char* identifier;
        int offset;
        Coordinate expected;
    };
    const Case cases[] = {
        {"Paris in winter", "Europe/Paris", 3600, {48.8566, 2.3522}},
        {"Paris in summer", "Europe/Paris", 7200, {48.8566, 2.3522}},
        {"Kolkata", "Asia/Kolkata", 19800, {22.5726, 88.3639}},
        {"Kathmandu, +5:45", "Asia/Kathmandu", 20700, {40.0, 86.25}},
        {"St John's in winter, -3:30", "America/St_Johns", -12600, {40.0, -52.5}},
        {"St John's in summer, -2:30", "America/St_Johns", -9000, {40.0, -37.5}},
        {"Kiritimati, +14, capped at 180", "Pacific/Kiritimati", 50400, {40.0, 180.0}},
        {"Chatham in summer, +13:45, capped", "Pacific/Chatham", 49500, {40.0, 180.0}},
        {"a zone past -12 hours, floored at -180", "Etc/Test", -50400, {40.0, -180.0}},
        {"Baker Island, -12", "Etc/GMT+12", -43200, {40.0, -180.0}},
        {"UTC", "UTC", 0, {40.0, 0.0}},
        {"GMT", "GMT", 0, {40.0, 0.0}},
        {"no identifier at all", "", 0, {40.0, 0.0}},
        {"case differs from the table", "europe/paris", 3600, {40.0, 15.0}},
        {"trailing space", "Europe/Paris ", 3600, {40.0, 15.0}},
        {"canonical name of a zone the table knows by its old name",
         "America/Argentina/Buenos_Aires",
         -10800,
         {40.0, -45.0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimezoneLocations::guess(c.identifier, c.offset), c.expected) << c.name;
    }
}

bool haveZoneData(const char* identifier) {
    return std::filesystem::exists(std::filesystem::path("/usr/share/zoneinfo") / identifier);
}

TEST(TimezoneLocations, SystemZoneReportsIdentifierAndOffsetAtTheGivenMoment) {
    struct Case {
        const char* identifier;
        double moment;
        int offset;
    };
    const double january = 1705320000;  // 2024-01-15 12:00 UTC
    const double july = 1721044800;     // 2024-07-15 12:00 UTC
    const Case cases[] = {
        {"Asia/Kathmandu", january, 20700}, {"America/St_Johns", january, -12600},
        {"America/St_Johns", july, -9000},  {"Pacific/Kiritimati", july, 50400},
        {"Europe/Paris", january, 3600},    {"Europe/Paris", july, 7200},
    };
    for (const auto& c : cases) {
        if (!haveZoneData(c.identifier)) {
            GTEST_SKIP() << "no time-zone data for " << c.identifier;
        }
        ScopedLocalZone local(c.identifier);
        const ZoneReading reading = TimezoneLocations::systemZone(c.moment);
        EXPECT_EQ(reading.identifier, c.identifier);
        EXPECT_EQ(reading.utcOffsetSeconds, c.offset) << c.identifier << " at " << c.moment;
    }
}

TEST(TimezoneLocations, GuessFromCurrentFollowsTheClockThroughDaylightSaving) {
    if (!haveZoneData("America/St_Johns") || !haveZoneData("Europe/Paris")) {
        GTEST_SKIP() << "no time-zone data";
    }
    VirtualClock clock;  // midsummer
    {
        ScopedLocalZone local("America/St_Johns");
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(clock), (Coordinate{40.0, -37.5}));
        clock.setWall(1705320000);  // mid-January
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(clock), (Coordinate{40.0, -52.5}));
    }
    ScopedLocalZone local("Europe/Paris");
    EXPECT_EQ(TimezoneLocations::guessFromCurrent(clock), (Coordinate{48.8566, 2.3522}));
}

}  // namespace
}  // namespace pellora::test
