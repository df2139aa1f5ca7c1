#pragma once

#include <memory>

#include "main/Backends.h"
#include "platform/AppPaths.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"

namespace pellora {

class BrightnessController;
class DebugLog;
class DebugState;
class LightSensor;
class MonitorRegistry;
class SettingsStore;
class SystemClock;
class SystemLog;

// The running program's queues, process-wide stores, backends and device services, owned in
// one place. The members are declared in the order they depend on each other, so the reverse
// order C++ destroys them in is a safe shutdown: a serial queue runs what it holds and joins
// its thread before anything its tasks use goes, and the stores write what they hold pending
// before the queues they write on go. Nothing needs to be torn down by hand.
//
// Made and destroyed on the main thread, under a Qt application; whatever uses the services
// (the controller, the views) is made after it and so goes before it.
class AppRuntime {
  public:
    // `clock` and `systemLog` outlive the runtime. `simulated` chooses the simulated desk's
    // backends over this machine's hardware. Installs the process-wide stores.
    AppRuntime(const AppPaths& paths, bool simulated, SystemClock& clock, SystemLog& systemLog);
    ~AppRuntime();

    AppRuntime(const AppRuntime&) = delete;
    AppRuntime& operator=(const AppRuntime&) = delete;

    SystemClock& clock() { return clock_; }
    SystemLog& systemLog() { return systemLog_; }
    const AppPaths& paths() const { return paths_; }
    QtMainQueue& main() { return main_; }
    DebugLog& log() { return *log_.instance; }
    SettingsStore& settings() { return *settings_.instance; }
    DebugState& debugState() { return *debugState_.instance; }
    Backends& backends() { return backends_; }
    Queue& probeQueue() { return probeQueue_; }
    Queue& retrainQueue() { return retrainQueue_; }
    Queue& loggerQueue() { return loggerQueue_; }
    Queue& loginQueue() { return loginQueue_; }
    const std::shared_ptr<BrightnessController>& brightness() const { return brightness_; }
    const std::shared_ptr<LightSensor>& sensor() const { return sensor_; }
    const std::shared_ptr<MonitorRegistry>& registry() const { return registry_; }

  private:
    // One of the process-wide stores, installed for as long as it is held. On the way out it
    // writes what it still holds and is uninstalled, while its queue is still there.
    template <typename T>
    struct Installed {
        std::shared_ptr<T> instance;
        explicit Installed(std::shared_ptr<T> made);
        ~Installed();
        Installed(const Installed&) = delete;
        Installed& operator=(const Installed&) = delete;
    };

    SystemClock& clock_;
    SystemLog& systemLog_;
    const AppPaths paths_;
    // Every queue below posts its results here.
    QtMainQueue main_;
    // Every queue below logs.
    SerialQueue logQueue_;
    Installed<DebugLog> log_;
    SerialQueue settingsQueue_;
    Installed<SettingsStore> settings_;
    // Rewrites its file on the debug log's queue.
    Installed<DebugState> debugState_;
    // The session backend hands its last work to this queue as it goes, so the queue outlives
    // the backends; its tasks own what they use.
    SerialQueue sessionQueue_;
    // Made in the constructor's body, once the probe queue exists: the queues declared after
    // this run tasks that use the camera, the monitor's bus and the displays.
    Backends backends_;
    SerialQueue probeQueue_;
    SerialQueue retrainQueue_;
    // Its reads hand samples on to the retrain queue, so it is drained first.
    SerialQueue loggerQueue_;
    SerialQueue brightnessQueue_;
    SerialQueue sensorQueue_;
    // The login item's file and portal work; its tasks own what they use but the main queue.
    SerialQueue loginQueue_;
    std::shared_ptr<BrightnessController> brightness_;
    std::shared_ptr<LightSensor> sensor_;
    std::shared_ptr<MonitorRegistry> registry_;
};

}  // namespace pellora
