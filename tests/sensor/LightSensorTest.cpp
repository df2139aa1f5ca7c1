#include "sensor/LightSensor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestEnvironment.h"
#include "platform/sim/SimulatedCamera.h"

namespace pellora::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr double kFrame = 1.0 / 30.0;

struct Reading {
    bool called = false;
    int calls = 0;
    std::optional<double> luma;
    bool onMain = false;
    std::string deviceName;
};

struct LightSensorTest : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> sensorQueue = env.clock.makeQueue("pellora.sensor");
    std::unique_ptr<SimulatedCamera> camera;
    std::unique_ptr<LightSensor> sensor;

    void makeCamera(SimulatedCameraOptions options = {}) {
        camera = std::make_unique<SimulatedCamera>(env.clock, std::move(options));
    }

    void makeSensor() {
        if (!camera) {
            makeCamera();
        }
        sensor =
            std::make_unique<LightSensor>(*camera, *sensorQueue, *env.main, env.clock, *env.log);
        env.clock.runPending();
    }

    void TearDown() override {
        sensor.reset();
        camera.reset();
    }

    // Asks for a reading; the result fills in when the main queue runs the completion.
    std::shared_ptr<Reading> request(double timeout = 3.5) {
        auto reading = std::make_shared<Reading>();
        sensor->sampleOnce(timeout, [this, reading](std::optional<double> luma) {
            reading->called = true;
            ++reading->calls;
            reading->luma = luma;
            reading->onMain = env.main->isCurrent() && !sensorQueue->isCurrent();
            reading->deviceName = sensor->selectedDeviceName();
        });
        return reading;
    }

    // The sensor's log messages so far, without stamp and tag.
    std::vector<std::string> sensorLines() const {
        std::vector<std::string> out;
        const std::string marker = "] [sensor] ";
        for (const std::string& line : env.systemLog.lines()) {
            auto at = line.find(marker);
            if (at != std::string::npos) {
                out.push_back(line.substr(at + marker.size()));
            }
        }
        return out;
    }

    std::vector<std::string> linesSince(std::size_t first) const {
        std::vector<std::string> all = sensorLines();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    int countLines(const std::string& text) const {
        int n = 0;
        for (const std::string& line : sensorLines()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }
};

std::vector<std::uint8_t> uniformPlane(int width, int height, std::uint8_t value) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), value);
}

TEST_F(LightSensorTest, ConstructionConfiguresTheCameraAndNamesIt) {
    makeSensor();
    EXPECT_THAT(sensorLines(),
                ElementsAre("Using camera \"Simulated Camera\" [pellora.camera.simulated]",
                            "Session configured (preset=low)"));
    EXPECT_EQ(sensor->selectedDeviceName(), "Simulated Camera");
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "pellora.camera.simulated");
    EXPECT_FALSE(camera->isRunning());
    EXPECT_EQ(camera->stats().starts, 0);
}

TEST_F(LightSensorTest, WarmupFramesAreNeverMeasuredAndOnlyTheFirstIsLogged) {
    // Frames stay dark for exactly the warm-up, so a measured warm-up frame would show.
    SimulatedCameraOptions options;
    options.settleSeconds = LightSensor::warmupSec;
    makeCamera(options);
    camera->setScriptedPlane(8, 8, 8, uniformPlane(8, 8, 123));
    makeSensor();
    std::size_t before = sensorLines().size();

    auto reading = request();
    env.clock.advance(5);

    ASSERT_TRUE(reading->called);
    ASSERT_TRUE(reading->luma.has_value());
    EXPECT_EQ(*reading->luma, 123.0);
    // Frame 21 is due 0.7 s after the start; rounding may put it a hair early.
    std::vector<std::string> lines = linesSince(before);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Starting session…");
    EXPECT_EQ(lines[1], "session.isRunning=true");
    EXPECT_EQ(lines[2], "First frame arrived after 0.03s (warmup)");
    EXPECT_THAT(lines[3], ::testing::AnyOf("Frame 21 accepted after 0.70s: luma=123.0 (8x8)",
                                           "Frame 22 accepted after 0.73s: luma=123.0 (8x8)"));
    EXPECT_THAT(lines[4], ::testing::AnyOf("Session stopped. result=123.0 frames=21",
                                           "Session stopped. result=123.0 frames=22"));
    EXPECT_EQ(countLines("(warmup)"), 1);
}

