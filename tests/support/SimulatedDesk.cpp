#include "SimulatedDesk.h"

#include "display/DDCService.h"
#include "platform/SerialQueue.h"
#include "store/SampleLogger.h"

namespace pellora::test {

const DisplayInfo SimulatedDesk::monitorA{"card0-DP-1", false, 0x10AC, 0xA0C5, 1, "DELL U2720Q"};
const DisplayInfo SimulatedDesk::monitorB{"card0-DP-2", false, 0x1E6D, 0x5B7F, 2, "LG 27UL850"};

SimulatedDesk::SimulatedDesk(Options opts)
    : options(opts),
      env(opts.startWall),
      brightnessQueue(env.clock.makeQueue("pellora.brightness")),
      sensorQueue(env.clock.makeQueue("pellora.sensor")),
      probeQueue(env.clock.makeQueue("pellora.camera-probe")),
      wrappedMain(opts.wrapMain ? opts.wrapMain(*env.main) : nullptr),
      mainQueue(wrappedMain ? *wrappedMain : static_cast<Queue&>(*env.main)),
      monitor(std::make_shared<SimulatedMonitor>(env.clock)),
      otherMonitor(std::make_shared<SimulatedMonitor>(env.clock)),
      camera(env.clock),
      cameraAccess(SimulatedCameraAccess::create(mainQueue)),
      session(SimulatedSessionState::create(mainQueue)) {
    if (opts.realWorkerQueues) {
        loggerQueue = std::make_unique<SerialQueue>("pellora.logger", workerClock);
        retrainQueue = std::make_unique<SerialQueue>("pellora.retrain", workerClock);
    } else {
        loggerQueue = env.clock.makeQueue("pellora.logger");
        retrainQueue = env.clock.makeQueue("pellora.retrain");
    }
    cameraAccess->setStatus(opts.cameraStatus);
    monitor->defineRegister(0x10, 50, 100);
    otherMonitor->defineRegister(0x10, 70, 100);
    displays.plug(DisplayInfo{"card0-eDP-1", true, 0x09E5, 0x0BCA, 0, "Built-in"});
    if (opts.monitorPlugged) {
        displays.plug(monitorA);
        i2c.setMonitor(monitor);
    }
}

SimulatedDesk::~SimulatedDesk() {
    // The controller goes first; what it left queued then finds it gone.
    app.reset();
    env.clock.runPending();
    sensor.reset();
    env.clock.runPending();
    brightness.reset();
    registry.reset();
    if (debugState) {
        debugState->stop();
    }
    env.clock.runPending();
    // Worker threads finish what they hold before the queues they post to go.
    loggerQueue.reset();
    retrainQueue.reset();
    env.clock.runPending();
}

void SimulatedDesk::launch(double then) {
    brightness = BrightnessController::create(mainQueue, *brightnessQueue, [this] {
        return std::make_shared<DDCService>(i2c, env.clock, *env.log, env.systemLog);
    });
    sensor = LightSensor::create(camera, *sensorQueue, mainQueue, env.clock, *env.log);
    registry = MonitorRegistry::create(displays, *env.settings, mainQueue);
    debugState =
        DebugState::create(env.clock, mainQueue, *env.log, env.paths.dataDir, options.dumpPeriod);
    AppServices services{
        .clock = env.clock,
        .main = mainQueue,
        .retrainQueue = *retrainQueue,
        .probeQueue = *probeQueue,
        .loggerQueue = *loggerQueue,
        .settings = *env.settings,
        .log = *env.log,
        .debugState = *debugState,
        .appSupportDir = env.paths.dataDir,
        .brightness = brightness,
        .sensor = sensor,
        // The desk owns its camera and outlives the queues of its tests.
        .camera = std::shared_ptr<Camera>(std::shared_ptr<void>(), &camera),
        .registry = registry,
        .cameraAccess = *cameraAccess,
        .session = *session,
        .desktop = desktop,
        .alerts = alerts,
        .indicator = indicator,
        .updater = updater,
        .texts = PlatformTexts::linuxDesktop(),
        .menu = menu,
        .monitorChannelProblem = [this] { return channelProblem; },
        .quit = [this] { ++quits; },
        .environment = {"org.pellora.Pellora", "/usr/bin/pellora", "none", "users video"},
        .makePreferences = nullptr,
        .loginItem = loginItem,
        .remote = options.remote,
        .closeReadingsPerDay = options.closeReadingsPerDay,
    };
    if (options.preferences) {
        services.makePreferences = [this](PreferencesHooks hooks) {
            return options.preferences(*this, std::move(hooks));
        };
    }
    app = AppDelegate::create(std::move(services));
    app->applicationDidFinishLaunching();
    env.clock.advance(then);
}

std::vector<Sample> SimulatedDesk::samples(const DisplayInfo& display) {
    Monitor m{display.vendor, display.model, display.serial};
    SampleLogger logger(m.identifier(), env.paths.dataDir, *loggerQueue);
    return logger.loadAll();
}

std::string SimulatedDesk::dumpText() {
    debugState->dump();
    debugState->flush();
    return readFile(debugState->fileURL());
}

}  // namespace pellora::test
