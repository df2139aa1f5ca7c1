// The light sensor end to end on the real V4L2 path: a white YUYV test source in PipeWire,
// reached through PipeWire's V4L2 layer as /dev/video0, read by LightSensor over V4l2Camera
// with the production queues.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "OpenDescriptors.h"
#include "PipeWireCamera.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "TestEnvironment.h"
#include "V4l2LayerBackend.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/linux/V4l2Camera.h"
#include "sensor/LightSensor.h"

namespace pellora::test {
namespace {

using ::testing::HasSubstr;

TEST(PipeWireLightSensor, ReadsTheRoomThroughTheV4l2Layer) {
    if (std::string missing = PipeWireCamera::missing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    PipeWireCamera camera({"-q", "videotestsrc", "is-live=true", "pattern=white", "!",
                           "video/x-raw,format=YUY2,width=160,height=120,framerate=15/1"});
    ASSERT_EQ(camera.failure(), "");
    auto run = camera.runUnderV4l2Layer("PipeWireLightSensor.DISABLED_SensorHalf", {});
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("[  PASSED  ] 1 test.")) << run.output;
    std::printf("%s", run.output.c_str());
}

// The half that runs under pw-v4l2.
TEST(PipeWireLightSensor, DISABLED_SensorHalf) {
    QCoreApplication& app = qtApp();
    // Clock time runs four times faster, so the 0.7 s warm-up passes in about 0.18 s.
    SystemClock clock(4.0);
    QtMainQueue main(clock);
    SerialQueue sensorQueue("pellora.sensor", clock);
    SerialQueue logQueue("pellora.debug-log", clock);
    TempDir dir;
    RecordingSystemLog systemLog;
    DebugLog log(clock, logQueue, dir.path(), systemLog);
    auto v4l2Owner = V4l2Camera::create(v4l2LayerBackend());
    V4l2Camera& v4l2 = *v4l2Owner;

    auto settle = [&] {
        logQueue.sync([] {});
        sensorQueue.sync([] {});
    };
    settle();
    const int descriptorsIdle = openDescriptors();
    auto sensor = LightSensor::create(v4l2, sensorQueue, main, clock, log);
    std::optional<double> luma;
    int completions = 0;
    sensor->sampleOnce(40.0, [&](std::optional<double> value) {
        luma = value;
        ++completions;
        app.quit();
    });
    QTimer::singleShot(15000, &app, &QCoreApplication::quit);  // safety net
    app.exec();

    ASSERT_EQ(completions, 1);
    ASSERT_TRUE(luma.has_value());
    EXPECT_EQ(*luma, 255.0);  // limited-range white expanded to full range
    EXPECT_EQ(sensor->selectedDeviceName(), PipeWireCamera::name);
    bool running = true;
    sensorQueue.sync([&] { running = v4l2.isRunning(); });
    EXPECT_FALSE(running);
    // The camera is closed again: the device is open only for the reading.
    EXPECT_EQ(descriptorsSettledAt(descriptorsIdle, settle), descriptorsIdle)
        << describeOpenDescriptors();

    auto lines = log.recent(DebugLog::maxLines);
    auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != line.npos; });
    };
    EXPECT_TRUE(has("Using camera \"Pellora Test Camera\" [v4l2-platform]"));
    EXPECT_TRUE(has("Session configured (preset=160x120 YUYV)"));
    EXPECT_TRUE(has("luma=255.0 (160x120)"));
    EXPECT_TRUE(has("Session stopped. result=255"));
    for (const auto& line : lines) {
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace
}  // namespace pellora::test