TEST_F(LightSensorTest, CameraRunsForTheWarmupPlusAtMostOneFrame) {
    makeSensor();
    for (int i = 0; i < 12; ++i) {
        double expected = camera->sceneLuma();
        auto reading = request();
        env.clock.advance(2);
        ASSERT_TRUE(reading->luma.has_value());
        EXPECT_NEAR(*reading->luma, expected, 1.0);
        double on = camera->stats().lastOnSeconds;
        EXPECT_GE(on, LightSensor::warmupSec - 1e-9);
        EXPECT_LE(on, LightSensor::warmupSec + kFrame + 1e-9);
        EXPECT_FALSE(camera->isRunning());
        env.clock.advance(3600 * 2 - 2);  // through the day: dark, lamp, daylight
    }
    EXPECT_EQ(camera->stats().starts, 12);
    EXPECT_EQ(camera->stats().stops, 12);
}

struct PlaneCase {
    const char* name;
    int width;
    int height;
    std::size_t stride;
    std::vector<std::uint8_t> bytes;
    std::optional<double> expected;
};

std::vector<PlaneCase> planeCases() {
    std::vector<PlaneCase> cases;
    cases.push_back({"single pixel", 1, 1, 1, {77}, 77.0});
    {
        // Only (0,0), (4,0), (0,4) and (4,4) count; every other byte would spoil the mean.
        std::vector<std::uint8_t> bytes(25, 255);
        bytes[0] = 10;
        bytes[4] = 20;
        bytes[20] = 30;
        bytes[24] = 40;
        cases.push_back({"five by five", 5, 5, 5, bytes, 25.0});
    }
    {
        // Padding of 255 beyond each row's 9 pixels; column 8 is the last one read.
        const int w = 9, h = 6;
        const std::size_t stride = 16;
        std::vector<std::uint8_t> bytes(stride * h, 255);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                bytes[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] = 40;
            }
        }
        cases.push_back({"row padding", w, h, stride, bytes, 40.0});
    }
    {
        // The last row needs no padding after it.
        const int w = 5, h = 5;
        const std::size_t stride = 12;
        std::vector<std::uint8_t> bytes(stride * (h - 1) + w, 255);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                bytes[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>(y * 10 + x);
            }
        }
        cases.push_back({"unpadded last row", w, h, stride, bytes, (0 + 4 + 40 + 44) / 4.0});
    }
    cases.push_back({"zero width", 0, 5, 0, {}, std::nullopt});
    cases.push_back({"zero height", 5, 0, 5, {}, std::nullopt});
    cases.push_back(
        {"shorter than it claims", 5, 5, 5, std::vector<std::uint8_t>(24, 9), std::nullopt});
    cases.push_back(
        {"stride below width", 5, 5, 4, std::vector<std::uint8_t>(25, 9), std::nullopt});
    return cases;
}

TEST(LightSensorMeanLuma, ReadsEveryFourthByteOfEveryFourthRowAndNothingElse) {
    for (const PlaneCase& c : planeCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LightSensor::meanLuma(c.bytes, c.width, c.height, c.stride), c.expected);
    }
}

TEST(LightSensorMeanLuma, ReadsOneSixteenthOfALargePlane) {
    // 640x480 with a 1 in every sampled position and 0 elsewhere.
    const int w = 640, h = 480;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h), 0);
    for (int y = 0; y < h; y += 4) {
        for (int x = 0; x < w; x += 4) {
            bytes[static_cast<std::size_t>(y * w + x)] = 200;
        }
    }
    EXPECT_EQ(LightSensor::meanLuma(bytes, w, h, w), 200.0);
    bytes[1] = 255;
    bytes[w] = 255;
    EXPECT_EQ(LightSensor::meanLuma(bytes, w, h, w), 200.0);
}

TEST_F(LightSensorTest, FramesFromTheCameraAreMeasuredAsTheirPlanes) {
    makeSensor();
    for (const PlaneCase& c : planeCases()) {
        if (!c.expected) {
            continue;
        }
        SCOPED_TRACE(c.name);
        camera->setScriptedPlane(c.width, c.height, c.stride, c.bytes);
        auto reading = request();
        env.clock.advance(2);
        ASSERT_TRUE(reading->called);
        EXPECT_EQ(reading->luma, c.expected);
        EXPECT_THAT(sensorLines().back(), HasSubstr("Session stopped. result="));
    }
}

