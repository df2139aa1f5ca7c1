#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeLoginItem.h"
#include "ScopedLocalZone.h"
#include "TestEnvironment.h"
#include "app/AlertPresenter.h"
#include "app/AppDelegate.h"
#include "app/BrightnessIndicator.h"
#include "app/PlatformTexts.h"
#include "app/UpdateCheck.h"
#include "display/BrightnessController.h"
#include "display/MonitorRegistry.h"
#include "platform/Desktop.h"
#include "platform/SystemClock.h"
#include "platform/sim/SimulatedCamera.h"
#include "platform/sim/SimulatedCameraAccess.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedDisplayList.h"
#include "platform/sim/SimulatedMonitor.h"
#include "platform/sim/SimulatedSessionState.h"
#include "sensor/LightSensor.h"
#include "store/DebugState.h"
#include "store/Sample.h"

namespace pellora::test {

struct RecordingDesktop final : Desktop {
    std::vector<std::filesystem::path> revealed;
    bool opens = true;
    void revealFile(const std::filesystem::path& file, std::function<void(bool)> done) override {
        revealed.push_back(file);
        done(opens);
    }
};

struct RecordingAlerts final : AlertPresenter {
    struct Alert {
        std::string message, informative;
        std::vector<std::string> buttons;
        std::function<void(int)> answer;
    };
    std::vector<Alert> shown;
    void present(const std::string& message, const std::string& informative,
                 const std::vector<std::string>& buttons,
                 std::function<void(int)> answer) override {
        shown.push_back({message, informative, buttons, std::move(answer)});
    }
};

struct RecordingIndicator final : BrightnessIndicator {
    std::vector<std::pair<int, int>> shown;  // brightness, delta
    void show(int brightness, int delta) override { shown.emplace_back(brightness, delta); }
};

struct RecordingUpdateCheck final : UpdateCheck {
    int checks = 0;
    void checkForUpdates() override { ++checks; }
};

// The whole program on virtual time: a monitor on the cable (or none), a camera filming the
// simulated room, a session, and the controller over them.
class SimulatedDesk {
  public:
    struct Options {
        double startWall = 1718960400.0;  // 2024-06-21 09:00 UTC
        bool monitorPlugged = true;
        CameraAuthorization cameraStatus = CameraAuthorization::authorized;
        // The debug dump's period: a minute, so that simulated weeks do not write one every 3 s.
        double dumpPeriod = 60.0;
        // The samples log's and retraining's queues on threads of their own, as in the program.
        bool realWorkerQueues = false;
        // Stands between the main queue and all that posts to it, e.g. to time its tasks.
        std::function<std::unique_ptr<Queue>(Queue& main)> wrapMain = nullptr;
        // Makes the preferences window on the desk's services; none: no window.
        std::function<std::shared_ptr<PreferencesPresenter>(SimulatedDesk&, PreferencesHooks)>
            preferences = nullptr;
        // Where the controller publishes what scripts read; none: nowhere.
        RemoteControl* remote = nullptr;
        // Following the room closely: the camera readings a day it keeps to.
        int closeReadingsPerDay = SnapshotPolicy::closeDailyReadings;
    };

    static const DisplayInfo monitorA;
    static const DisplayInfo monitorB;

    SimulatedDesk() : SimulatedDesk(Options{}) {}
    explicit SimulatedDesk(Options options);
    ~SimulatedDesk();

    // Makes the services in start-up order, launches the controller and lets `then` pass.
    void launch(double then = 0);
    void advance(double seconds) { env.clock.advance(seconds); }
    // A snapshot asked for from the menu, then `then` seconds.
    void snapshot(double then) {
        app->menu().activate(MenuItemId::snapshot);
        advance(then);
    }

    // The cable: `display` plugged in with `monitor` answering on its DDC lines.
    void plug(const DisplayInfo& display, std::shared_ptr<SimulatedMonitor> m) {
        i2c.setMonitor(std::move(m));
        displays.plug(display);
    }
    void unplug(const DisplayInfo& display) {
        displays.unplug(display.id);
        i2c.setMonitor(nullptr);
    }

    int monitorBrightness() {
        return monitor->vcpRegister(0x10) ? monitor->vcpRegister(0x10)->current : -1;
    }
    std::vector<Sample> samples(const DisplayInfo& display = monitorA);
    std::vector<std::string> logLines() { return env.logLines(); }
    std::vector<std::string> linesWith(const std::string& text) { return env.linesWith(text); }
    std::size_t count(const std::string& text) { return linesWith(text).size(); }
    std::string dumpText();
    std::string keyPrefix(const DisplayInfo& display = monitorA) const {
        return Monitor{display.vendor, display.model, display.serial}.keyPrefix();
    }
    const std::string& title(MenuItemId id) { return app->menu().row(id).title; }
    bool hidden(MenuItemId id) { return app->menu().row(id).hidden; }
    // Brightness writes: each goes out twice on the wire, for monitors that miss one.
    int writes() { return monitor->stats().setRequests / 2; }
    int reads() { return monitor->stats().getRequests; }
    // Sets the monitor's brightness as its own buttons would.
    void setMonitor(int value) { monitor->defineRegister(0x10, value, 100); }

    Options options;
    TestEnvironment env;
    SystemClock workerClock;
    std::unique_ptr<ManualQueue> brightnessQueue, sensorQueue, probeQueue;
    std::unique_ptr<Queue> loggerQueue, retrainQueue;
    std::unique_ptr<Queue> wrappedMain;
    // The main queue as the desk's parts see it: env.main, or its wrapper.
    Queue& mainQueue;
    std::shared_ptr<SimulatedMonitor> monitor;
    std::shared_ptr<SimulatedMonitor> otherMonitor;
    SimulatedDisplayI2C i2c;
    SimulatedDisplayList displays;
    SimulatedCamera camera;
    std::shared_ptr<SimulatedCameraAccess> cameraAccess;
    std::shared_ptr<SimulatedSessionState> session;
    RecordingDesktop desktop;
    RecordingAlerts alerts;
    RecordingIndicator indicator;
    RecordingUpdateCheck updater;
    StatusMenu menu{PlatformTexts::linuxDesktop()};
    std::optional<std::string> channelProblem;
    int quits = 0;
    // Answered by hand; none (set before launch): the program offers no start at login.
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();

    std::shared_ptr<DebugState> debugState;
    std::shared_ptr<BrightnessController> brightness;
    std::shared_ptr<LightSensor> sensor;
    std::shared_ptr<MonitorRegistry> registry;
    std::shared_ptr<AppDelegate> app;
};

// A test on a desk in the UTC zone, launched by the test (after any set-up of its own).
struct DeskTest : ::testing::Test {
    ScopedLocalZone zone{"UTC0"};
    std::unique_ptr<SimulatedDesk> desk = std::make_unique<SimulatedDesk>();

    SimulatedDesk& d() { return *desk; }
    void restart(SimulatedDesk::Options options = {}) {
        desk.reset();
        desk = std::make_unique<SimulatedDesk>(options);
    }
};

}  // namespace pellora::test
