#include "solar/TimezoneLocations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "ScopedLocalZone.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

TEST(TimezoneLocations, GuessUsesTheExactIdentifierElseTheOffsetLimitedToTheGlobe) {
    const std::tuple<const char*, int, Coordinate> cases[] = {
        {"Europe/Paris", 7200, {48.8566, 2.3522}},
        {"Europe/Paris ", 3600, {40, 15}},
        {"europe/paris", 3600, {40, 15}},
        {"America/Sao_Paulo", 0, {-23.5505, -46.6333}},
        {"Pacific/Auckland", 0, {-36.8485, 174.7633}},
        {"Asia/Kathmandu", 20700, {40, 86.25}},
        {"America/St_Johns", -12600, {40, -52.5}},
        {"America/St_Johns", -9000, {40, -37.5}},
        {"Pacific/Kiritimati", 50400, {40, 180}},
        {"Etc/GMT+12", -43200, {40, -180}},
        {"Etc/Test", -50400, {40, -180}},
        {"UTC", 0, {40, 0}},
        {"", 0, {40, 0}}};
    for (const auto& [identifier, offset, expected] : cases) {
        EXPECT_EQ(TimezoneLocations::guess(identifier, offset), expected) << identifier;
    }
}

TEST(TimezoneLocations, TheSystemZoneIsReadWithItsOffsetAtTheGivenMoment) {
    const double january = 1705320000;  // 2024-01-15 12:00 UTC
    const double july = 1721044800;     // 2024-07-15 12:00 UTC
    const std::tuple<const char*, double, int> cases[] = {
        {"Asia/Kathmandu", january, 20700}, {"America/St_Johns", january, -12600},
        {"America/St_Johns", july, -9000},  {"Pacific/Kiritimati", july, 50400},
        {"Europe/Paris", january, 3600},    {"Europe/Paris", july, 7200}};
    int checked = 0;
    for (const auto& [identifier, moment, offset] : cases) {
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::path("/usr/share/zoneinfo") / identifier,
                                     error)) {
            std::printf("no time-zone data for %s: row skipped\n", identifier);
            continue;
        }
        ScopedLocalZone local(identifier);
        const ZoneReading reading = TimezoneLocations::systemZone(moment);
        EXPECT_EQ(reading.identifier, identifier);
        EXPECT_EQ(reading.utcOffsetSeconds, offset) << identifier << " at " << moment;
        EXPECT_EQ(TimezoneLocations::guessFromCurrent(VirtualClock(moment)),
                  TimezoneLocations::guess(identifier, offset));
        ++checked;
    }
    if (checked == 0) {
        GTEST_SKIP() << "no time-zone data at all";
    }
}

}  // namespace
}  // namespace pellora::test