TEST_F(LightSensorTest, ZeroWidthPlaneEndsByTimeoutWithNothing) {
    makeSensor();
    camera->setScriptedPlane(0, 5, 0, {});
    auto reading = request(3.5);
    env.clock.advance(3.49);
    EXPECT_FALSE(reading->called);
    EXPECT_TRUE(camera->isRunning());
    env.clock.advance(0.02);
    ASSERT_TRUE(reading->called);
    EXPECT_EQ(reading->luma, std::nullopt);
    EXPECT_FALSE(camera->isRunning());
    EXPECT_NEAR(camera->stats().lastOnSeconds, 3.5, 1e-9);

    std::vector<std::string> lines = sensorLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Timeout 3.5s — no frame accepted");
    // Frames 1..105 arrive within 3.5 s; rounding may let the 105th fall just after.
    EXPECT_THAT(lines.back(), ::testing::AnyOf("Session stopped. result=nil frames=105",
                                               "Session stopped. result=nil frames=104"));
    EXPECT_THAT(lines, Not(Contains(HasSubstr(" accepted after "))));
}

TEST_F(LightSensorTest, TimeoutPrintsTheShortestDecimal) {
    makeSensor();
    camera->setFault(SimulatedCameraFault::noFrames);
    for (auto [timeout, text] :
         std::vector<std::pair<double, std::string>>{{3.5, "Timeout 3.5s — no frame accepted"},
                                                     {2.0, "Timeout 2.0s — no frame accepted"},
                                                     {0.1, "Timeout 0.1s — no frame accepted"}}) {
        auto reading = request(timeout);
        env.clock.advance(timeout + 0.01);
        ASSERT_TRUE(reading->called);
        EXPECT_EQ(reading->luma, std::nullopt);
        std::vector<std::string> lines = sensorLines();
        EXPECT_EQ(lines[lines.size() - 2], text);
        EXPECT_EQ(lines.back(), "Session stopped. result=nil frames=0");
    }
}

TEST_F(LightSensorTest, UnusableTimeoutEndsTheReadingAtOnceInsteadOfLeavingTheCameraOn) {
    makeSensor();
    camera->setFault(SimulatedCameraFault::noFrames);
    for (double timeout : {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), -1.0}) {
        auto reading = request(timeout);
        env.clock.runPending();
        ASSERT_TRUE(reading->called);
        EXPECT_EQ(reading->luma, std::nullopt);
        EXPECT_FALSE(camera->isRunning());
    }
}

TEST_F(LightSensorTest, RequestsDuringAReadingJoinItAndStartTheCameraOnce) {
    makeSensor();
    camera->setScriptedLuma({90});
    std::vector<std::string> order;
    auto first = request(3.5);
    auto second = request(0.1);  // joins; its own timeout is not used
    sensor->sampleOnce(3.5, [&](std::optional<double>) { order.push_back("first-extra"); });
    env.clock.advance(0.3);  // still warming up
    auto late = request(3.5);
    sensor->sampleOnce(3.5, [&](std::optional<double>) { order.push_back("last"); });
    env.clock.advance(2);

    for (const auto& r : {first, second, late}) {
        ASSERT_TRUE(r->called);
        EXPECT_EQ(r->calls, 1);
        EXPECT_TRUE(r->onMain);
        ASSERT_TRUE(r->luma.has_value());
        EXPECT_EQ(r->luma, first->luma);
    }
    EXPECT_NEAR(*first->luma, 90, 1.0);
    EXPECT_EQ(order, (std::vector<std::string>{"first-extra", "last"}));
    EXPECT_EQ(camera->stats().starts, 1);
    EXPECT_EQ(countLines("sampleOnce coalesced (already pending)"), 4);
    EXPECT_EQ(countLines("Starting session…"), 1);
    EXPECT_EQ(countLines("Timeout"), 0);
}

