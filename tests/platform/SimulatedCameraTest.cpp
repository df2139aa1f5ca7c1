#include "platform/sim/SimulatedCamera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "VirtualClock.h"

namespace pellora::test {
namespace {

// 2024-06-21 00:00:00 UTC, the June solstice.
constexpr double kSolsticeMidnightUtc = 1718928000.0;

struct Seen {
    double at;  // seconds after the start
    bool hasImage;
    bool hasLuma;
    int width;
    int height;
    std::size_t bytesPerRow;
    double mean;         // over every pixel inside the rows
    bool paddingAll255;  // and every byte past them
};

struct SimulatedCameraTest : ::testing::Test {
    VirtualClock clock{kSolsticeMidnightUtc + 17 * 3600.0};  // 13:00 in New York
    std::unique_ptr<ManualQueue> queue = clock.makeQueue("pellora.sensor");
    std::unique_ptr<SimulatedCamera> camera;
    std::vector<Seen> seen;
    double startedAt = 0;

    void make(SimulatedCameraOptions options = {}) {
        camera = std::make_unique<SimulatedCamera>(clock, std::move(options));
        camera->setFrameHandler(*queue, [this](const CameraFrame& frame) { record(frame); });
        ASSERT_EQ(camera->addInput(camera->devices().at(0)).status,
                  CameraInputResult::Status::added);
    }
    void record(const CameraFrame& f) {
        EXPECT_TRUE(queue->isCurrent());
        double sum = 0;
        bool padding = true;
        for (std::size_t at = 0; at < f.luma.size() && f.bytesPerRow > 0; ++at) {
            if (at % f.bytesPerRow < std::size_t(f.width)) {
                sum += f.luma[at];
            } else {
                padding = padding && f.luma[at] == 255;
            }
        }
        seen.push_back({clock.monotonic() - startedAt, f.hasImage, f.luma.data() != nullptr,
                        f.width, f.height, f.bytesPerRow,
                        f.width * f.height > 0 ? sum / (f.width * f.height) : 0, padding});
    }
    void startNow() {
        startedAt = clock.monotonic();
        ASSERT_TRUE(camera->start());
    }
};

TEST_F(SimulatedCameraTest, DeliversThirtyFramesASecondOnTheGivenQueueOnlyWhileRunning) {
    make();
    clock.advance(1);
    EXPECT_TRUE(seen.empty());
    startNow();
    clock.advance(1.0 + 1e-9);
    ASSERT_EQ(seen.size(), 30u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_NEAR(seen[i].at, static_cast<double>(i + 1) / 30.0, 1e-9);
    }
    camera->stop();
    camera->stop();  // stopping a stopped camera changes nothing
    clock.advance(1);
    EXPECT_EQ(seen.size(), 30u);
    // Camera-on time over runs, as the sensor's benchmark reads it.
    for (double seconds : {0.7, 0.25}) {
        startNow();
        clock.advance(seconds);
        camera->stop();
        EXPECT_NEAR(camera->stats().lastOnSeconds, seconds, 1e-9);
    }
    auto stats = camera->stats();
    EXPECT_EQ(std::tie(stats.starts, stats.stops), std::make_tuple(3, 3));
    EXPECT_GE(stats.framesDelivered, 30 + 21 + 7);
    EXPECT_NEAR(stats.onSeconds, 1.95, 1e-6);
    camera->resetStats();
    EXPECT_EQ(camera->stats().starts, 0);
}

TEST_F(SimulatedCameraTest, FramesAreDarkAndUnsteadyUntilTheCameraSettles) {
    make();
    camera->setScriptedLuma({120});
    startNow();
    clock.advance(1.0);
    camera->stop();
    ASSERT_FALSE(seen.empty());
    double previous = -1;
    bool flickers = false;
    for (const Seen& s : seen) {
        if (s.at < 0.5) {
            EXPECT_LT(s.mean, 0.35 * 120) << "at " << s.at;
            flickers |= previous >= 0 && std::abs(s.mean - previous) > 3;
            previous = s.mean;
        } else {
            EXPECT_NEAR(s.mean, 120, 0.5) << "at " << s.at;
        }
    }
    EXPECT_TRUE(flickers);
}

TEST_F(SimulatedCameraTest, SettledFramesShowTheScriptOrTheRoomAtTheConfiguredPlace) {
    make();
    camera->setScriptedLuma({30, 200});
    std::vector<double> settled;
    for (int run = 0; run < 3; ++run) {
        startNow();
        clock.advance(0.8);
        camera->stop();
        settled.push_back(std::round(seen.back().mean));
    }
    EXPECT_EQ(settled, (std::vector<double>{30, 200, 200}));  // the last value repeats

    camera->clearScript();
    camera->setLocation(-33.8688, 151.2093);  // Sydney: 03:00 there, dark
    startNow();
    clock.advance(0.8);
    camera->stop();
    RoomLight sydney;
    sydney.latitude = -33.8688;
    sydney.longitude = 151.2093;
    EXPECT_NEAR(seen.back().mean, sydney.lumaAt(clock.now()), 0.5);
    EXPECT_NEAR(camera->sceneLuma(), sydney.ambientLuma, 1e-9);
}

TEST_F(SimulatedCameraTest, RowsKeepTheirLayoutAndPaddingIs255) {
    SimulatedCameraOptions options;
    options.width = 10;
    options.height = 6;
    options.bytesPerRow = 16;
    make(options);
    camera->setScriptedLuma({50});
    startNow();
    clock.advance(0.8);
    EXPECT_EQ(seen.back().bytesPerRow, 16u);
    EXPECT_TRUE(seen.back().paddingAll255);
    EXPECT_NEAR(seen.back().mean, 50, 1.0);

    // A scripted plane is delivered as given once settled; the dark frames keep its geometry.
    camera->setScriptedPlane(3, 2, 4, {1, 2, 3, 255, 4, 5, 6});
    std::vector<std::uint8_t> last;
    camera->setFrameHandler(*queue, [&](const CameraFrame& frame) {
        last.assign(frame.luma.begin(), frame.luma.end());
        record(frame);
    });
    camera->stop();
    seen.clear();
    startNow();
    clock.advance(0.8);
    EXPECT_EQ(last, (std::vector<std::uint8_t>{1, 2, 3, 255, 4, 5, 6}));
    EXPECT_EQ(std::tie(seen.front().width, seen.front().height), std::make_tuple(3, 2));
    EXPECT_EQ(std::tie(seen.back().width, seen.back().height), std::make_tuple(3, 2));
}

TEST_F(SimulatedCameraTest, FaultsShapeWhatIsDelivered) {
    make();
    camera->setFault(SimulatedCameraFault::noImage);
    startNow();
    clock.advance(0.1);
    ASSERT_FALSE(seen.empty());
    EXPECT_FALSE(seen.back().hasImage);

    camera->setFault(SimulatedCameraFault::noLumaPlane);
    clock.advance(0.1);
    EXPECT_TRUE(seen.back().hasImage);
    EXPECT_FALSE(seen.back().hasLuma);

    camera->setFault(SimulatedCameraFault::noFrames);
    std::size_t count = seen.size();
    clock.advance(1);
    EXPECT_EQ(seen.size(), count);
    EXPECT_TRUE(camera->isRunning());
    camera->setFault(SimulatedCameraFault::none);
    camera->setFrameHandler(*queue, {});  // detached: nothing more either
    clock.advance(1);
    EXPECT_EQ(seen.size(), count);
    camera->stop();

    camera->setFault(SimulatedCameraFault::startFails);
    EXPECT_FALSE(camera->start());
    EXPECT_FALSE(camera->isRunning());

    camera->removeInput();
    camera->setFault(SimulatedCameraFault::inputFails);
    CameraInputResult failed = camera->addInput(camera->devices().at(0));
    EXPECT_EQ(failed.status, CameraInputResult::Status::creationFailed);
    EXPECT_FALSE(failed.error.empty());
    camera->setFault(SimulatedCameraFault::cannotAdd);
    EXPECT_EQ(camera->addInput(camera->devices().at(0)).status,
              CameraInputResult::Status::cannotAdd);
    EXPECT_EQ(camera->inputDevice(), std::nullopt);
    EXPECT_FALSE(camera->start());  // nothing to film with
}

TEST_F(SimulatedCameraTest, AnUnpluggedCameraStopsSendingAndCannotBeAttached) {
    make();
    CameraDevice device = camera->devices().at(0);
    startNow();
    clock.advance(0.2);
    std::size_t count = seen.size();
    EXPECT_GT(count, 0u);
    camera->setPresent(false);
    clock.advance(1);
    EXPECT_EQ(seen.size(), count);
    EXPECT_TRUE(camera->devices().empty());
    EXPECT_EQ(camera->inputDevice(), device);  // the stale input stays until removed
    camera->stop();
    camera->removeInput();
    EXPECT_EQ(camera->addInput(device).status, CameraInputResult::Status::creationFailed);
    camera->setPresent(true);
    EXPECT_EQ(camera->addInput(device).status, CameraInputResult::Status::added);
}

struct ElevationCase {
    const char* name;
    double wall;
    double latitude;
    double longitude;
    double expected;  // degrees
};

TEST(RoomLightSun, ElevationFollowsTheSun) {
    // Noon elevations on the solstice are 90 - |latitude - 23.44|; midnight ones the mirror.
    const std::vector<ElevationCase> cases = {
        {"New York solar noon", kSolsticeMidnightUtc + 16 * 3600 + 57 * 60, 40.7128, -74.006,
         90 - (40.7128 - 23.44)},
        {"New York solar midnight", kSolsticeMidnightUtc + 4 * 3600 + 57 * 60, 40.7128, -74.006,
         -(90 - 40.7128 - 23.44)},
        {"Sydney solar noon", kSolsticeMidnightUtc + 1 * 3600 + 57 * 60, -33.8688, 151.2093,
         90 - (33.8688 + 23.44)},
        {"Equator at the Greenwich noon", kSolsticeMidnightUtc + 12 * 3600 + 2 * 60, 0, 0,
         90 - 23.44},
        {"Tromsø at midnight: midnight sun", kSolsticeMidnightUtc + 22 * 3600 + 45 * 60, 69.65,
         18.96, 23.44 - (90 - 69.65)},
    };
    for (const ElevationCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(RoomLight::sunElevation(c.wall, c.latitude, c.longitude), c.expected, 0.5);
    }
}

TEST(RoomLightModel, DaylightLampAndNightFollowTheClock) {
    RoomLight room;  // New York; solar time is about UTC - 4:57 there
    auto atUtc = [](double hours) { return kSolsticeMidnightUtc + hours * 3600.0; };
    double noon = room.lumaAt(atUtc(17));
    double night = room.lumaAt(atUtc(7.5));   // 02:30 solar time
    double evening = room.lumaAt(atUtc(26));  // 21:00 solar time, sun well down

    EXPECT_GT(noon, room.ambientLuma + 0.9 * room.daylightLuma * (1 - room.cloudDepth));
    EXPECT_LE(noon, room.ambientLuma + room.daylightLuma + 1e-9);
    EXPECT_NEAR(night, room.ambientLuma, 1e-9);
    EXPECT_FALSE(room.lampOnAt(atUtc(7.5)));
    EXPECT_TRUE(room.lampOnAt(atUtc(26)));
    EXPECT_NEAR(evening, room.ambientLuma + room.lampLuma, 0.5);
    // At 18:00 solar time in June the sun still stands high: no lamp yet.
    EXPECT_FALSE(room.lampOnAt(atUtc(23)));
}

TEST(RoomLightModel, CloudsDriftSmoothlyBetweenClearAndOvercastAndDifferBySeed) {
    RoomLight room;
    RoomLight other;
    other.seed = 7;
    double lowest = 1, highest = 0, largestStep = 0, differences = 0;
    for (int minute = 1; minute < 7 * 24 * 60; ++minute) {
        double t = kSolsticeMidnightUtc + minute * 60.0;
        double c = room.cloudinessAt(t);
        lowest = std::min(lowest, c);
        highest = std::max(highest, c);
        largestStep = std::max(largestStep, std::abs(c - room.cloudinessAt(t - 60)));
        differences += std::abs(c - other.cloudinessAt(t));
    }
    EXPECT_GE(lowest, 0.0);
    EXPECT_LT(lowest, 0.2);
    EXPECT_GT(highest, 0.8);
    EXPECT_LE(highest, 1.0);
    EXPECT_LT(largestStep, 0.05);  // a minute never jumps from clear to overcast
    EXPECT_GT(differences, 100.0);
}

}  // namespace
}  // namespace pellora::test
