// The program's queues and services come apart safely whatever is still queued at quit.

#include "main/AppRuntime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "QtTestApp.h"
#include "TestEnvironment.h"
#include "display/BrightnessController.h"
#include "display/Monitor.h"
#include "platform/Camera.h"
#include "platform/SystemClock.h"
#include "platform/sim/SimulatedMonitor.h"
#include "sensor/LightSensor.h"
#include "store/SampleLogger.h"

namespace pellora::test {
namespace {

// Quit while the samples log is busy: reads queued behind one under way, each handing its
// samples on to the retrain queue as retraining does. When the scope holding the log goes
// first, as it does at quit, the queued reads are skipped; when it is still held, they all
// run, and the queues they hand on to are still there for them.
TEST(AppRuntime, QuitsWhileTheSamplesLogIsBusy) {
    qtApp();
    const std::string monitor = Monitor{0x40AC, 0x0001, 1}.identifier();
    for (bool scopeGoesFirst : {true, false}) {
        SCOPED_TRACE(scopeGoesFirst ? "scope gone first" : "scope still held");
        TempDir dir;
        const AppPaths paths = AppPaths::underRoot(dir.path());
        const auto file = paths.dataDir / "monitors" / monitor / SampleLogger::fileName;
        std::string lines;
        for (int i = 0; i < 20000; ++i) {
            lines += *SampleLogger::encodeLine(Sample{1718960400.0 + i * 600, 80, 50, 9, false});
        }
        writeFile(file, lines);
        SystemClock clock;
        RecordingSystemLog systemLog;
        std::atomic<int> trained{0};
        std::unique_ptr<SampleLogger> logger;
        {
            AppRuntime runtime(paths, true, clock, systemLog);
            logger = std::make_unique<SampleLogger>(monitor, paths.dataDir, runtime.loggerQueue());
            std::promise<void> release;
            runtime.loggerQueue().post([gate = release.get_future().share()] { gate.wait(); });
            for (int i = 0; i < 8; ++i) {
                logger->loadAll(runtime.retrainQueue(), [&, i](std::vector<Sample> samples) {
                    EXPECT_EQ(samples.size(), 20000u + i) << "after the appends queued before";
                    runtime.main().post([] {});
                    ++trained;
                });
                logger->log(Sample{1718960400.0 + 1e7 + i, 80, 50, 9, false});
            }
            if (scopeGoesFirst) {
                logger.reset();
            }
            release.set_value();
        }
        EXPECT_EQ(trained, scopeGoesFirst ? 0 : 8);
        EXPECT_EQ(SampleLogger::decodeLines(readFile(file)).size(), 20008u)
            << "every append queued before quit landed";
    }
}

// A camera probe queued just before quit (the menu's diagnostics, a re-check of access) still
// finds the camera there when it runs: the probe queue is drained before the backends go.
TEST(AppRuntime, AProbeQueuedAtQuitFindsTheCameraStillThere) {
    qtApp();
    TempDir dir;
    SystemClock clock;
    RecordingSystemLog systemLog;
    std::atomic<bool> probed{false};
    std::promise<void> release;
    std::thread releaser;
    {
        AppRuntime runtime(AppPaths::underRoot(dir.path()), true, clock, systemLog);
        runtime.probeQueue().post([gate = release.get_future().share()] { gate.wait(); });
        runtime.probeQueue().post([&camera = *runtime.backends().camera, &probed] {
            probed = LightSensor::discoverDevice(camera).has_value();
        });
        // Let go only once the runtime is being taken apart.
        releaser = std::thread([&release] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            release.set_value();
        });
    }
    releaser.join();
    EXPECT_TRUE(probed) << "the probe ran, on a live camera";
}

// `pellora ctl set 30` answers at once and the write waits out the slider's pause: quitting
// within it (a logout, SIGTERM) still leaves the monitor at 30.
TEST(AppRuntime, ABrightnessSetJustBeforeQuitReachesTheMonitor) {
    qtApp();
    TempDir dir;
    SystemClock clock;
    RecordingSystemLog systemLog;
    std::shared_ptr<SimulatedMonitor> monitor;
    {
        AppRuntime runtime(AppPaths::underRoot(dir.path()), true, clock, systemLog);
        monitor = runtime.backends().simulatedMonitor;
        ASSERT_TRUE(monitor);
        ASSERT_NE(monitor->vcpRegister(0x10)->current, 30);
        runtime.brightness()->setBrightnessThrottled(30);
    }
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 30) << "the last value set was written";
}

}  // namespace
}  // namespace pellora::test
