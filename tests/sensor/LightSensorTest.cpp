#include "sensor/LightSensor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <limits>

#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/sim/SimulatedCamera.h"

namespace pellora::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Reading {
    int calls = 0;
    std::optional<double> luma;
    std::string device;  // the name the main thread knew when the answer came
};

// At 32 frames a second every frame time is exact in binary, so counts never hang on
// rounding. Frames stay dark for the whole warm-up, so a measured warm-up frame shows.
SimulatedCameraOptions exactCamera() {
    SimulatedCameraOptions options;
    options.framesPerSecond = 32;
    options.settleSeconds = LightSensor::warmupSec;
    return options;
}

struct LightSensorTest : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> sensorQueue = env.clock.makeQueue("pellora.sensor");
    SimulatedCamera camera{env.clock, exactCamera()};
    std::shared_ptr<LightSensor> sensor;

    void SetUp() override { start(); }

    void start() {
        sensor = LightSensor::create(camera, *sensorQueue, *env.main, env.clock, *env.log);
        env.clock.runPending();
    }

    std::shared_ptr<Reading> request(double timeout = 3.5) {
        auto reading = std::make_shared<Reading>();
        sensor->sampleOnce(timeout, [this, reading](std::optional<double> luma) {
            EXPECT_TRUE(env.main->isCurrent() && !sensorQueue->isCurrent());
            *reading = {reading->calls + 1, luma, sensor->selectedDeviceName()};
        });
        return reading;
    }

    // The sensor's log lines from the `first` on, without stamp and tag.
    std::vector<std::string> lines(std::size_t first = 0) const {
        std::vector<std::string> out;
        for (const std::string& line : env.systemLog.lines()) {
            if (auto at = line.find("] [sensor] "); at != std::string::npos) {
                out.push_back(line.substr(at + 11));
            }
        }
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(first));
        return out;
    }
    std::vector<std::string> lastLines(std::size_t n) const { return lines(lines().size() - n); }
};

TEST(LightSensorMeanLuma, ReadsEveryFourthByteOfEveryFourthRowAndNothingElse) {
    // 255 wherever a byte must not be read.
    auto plane = [](int w, int h, std::size_t stride, std::size_t size) {
        std::vector<std::uint8_t> bytes(size, 255);
        for (std::size_t y = 0; y < std::size_t(h); y += 4) {
            for (std::size_t x = 0; x < std::size_t(w); x += 4) {
                bytes[y * stride + x] = static_cast<std::uint8_t>(10 + y + x);
            }
        }
        return bytes;
    };
    struct Case {
        int w, h;
        std::size_t stride;
        std::vector<std::uint8_t> bytes;
        std::optional<double> expected;
    } cases[] = {
        {1, 1, 1, plane(1, 1, 1, 1), 10.0},
        {5, 5, 5, plane(5, 5, 5, 25), (10 + 14 + 14 + 18) / 4.0},
        {9, 6, 16, plane(9, 6, 16, 96), (10 + 14 + 18 + 14 + 18 + 22) / 6.0},  // row padding
        {5, 5, 12, plane(5, 5, 12, 53), 14.0},  // the last row needs no padding
        {0, 5, 0, {}, std::nullopt},
        {5, 0, 5, {}, std::nullopt},
        {5, 5, 5, std::vector<std::uint8_t>(24, 9), std::nullopt},  // shorter than it claims
        {5, 5, 4, std::vector<std::uint8_t>(25, 9), std::nullopt},  // stride below width
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LightSensor::meanLuma(c.bytes, c.w, c.h, c.stride), c.expected) << c.w << c.h;
    }
}

TEST_F(LightSensorTest, EachReadingWarmsUpMeasuresOneFrameAndStopsTheCamera) {
    EXPECT_THAT(lines(), ElementsAre("Using camera \"Simulated Camera\" [pellora.camera.simulated]",
                                     "Session configured (preset=low)"));
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "pellora.camera.simulated");
    camera.setScriptedPlane(8, 8, 8, std::vector<std::uint8_t>(64, 123));
    for (int run = 1; run <= 2; ++run) {
        auto reading = request();
        env.clock.advance(22 / 32.0);
        EXPECT_EQ(reading->calls, 0);  // the second run warms up afresh
        env.clock.advance(5 + 10 / 32.0);
        EXPECT_EQ(reading->calls, 1);
        EXPECT_EQ(reading->luma, 123.0);
        // Frame 23 is the first at or after 0.7 s (0.71875); the camera stops right there.
        EXPECT_THAT(lastLines(5), ElementsAre("Starting session…", "session.isRunning=true",
                                              "First frame arrived after 0.03s (warmup)",
                                              "Frame 23 accepted after 0.72s: luma=123.0 (8x8)",
                                              "Session stopped. result=123.0 frames=23"));
        EXPECT_FALSE(camera.isRunning());
        EXPECT_EQ(camera.stats().lastOnSeconds, 23 / 32.0);
        EXPECT_EQ(camera.stats().starts, run);
    }
    // The same camera is not set up again.
    EXPECT_THAT(lines(), Contains(HasSubstr("Session configured")).Times(1));
}

