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
    double at;                                // seconds after the start
    std::tuple<int, int, std::size_t> shape;  // width, height, bytes per row
    double mean;                              // over every pixel inside the rows
    bool paddingAll255;
};

struct SimulatedCameraTest : ::testing::Test {
    VirtualClock clock{kSolsticeMidnightUtc + 17 * 3600.0};  // 13:00 in New York
    std::unique_ptr<ManualQueue> queue = clock.makeQueue("pellora.sensor");
    std::unique_ptr<SimulatedCamera> camera;
    std::vector<Seen> seen;
    double startedAt = 0;

    void make(SimulatedCameraOptions options = {}) {
        camera = std::make_unique<SimulatedCamera>(clock, std::move(options));
        camera->setFrameHandler(*queue, [this](const CameraFrame& f) {
            EXPECT_TRUE(queue->isCurrent());
            double sum = 0;
            bool padding = true;
            for (std::size_t at = 0; at < f.luma.size(); ++at) {
                bool inRow = at % f.bytesPerRow < std::size_t(f.width);
                sum += inRow ? f.luma[at] : 0;
                padding = padding && (inRow || f.luma[at] == 255);
            }
            seen.push_back({clock.monotonic() - startedAt,
                            {f.width, f.height, f.bytesPerRow},
                            sum / (f.width * f.height),
                            padding});
        });
        ASSERT_EQ(camera->addInput(camera->devices().at(0)).status,
                  CameraInputResult::Status::added);
    }
    // A run of `seconds`; the mean of its last frame.
    double run(double seconds) {
        startedAt = clock.monotonic();
        EXPECT_TRUE(camera->start());
        clock.advance(seconds);
        camera->stop();
        return seen.empty() ? -1 : seen.back().mean;
    }
};

// Thirty frames a second only while running, dark and unsteady until the camera settles,
// then the scripted values run by run, and then the room at the place.
TEST_F(SimulatedCameraTest, FramesFollowTheRateTheSettlingAndTheScene) {
    make();
    camera->setScriptedLuma({120, 30, 200});
    clock.advance(1);
    EXPECT_TRUE(seen.empty());
    run(1.0 + 1e-9);
    ASSERT_EQ(seen.size(), 30u);
    bool flickers = false;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_NEAR(seen[i].at, (i + 1) / 30.0, 1e-9);
        if (seen[i].at < 0.5) {
            EXPECT_LT(seen[i].mean, 0.35 * 120) << "at " << seen[i].at;
            flickers |= i > 0 && std::abs(seen[i].mean - seen[i - 1].mean) > 3;
        } else {
            EXPECT_NEAR(seen[i].mean, 120, 0.5) << "at " << seen[i].at;
        }
    }
    EXPECT_TRUE(flickers);
    clock.advance(1);
    EXPECT_EQ(seen.size(), 30u);
    EXPECT_EQ(std::round(run(0.8)), 30);
    EXPECT_EQ(std::round(run(0.8)), 200);
    EXPECT_EQ(std::round(run(0.8)), 200);
    EXPECT_NEAR(camera->stats().onSeconds, 3.4, 1e-6);
    camera->clearScript();
    camera->setLocation(-33.8688, 151.2093);  // Sydney: 03:00 there, dark
    EXPECT_NEAR(run(0.8), RoomLight({-33.8688, 151.2093}).lumaAt(clock.now()), 0.5);

    // Unplugged while running: nothing more comes, and it cannot be attached until it is back.
    const CameraDevice device = camera->devices().at(0);
    ASSERT_TRUE(camera->start());
    clock.advance(0.2);
    const std::size_t count = seen.size();
    camera->setPresent(false);
    clock.advance(1);
    EXPECT_EQ(seen.size(), count);
    camera->stop();
    camera->removeInput();
    EXPECT_EQ(camera->addInput(device).status, CameraInputResult::Status::creationFailed);
}

TEST_F(SimulatedCameraTest, RowsKeepTheirLayoutAndPaddingIs255) {
    make({.width = 10, .height = 6, .bytesPerRow = 16, .room = {}});
    camera->setScriptedLuma({50});
    EXPECT_NEAR(run(0.8), 50, 1.0);
    EXPECT_TRUE(seen.back().shape == std::make_tuple(10, 6, std::size_t(16)) &&
                seen.back().paddingAll255);
    // A scripted plane is delivered as given once settled; the dark frames keep its geometry.
    camera->setScriptedPlane(3, 2, 4, {1, 2, 3, 255, 4, 5, 6});
    seen.clear();
    EXPECT_NEAR(run(0.8), (1 + 2 + 3 + 4 + 5 + 6) / 6.0, 1e-9);
    EXPECT_EQ(seen.front().shape, std::make_tuple(3, 2, std::size_t(4)));
}

// New York unless told otherwise; solar time there is about UTC - 4:57.
TEST(RoomLight, SunLampAndCloudsFollowTheClock) {
    auto at = [](double utcHours) { return kSolsticeMidnightUtc + utcHours * 3600.0; };
    // Solstice noon elevations are 90 - |latitude - 23.44|; midnight ones the mirror.
    EXPECT_NEAR(RoomLight::sunElevation(at(16.95), 40.7128, -74.006), 90 - (40.7128 - 23.44), 0.5);
    EXPECT_NEAR(RoomLight::sunElevation(at(1.95), -33.8688, 151.2093), 90 - 33.8688 - 23.44, 0.5);
    EXPECT_NEAR(RoomLight::sunElevation(at(22.75), 69.65, 18.96), 69.65 + 23.44 - 90, 0.5);

    RoomLight room, other;
    EXPECT_GT(room.lumaAt(at(17)),
              room.ambientLuma + 0.9 * room.daylightLuma * (1 - room.cloudDepth));
    EXPECT_NEAR(room.lumaAt(at(7.5)), room.ambientLuma, 1e-9);  // 02:30 solar time
    EXPECT_FALSE(room.lampOnAt(at(23)));  // 18:00 solar time in June: the sun still stands high
    EXPECT_TRUE(room.lampOnAt(at(26)));   // 21:00 solar time, sun well down
    EXPECT_NEAR(room.lumaAt(at(26)), room.ambientLuma + room.lampLuma, 0.5);

    // Clouds drift between clear and overcast, never jumping within a minute, by their seed.
    other.seed = 7;
    double lowest = 1, highest = 0, largestStep = 0, differences = 0;
    for (double t = at(0) + 60; t < at(7 * 24); t += 60) {
        double c = room.cloudinessAt(t);
        lowest = std::min(lowest, c);
        highest = std::max(highest, c);
        largestStep = std::max(largestStep, std::abs(c - room.cloudinessAt(t - 60)));
        differences += std::abs(c - other.cloudinessAt(t));
    }
    EXPECT_TRUE(lowest >= 0 && lowest < 0.2 && highest > 0.8 && highest <= 1) << lowest << highest;
    EXPECT_LT(largestStep, 0.05);
    EXPECT_GT(differences, 100.0);
}

}  // namespace
}  // namespace pellora::test
