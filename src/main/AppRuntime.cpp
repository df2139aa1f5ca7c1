#include "main/AppRuntime.h"

#include "display/BrightnessController.h"
#include "display/DDCService.h"
#include "display/MonitorRegistry.h"
#include "platform/SystemClock.h"
#include "sensor/LightSensor.h"
#include "store/DebugLog.h"
#include "store/DebugState.h"
#include "store/SettingsStore.h"

namespace pellora {

namespace {

void finish(DebugLog& log) {
    log.flush();
}
void finish(SettingsStore& settings) {
    settings.flush();
}
void finish(DebugState& state) {
    state.stop();
    state.flush();
}

}  // namespace

template <typename T>
AppRuntime::Installed<T>::Installed(std::shared_ptr<T> made) : instance(std::move(made)) {
    T::installShared(instance);
}

template <typename T>
AppRuntime::Installed<T>::~Installed() {
    finish(*instance);
    T::installShared(nullptr);
}

AppRuntime::AppRuntime(const AppPaths& paths, bool simulated, SystemClock& clock,
                       SystemLog& systemLog)
    : clock_(clock),
      systemLog_(systemLog),
      paths_(paths),
      main_(clock),
      logQueue_("pellora.debug-log", clock),
      log_(std::make_shared<DebugLog>(clock, logQueue_, paths.dataDir, systemLog)),
      settingsQueue_("pellora.settings", clock),
      settings_(SettingsStore::open(paths, clock, main_, settingsQueue_, log_.instance.get())),
      debugState_(DebugState::create(clock, main_, *log_.instance, paths.dataDir)),
      sessionQueue_("pellora.session", clock),
      probeQueue_("pellora.camera-probe", clock),
      retrainQueue_("pellora.retrain", clock),
      loggerQueue_("pellora.logger", clock),
      brightnessQueue_("pellora.brightness", clock),
      sensorQueue_("pellora.sensor", clock),
      loginQueue_("pellora.login", clock) {
    DebugLog& log = *log_.instance;
    settings_.instance->watchCloudFolder();
    log.log("Data folder " + paths.dataDir.string() + ", settings " + paths.configDir.string() +
                ", synced settings " + paths.syncDir.string(),
            "app");
    backends_ = simulated ? Backends::simulatedDesk(*settings_.instance, clock, main_)
                          : Backends::linuxDesktop(log, clock, main_, probeQueue_, sessionQueue_);
    // A fresh transport per reconnect; the runtime outlives the controller that asks.
    brightness_ = BrightnessController::create(main_, brightnessQueue_, [this] {
        return std::make_shared<DDCService>(*backends_.i2c, clock_, *log_.instance, systemLog_);
    });
    sensor_ = LightSensor::create(*backends_.camera, sensorQueue_, main_, clock, log);
    registry_ = MonitorRegistry::create(*backends_.displays, *settings_.instance, main_);
}

AppRuntime::~AppRuntime() {
    // A brightness set just before quit (`ctl set`, then logout) is still written. Queued
    // exchanges run only while the controller is there, so they run before it goes.
    brightness_->writePendingNow();
    brightnessQueue_.sync([] {});
}

}  // namespace pellora