TEST_F(LightSensorTest, TimeoutEndsTheReadingAfterEveryFrameDueByThen) {
    camera.setScriptedPlane(0, 5, 0, {});  // frames arrive but none can be measured
    auto reading = request(3.5);
    env.clock.advance(3.5 - 1 / 32.0);
    EXPECT_EQ(reading->calls, 0);
    env.clock.advance(1 / 32.0);
    EXPECT_EQ(reading->calls, 1);
    EXPECT_EQ(reading->luma, std::nullopt);
    EXPECT_EQ(camera.stats().lastOnSeconds, 3.5);
    // Frame 112 falls due with the timeout itself and still counts: the finish goes round
    // the queue once.
    EXPECT_THAT(lastLines(2), ElementsAre("Timeout 3.5s — no frame accepted",
                                          "Session stopped. result=nil frames=112"));
}

TEST_F(LightSensorTest, TimeoutIsPrintedShortestAndAnUnusableOneEndsTheReadingAtOnce) {
    camera.setFault(SimulatedCameraFault::noFrames);
    struct Case {
        double timeout, wait;
        const char* line;
    } cases[] = {{3.5, 3.5, "Timeout 3.5s — no frame accepted"},
                 {2.0, 2.0, "Timeout 2.0s — no frame accepted"},
                 {std::numeric_limits<double>::quiet_NaN(), 0, nullptr},
                 {std::numeric_limits<double>::infinity(), 0, nullptr},
                 {-1.0, 0, nullptr}};
    for (const Case& c : cases) {
        auto reading = request(c.timeout);
        env.clock.advance(c.wait);
        EXPECT_EQ(reading->calls, 1) << c.timeout;
        EXPECT_FALSE(camera.isRunning());
        EXPECT_EQ(lastLines(1)[0], "Session stopped. result=nil frames=0");
        if (c.line) {
            EXPECT_EQ(lastLines(2)[0], c.line);
        }
    }
}

TEST_F(LightSensorTest, RequestsDuringAReadingJoinItAndStartTheCameraOnce) {
    camera.setScriptedLuma({90});
    std::vector<std::pair<int, std::optional<double>>> answers;
    auto ask = [&](int id, double timeout) {
        sensor->sampleOnce(timeout, [&answers, id](auto luma) { answers.emplace_back(id, luma); });
    };
    ask(0, 3.5);
    ask(1, 3.5);
    env.clock.advance(0.3);  // still warming up
    ask(2, 0.1);             // joins; its own timeout is not used
    ask(3, 3.5);
    env.clock.advance(2);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_NEAR(answers[0].second.value_or(-1), 90, 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(answers[i], std::pair(i, answers[0].second));
    }
    EXPECT_EQ(camera.stats().starts, 1);
    EXPECT_THAT(lines(), Contains("sampleOnce coalesced (already pending)").Times(3));
    EXPECT_THAT(lines(), Contains(HasSubstr("Timeout")).Times(0));
}

TEST_F(LightSensorTest, EveryFailureAnswersNothingLeavesTheCameraOffAndClearsWithTheFault) {
    using F = SimulatedCameraFault;
    const char* aborted = "sampleOnce aborted — no camera device connected";
    auto fault = [](F f) { return [f](SimulatedCamera& c) { c.setFault(f); }; };
    struct Case {
        std::function<void(SimulatedCamera&)> fault;
        std::vector<const char*> mustLog;
        int starts;
    } cases[] = {
        {fault(F::noImage), {"No CVPixelBuffer in sample"}, 1},
        {fault(F::noLumaPlane), {"No Y-plane base address"}, 1},
        {fault(F::noFrames), {"Timeout 3.5s — no frame accepted"}, 1},
        {fault(F::startFails), {"session.isRunning=false"}, 0},
        {fault(F::inputFails),
         {"Camera input failed: Cannot open the device: it is busy (simulated)", aborted},
         0},
        {fault(F::cannotAdd), {"Can't add input for Simulated Camera", aborted}, 0},
        {[](SimulatedCamera& c) { c.setPresent(false); },
         {"No video device available (camera not enumerated)", aborted},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mustLog[0]);
        sensor.reset();
        camera.resetStats();
        const std::size_t before = lines().size();
        c.fault(camera);
        start();
        auto reading = request();
        env.clock.advance(4);
        EXPECT_EQ(reading->calls, 1);
        EXPECT_EQ(reading->luma, std::nullopt);
        EXPECT_FALSE(camera.isRunning());
        EXPECT_EQ(camera.stats().starts, c.starts);
        EXPECT_EQ(camera.stats().stops, c.starts);
        for (const char* text : c.mustLog) {
            EXPECT_THAT(lines(before), Contains(text));
        }
        camera.setFault(F::none);
        camera.setPresent(true);
        auto next = request();
        env.clock.advance(2);
        EXPECT_TRUE(next->luma.has_value());
        EXPECT_EQ(next->device, "Simulated Camera");
    }
}

