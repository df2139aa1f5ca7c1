#include "sensor/LightSensor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <tuple>

#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/sim/SimulatedCamera.h"

namespace pellora::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

struct Reading {
    int order = 0;  // 1 for the first answer the test saw, and so on
    std::optional<double> luma;
    std::string device;  // the name the main thread knew when the answer came
};

struct LightSensorTest : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> sensorQueue = env.clock.makeQueue("pellora.sensor");
    // At 32 frames a second every frame time is exact in binary, so counts never hang on
    // rounding. Frames stay dark for the whole warm-up, so a measured warm-up frame shows.
    SimulatedCamera camera{
        env.clock, {.framesPerSecond = 32, .settleSeconds = LightSensor::warmupSec, .room = {}}};
    std::shared_ptr<LightSensor> sensor;
    int answers = 0;

    void SetUp() override { start(); }
    void start() {
        sensor = LightSensor::create(camera, *sensorQueue, *env.main, env.clock, *env.log);
        env.clock.runPending();
    }
    std::shared_ptr<Reading> request(double timeout = 3.5) {
        auto reading = std::make_shared<Reading>();
        sensor->sampleOnce(timeout, [this, reading](std::optional<double> luma) {
            EXPECT_TRUE(env.main->isCurrent() && reading->order == 0);
            *reading = {++answers, luma, sensor->selectedDeviceName()};
        });
        return reading;
    }
    // The log's lines from the `first` on.
    std::vector<std::string> lines(std::size_t first = 0) const {
        auto out = env.systemLog.lines();
        out.erase(out.begin(), out.begin() + std::ptrdiff_t(std::min(first, out.size())));
        return out;
    }
};

TEST(LightSensorMeanLuma, ReadsEveryFourthByteOfEveryFourthRowAndNothingElse) {
    // 255 wherever a byte must not be read.
    auto plane = [](std::size_t w, std::size_t h, std::size_t stride, std::size_t size) {
        std::vector<std::uint8_t> bytes(size, 255);
        for (std::size_t y = 0; y < h; y += 4) {
            for (std::size_t x = 0; x < w; x += 4) {
                bytes[y * stride + x] = static_cast<std::uint8_t>(10 + y + x);
            }
        }
        return bytes;
    };
    EXPECT_EQ(LightSensor::meanLuma(plane(1, 1, 1, 1), 1, 1, 1), 10.0);
    EXPECT_EQ(LightSensor::meanLuma(plane(9, 6, 16, 96), 9, 6, 16),  // row padding
              (10 + 14 + 18 + 14 + 18 + 22) / 6.0);
    // The last row needs no padding; a buffer shorter than it claims is refused.
    EXPECT_EQ(LightSensor::meanLuma(plane(5, 5, 12, 53), 5, 5, 12), 14.0);
    EXPECT_EQ(LightSensor::meanLuma(std::vector<std::uint8_t>(24, 9), 5, 5, 5), std::nullopt);
    EXPECT_EQ(LightSensor::meanLuma({}, 0, 5, 0), std::nullopt);
    EXPECT_EQ(LightSensor::meanLuma(std::vector<std::uint8_t>(25, 9), 5, 5, 4), std::nullopt);
}

// The first listed camera (else the default one) warms up, measures one frame and stops
// right there; requests during a reading join it in order, and the next one warms up afresh.
TEST_F(LightSensorTest, AReadingWarmsUpMeasuresOneFrameForEveryoneWhoAskedAndStopsTheCamera) {
    const CameraDevice fallback{"default-1", "Fallback Cam", "pellora.camera.default"};
    camera.setDefaultDevice(fallback);
    camera.setDevices({{"usb-desk-1", "Desk Cam", "pellora.camera.external"}, fallback});
    camera.setScriptedPlane(8, 8, 8, std::vector<std::uint8_t>(64, 123));
    for (int run = 1; run <= 2; ++run) {
        auto first = request(), second = request();
        EXPECT_EQ(sensor->selectedDeviceName(), run == 1 ? "Simulated Camera" : "Desk Cam")
            << "known on main only once the sensor's queue has run";
        env.clock.advance(0.3);       // still warming up
        auto joining = request(0.1);  // its own timeout is not used
        env.clock.advance(5);
        EXPECT_EQ(std::tuple(first->order, second->order, joining->order),
                  std::tuple(3 * run - 2, 3 * run - 1, 3 * run));
        EXPECT_TRUE(first->luma == 123.0 && second->luma == 123.0 && joining->luma == 123.0);
        EXPECT_EQ(joining->device, "Desk Cam");
        // Frame 23 is the first at or after 0.7 s (0.71875); the camera stops right there.
        EXPECT_EQ(std::tuple(camera.stats().lastOnSeconds, camera.stats().starts),
                  std::tuple(23 / 32.0, run));
    }
    EXPECT_EQ(sensor->selectedDeviceTypeRaw(), "pellora.camera.external");
    camera.setDevices({});
    EXPECT_EQ(LightSensor::discoverDevice(camera), fallback);
}