TEST_F(LightSensorTest, CompletionsRunInRequestOrder) {
    makeSensor();
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        sensor->sampleOnce(3.5, [&order, i](std::optional<double>) { order.push_back(i); });
    }
    env.clock.advance(2);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(LightSensorTest, ARequestAfterAFinishStartsANewSessionAndWarmup) {
    makeSensor();
    camera->setScriptedLuma({50, 150});
    auto first = request();
    env.clock.advance(2);
    ASSERT_TRUE(first->luma.has_value());
    EXPECT_NEAR(*first->luma, 50, 1.0);

    auto second = request();
    env.clock.advance(0.69);
    EXPECT_FALSE(second->called);  // a fresh warm-up, not the old one
    env.clock.advance(1);
    ASSERT_TRUE(second->luma.has_value());
    EXPECT_NEAR(*second->luma, 150, 1.0);

    EXPECT_EQ(camera->stats().starts, 2);
    EXPECT_EQ(camera->stats().stops, 2);
    EXPECT_EQ(countLines("(warmup)"), 2);
    // The same camera: no second configuration.
    EXPECT_EQ(countLines("Session configured"), 1);
    EXPECT_EQ(countLines("Using camera"), 1);
}

TEST_F(LightSensorTest, ACameraThatVanishesBetweenReadingsEndsTheNextOneWithNothing) {
    makeSensor();
    auto first = request();
    env.clock.advance(2);
    ASSERT_TRUE(first->luma.has_value());

    camera->setPresent(false);
    std::size_t before = sensorLines().size();
    auto second = request();
    env.clock.runPending();
    ASSERT_TRUE(second->called);
    EXPECT_EQ(second->luma, std::nullopt);
    EXPECT_TRUE(second->onMain);
    EXPECT_EQ(second->deviceName, "(none)");
    EXPECT_THAT(linesSince(before), ElementsAre("No video device available (camera not enumerated)",
                                                "sampleOnce aborted — no camera device connected",
                                                "Session stopped. result=nil frames=0"));
    EXPECT_EQ(camera->inputDevice(), std::nullopt);
    EXPECT_EQ(camera->stats().starts, 1);
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "(none)");

    camera->setPresent(true);
    auto third = request();
    env.clock.advance(2);
    ASSERT_TRUE(third->luma.has_value());
    EXPECT_EQ(third->deviceName, "Simulated Camera");
    EXPECT_EQ(countLines("Using camera"), 2);
}

TEST_F(LightSensorTest, ACameraThatVanishesDuringAReadingEndsItByTimeout) {
    makeSensor();
    auto reading = request();
    env.clock.advance(0.3);
    camera->setPresent(false);
    env.clock.advance(3.5);
    ASSERT_TRUE(reading->called);
    EXPECT_EQ(reading->luma, std::nullopt);
    EXPECT_FALSE(camera->isRunning());
    EXPECT_EQ(countLines("Timeout 3.5s — no frame accepted"), 1);
}

TEST_F(LightSensorTest, ANewCameraIsConfiguredOnceAndItsNameReachesTheMainThreadFirst) {
    makeSensor();
    CameraDevice desk{"usb-desk-1", "Desk Cam", "pellora.camera.external"};
    camera->setDevices({desk, {"sim-camera-0", "Simulated Camera", "pellora.camera.simulated"}});
    std::size_t before = sensorLines().size();
    auto reading = request();
    EXPECT_EQ(sensor->selectedDeviceName(), "Simulated Camera");  // the queue has not run yet
    env.clock.advance(2);
    ASSERT_TRUE(reading->luma.has_value());
    EXPECT_EQ(reading->deviceName, "Desk Cam");
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "pellora.camera.external");
    std::vector<std::string> lines = linesSince(before);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Using camera \"Desk Cam\" [pellora.camera.external]");
    EXPECT_EQ(lines[1], "Session configured (preset=low)");

    auto again = request();
    env.clock.advance(2);
    EXPECT_EQ(countLines("Session configured"), 2);
}

TEST_F(LightSensorTest, TheDefaultCameraIsUsedOnlyWhenNoneIsListed) {
    makeCamera();
    CameraDevice fallback{"default-1", "Fallback Cam", "pellora.camera.default"};
    camera->setDefaultDevice(fallback);
    EXPECT_EQ(LightSensor::discoverDevice(*camera)->uniqueID, "sim-camera-0");
    camera->setPresent(false);
    EXPECT_EQ(LightSensor::discoverDevice(*camera), fallback);
    makeSensor();
    EXPECT_EQ(sensor->selectedDeviceName(), "Fallback Cam");
    auto reading = request();
    env.clock.advance(2);
    EXPECT_TRUE(reading->luma.has_value());
    camera->setDefaultDevice(std::nullopt);
    EXPECT_EQ(LightSensor::discoverDevice(*camera), std::nullopt);
}