TEST_F(LightSensorTest, ACameraThatVanishesBetweenReadingsIsLetGo) {
    request();
    env.clock.advance(2);
    camera.setPresent(false);
    auto next = request();
    env.clock.runPending();
    EXPECT_EQ(next->calls, 1);
    EXPECT_EQ(next->device, "(none)");
    EXPECT_THAT(lastLines(3), ElementsAre("No video device available (camera not enumerated)",
                                          "sampleOnce aborted — no camera device connected",
                                          "Session stopped. result=nil frames=0"));
    EXPECT_EQ(camera.inputDevice(), std::nullopt);
}

TEST_F(LightSensorTest, TheFirstListedCameraIsUsedElseTheDefaultOne) {
    const CameraDevice desk{"usb-desk-1", "Desk Cam", "pellora.camera.external"};
    const CameraDevice fallback{"default-1", "Fallback Cam", "pellora.camera.default"};
    camera.setDefaultDevice(fallback);
    camera.setDevices({desk, {"sim-camera-0", "Simulated Camera", "pellora.camera.simulated"}});
    EXPECT_EQ(LightSensor::discoverDevice(camera), desk);
    auto reading = request();
    EXPECT_EQ(sensor->selectedDeviceName(), "Simulated Camera");  // the queue has not run yet
    env.clock.advance(2);
    EXPECT_EQ(reading->device, "Desk Cam");  // known on main before the answer
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "pellora.camera.external");

    camera.setDevices({});
    EXPECT_EQ(LightSensor::discoverDevice(camera), fallback);
    reading = request();
    env.clock.advance(2);
    EXPECT_EQ(reading->device, "Fallback Cam");
    EXPECT_TRUE(reading->luma.has_value());
}

TEST_F(LightSensorTest, ADroppedSensorStopsTheCameraAndItsQueuedWorkDoesNothing) {
    auto queued = request();
    std::weak_ptr<LightSensor> weak = sensor;
    sensor.reset();
    EXPECT_TRUE(weak.expired());  // neither the queue nor the camera keeps it
    env.clock.advance(5);
    EXPECT_EQ(queued->calls + camera.stats().starts, 0);

    start();
    auto running = request();
    env.clock.advance(0.3);
    ASSERT_TRUE(camera.isRunning());
    sensor.reset();
    EXPECT_FALSE(camera.isRunning());
    const int delivered = camera.stats().framesDelivered;
    env.clock.advance(5);
    EXPECT_EQ(running->calls, 0);
    EXPECT_EQ(camera.stats().framesDelivered, delivered);
}

// On real threads, sensors dropped (on the main queue, as they must be) after, during and
// before their readings race frames, timeouts and answers; run under ThreadSanitizer.
TEST(LightSensorThreads, SensorsComeAndGoWhileFramesFlow) {
    TestEnvironment env;
    SystemClock clock(50.0);  // the warm-up passes in 14 ms
    SimulatedCamera camera(clock);
    SerialQueue main("main", clock);
    SerialQueue sensorQueue("pellora.sensor", clock);
    std::atomic<int> answers = 0;
    for (int i = 0; i < 30; ++i) {
        auto answered = std::make_shared<std::promise<void>>();
        auto sensor = LightSensor::create(camera, sensorQueue, main, clock, *env.log);
        sensor->sampleOnce(3.5, [&answers, answered](std::optional<double> luma) {
            answers += luma ? 1 : 0;
            answered->set_value();
        });
        if (i % 3 == 0) {
            ASSERT_EQ(answered->get_future().wait_for(std::chrono::seconds(5)),
                      std::future_status::ready);
        } else if (i % 3 == 1) {
            sensorQueue.sync([&] { ASSERT_TRUE(camera.isRunning()); });
        }
        main.sync([&] { sensor.reset(); });  // where the last hold on it may be
        sensorQueue.sync([&] { EXPECT_FALSE(camera.isRunning()); });
    }
    main.sync([] {});
    EXPECT_GE(answers, 10);
}

}  // namespace
}  // namespace pellora::test