TEST_F(LightSensorTest, TimeoutEndsTheReadingAfterEveryFrameDueByThenAndAnUnusableOneAtOnce) {
    camera.setScriptedPlane(0, 5, 0, {});  // frames arrive but none can be measured
    auto reading = request(3.5);
    env.clock.advance(3.5 - 1 / 32.0);
    EXPECT_EQ(reading->order, 0);
    env.clock.advance(1 / 32.0);
    EXPECT_TRUE(reading->order == 1 && !reading->luma && camera.stats().lastOnSeconds == 3.5);
    // Frame 112 falls due with the timeout itself and still counts: the finish goes round
    // the queue once.
    EXPECT_THAT(lines(), Contains(HasSubstr("Session stopped. result=nil frames=112")));
    for (double timeout : {2.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), -1.0}) {
        reading = request(timeout);
        env.clock.advance(timeout == 2.0 ? 2.0 : 0.0);
        EXPECT_TRUE(reading->order != 0 && !camera.isRunning()) << timeout;
    }
}

TEST_F(LightSensorTest, EveryFailureAnswersNothingLeavesTheCameraOffAndClearsWithTheFault) {
    using F = SimulatedCameraFault;
    // The fault from the start, how often the camera starts, and what the reading logs.
    const std::tuple<F, int, const char*> cases[] = {
        {F::noImage, 1, "No CVPixelBuffer in sample"},
        {F::noLumaPlane, 1, "No Y-plane base address"},
        {F::noFrames, 1, "Timeout 3.5s — no frame accepted"},
        {F::startFails, 0, "session.isRunning=false"},
        {F::inUse, 0, "Camera in use by another program — left alone until the next reading"},
        {F::inputFails, 0, "Camera input failed: Cannot open the device: it is busy (simulated)"},
        {F::cannotAdd, 0, "Can't add input for Simulated Camera"},
        // The camera goes away between its set-up and the reading.
        {F::none, 0, "No video device available (camera not enumerated)"},
    };
    for (const auto& [fault, starts, logged] : cases) {
        SCOPED_TRACE(logged);
        sensor.reset();
        camera.resetStats();
        camera.setFault(fault);
        start();
        camera.setPresent(fault != F::none);
        const std::size_t before = lines().size();
        auto reading = request();
        env.clock.advance(4);
        EXPECT_EQ(
            std::tie(reading->order, reading->luma, reading->device),
            std::tuple(answers, std::nullopt, fault == F::none ? "(none)" : "Simulated Camera"));
        EXPECT_EQ(std::tuple(camera.isRunning(), camera.stats().starts, camera.stats().stops),
                  std::tuple(false, starts, starts));
        EXPECT_THAT(lines(before), Contains(HasSubstr(logged)));
        camera.setFault(F::none);
        camera.setPresent(true);
        auto next = request();
        env.clock.advance(2);
        EXPECT_TRUE(next->luma && next->device == "Simulated Camera");
    }
}

// A closed privacy shutter, or a picture not there yet (the green or black frames some cameras
// start with), is no reading of a dark room: its frames are passed over.
TEST_F(LightSensorTest, AllBlackFramesAreNoReadingOfADarkRoom) {
    camera.setScriptedPlane(8, 8, 8, std::vector<std::uint8_t>(64, 0));
    auto reading = request();
    env.clock.advance(4);
    EXPECT_TRUE(reading->order == 1 && !reading->luma);
    EXPECT_EQ(sensor->lastReadingTrouble(), LightSensor::Trouble::onlyBlack);
    std::vector<std::uint8_t> dim(64, 0);
    dim[0] = 4;  // one of the four bytes read
    camera.setScriptedPlane(8, 8, 8, dim);
    reading = request();
    env.clock.advance(4);
    EXPECT_EQ(reading->luma, 1.0);
    EXPECT_EQ(sensor->lastReadingTrouble(), LightSensor::Trouble::none);

    // A laptop run with its lid shut: its own camera sees black, a USB one on the monitor sees
    // the room. The next reading turns to the other camera, and stays with it.
    camera.setDevices({SimulatedCameraOptions{}.device, {"usb-cam", "USB Camera", "usb"}});
    camera.setScriptedPlane(8, 8, 8, std::vector<std::uint8_t>(64, 0));
    reading = request();
    env.clock.advance(4);
    EXPECT_EQ(reading->device, "Simulated Camera");
    camera.setScriptedPlane(8, 8, 8, dim);
    for (int i = 0; i < 2; ++i) {
        reading = request();
        env.clock.advance(4);
        EXPECT_EQ(std::pair(reading->luma, reading->device),
                  std::pair(std::optional(1.0), std::string("USB Camera")));
    }
}

TEST_F(LightSensorTest, ADroppedSensorStopsTheCameraAndItsQueuedWorkDoesNothing) {
    auto queued = request();
    std::weak_ptr<LightSensor> weak = sensor;
    sensor.reset();
    EXPECT_TRUE(weak.expired());  // neither the queue nor the camera keeps it
    env.clock.advance(5);
    EXPECT_EQ(camera.stats().starts, 0);
    start();
    auto running = request();
    env.clock.advance(0.3);
    ASSERT_TRUE(camera.isRunning());
    sensor.reset();
    EXPECT_FALSE(camera.isRunning());
    env.clock.advance(5);
    EXPECT_EQ(queued->order + running->order, 0);
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