TEST_F(LightSensorTest, NoCameraAtStartThenOnePluggedIn) {
    makeCamera();
    camera->setPresent(false);
    makeSensor();
    EXPECT_THAT(sensorLines(), ElementsAre("No video device available (camera not enumerated)"));
    EXPECT_EQ(sensor->selectedDeviceName(), "(none)");
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "(none)");

    camera->setPresent(true);
    auto reading = request();
    env.clock.advance(2);
    ASSERT_TRUE(reading->luma.has_value());
    EXPECT_EQ(reading->deviceName, "Simulated Camera");
}

struct FaultCase {
    const char* name;
    SimulatedCameraFault fault;
    std::vector<std::string> mustLog;
    bool cameraStarts;
};

TEST_F(LightSensorTest, EveryFailureAnswersNothingAndLeavesTheCameraOff) {
    const std::vector<FaultCase> cases = {
        {"frames without image",
         SimulatedCameraFault::noImage,
         {"No CVPixelBuffer in sample", "Timeout 3.5s — no frame accepted"},
         true},
        {"frames without luma plane",
         SimulatedCameraFault::noLumaPlane,
         {"No Y-plane base address", "Timeout 3.5s — no frame accepted"},
         true},
        {"no frames",
         SimulatedCameraFault::noFrames,
         {"Timeout 3.5s — no frame accepted", "Session stopped. result=nil frames=0"},
         true},
        {"camera does not start",
         SimulatedCameraFault::startFails,
         {"session.isRunning=false", "Timeout 3.5s — no frame accepted"},
         false},
        {"input cannot be created",
         SimulatedCameraFault::inputFails,
         {"AVCaptureDeviceInput failed: Cannot open the device: it is busy (simulated)",
          "sampleOnce aborted — no camera device connected",
          "Session stopped. result=nil frames=0"},
         false},
        {"input cannot be added",
         SimulatedCameraFault::cannotAdd,
         {"Can't add input for Simulated Camera", "sampleOnce aborted — no camera device connected",
          "Session stopped. result=nil frames=0"},
         false},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        sensor.reset();
        makeCamera();
        camera->setFault(c.fault);
        makeSensor();
        auto reading = request();
        env.clock.advance(4);
        ASSERT_TRUE(reading->called);
        EXPECT_EQ(reading->luma, std::nullopt);
        EXPECT_TRUE(reading->onMain);
        EXPECT_FALSE(camera->isRunning());
        EXPECT_EQ(camera->stats().starts, c.cameraStarts ? 1 : 0);
        EXPECT_EQ(camera->stats().stops, camera->stats().starts);
        for (const std::string& text : c.mustLog) {
            EXPECT_THAT(sensorLines(), Contains(text));
        }

        // Once the fault clears, the next reading works.
        camera->setFault(SimulatedCameraFault::none);
        auto next = request();
        env.clock.advance(2);
        EXPECT_TRUE(next->luma.has_value());
    }
}

TEST_F(LightSensorTest, FramesAfterTheAcceptedOneDoNotFinishTwice) {
    makeSensor();
    auto reading = request();
    env.clock.advance(10);
    EXPECT_EQ(reading->calls, 1);
    EXPECT_EQ(countLines("Session stopped."), 1);
    EXPECT_EQ(countLines(" accepted after "), 1);
}

TEST_F(LightSensorTest, DestroyingTheSensorMidReadingStopsTheCamera) {
    makeSensor();
    auto reading = request();
    env.clock.advance(0.3);
    ASSERT_TRUE(camera->isRunning());
    sensor.reset();
    EXPECT_FALSE(camera->isRunning());
    int delivered = camera->stats().framesDelivered;
    EXPECT_GT(delivered, 0);
    env.clock.advance(5);
    EXPECT_FALSE(reading->called);
    EXPECT_EQ(camera->stats().framesDelivered, delivered);
    EXPECT_EQ(camera->stats().stops, 1);
}

TEST_F(LightSensorTest, ARequestQueuedBeforeTheSensorIsGoneDoesNothing) {
    makeSensor();
    auto reading = request();
    sensor.reset();
    env.clock.advance(5);
    EXPECT_FALSE(reading->called);
    EXPECT_EQ(camera->stats().starts, 0);
}

}  // namespace
}  // namespace pellora::test
