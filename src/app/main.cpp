// Pellora's entry: reads the command line, makes the services and runs the event loop.

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "app/AppDelegate.h"
#include "app/AppRuntime.h"
#include "app/Backends.h"
#include "app/ControlCommand.h"
#include "app/GraphicalSession.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "platform/AppPaths.h"
#include "platform/InstanceLock.h"
#include "platform/QtMainQueue.h"
#include "platform/QuitSignals.h"
#include "platform/SystemClock.h"
#include "platform/linux/DBusRemoteClient.h"
#include "platform/linux/DBusRemoteControl.h"
#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/FreedesktopDesktop.h"
#include "platform/linux/KdeOnScreenDisplay.h"
#include "platform/linux/SyslogSystemLog.h"
#include "platform/sim/StderrSystemLog.h"
#include "store/DebugLog.h"
#include "store/DebugState.h"
#include "store/SettingsStore.h"
#include "ui/AdjustmentHUD.h"
#include "ui/ApplicationIcon.h"
#include "ui/MenuPanelView.h"
#include "ui/MessageBoxAlerts.h"
#include "ui/PreferencesWindowController.h"
#include "ui/TrayMenuView.h"
#include "ui/Updater.h"

#ifndef PELLORA_VERSION
#define PELLORA_VERSION "0.0.0"
#endif
#ifndef PELLORA_BUILD_DIR
#define PELLORA_BUILD_DIR ""
#endif

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

constexpr const char* kApplicationId = "org.pellora.Pellora";
// A panel started with the session may register its tray a little after we do.
constexpr double kTrayRecheckSeconds = 3.0;
// The longest `pellora ctl` takes, whatever the bus does.
constexpr double kControlBound = 2.0;

// The running one's bus name: the desktop's for the user's own Pellora, one of the lock's for
// a simulated run over its own folder.
QString busNameFor(const pellora::AppPaths& paths, bool simulated) {
    return simulated ? pellora::DBusSingleInstance::nameForLock(kApplicationId,
                                                                paths.runtimeDir / "instance.lock")
                     : QString::fromLatin1(kApplicationId);
}

// `pellora ctl …`: asks the running Pellora over the session bus and exits.
int runControl(int argc, char** argv) {
    using pellora::ControlCommand;
    auto parsed = ControlCommand::parse(std::vector<std::string>(argv + 2, argv + argc));
    if (const auto* complaint = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "pellora ctl: %s\n%s\n", complaint->c_str(), ControlCommand::usage);
        return ControlCommand::badArgument;
    }
    const auto& command = std::get<ControlCommand>(parsed);
    // The calls have their own timeouts; this also bounds connecting to a bus that accepts
    // and never answers.
    std::thread([] {
        pellora::SystemClock().sleep(kControlBound);
        static const char late[] = "Pellora did not answer within 2 s\n";
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, late, sizeof late - 1);
        ::_exit(ControlCommand::notRunning);
    }).detach();
    QCoreApplication app(argc, argv);
    const bool simulated = !command.dataDir.empty();
    const auto paths = simulated ? pellora::AppPaths::underRoot(command.dataDir)
                                 : pellora::AppPaths::fromEnvironment();
    pellora::DBusRemoteClient client(busNameFor(paths, simulated), QDBusConnection::sessionBus(),
                                     kControlBound - 0.2);
    const auto result = command.run(client);
    std::fputs(result.out.c_str(), stdout);
    std::fputs(result.err.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    // Said and done: the bus's thread must not speak up while the process is taken apart.
    ::_exit(result.status);
}

}  // namespace

int main(int argc, char** argv) {
    // A peer that goes away (an X server, a bus) must fail our write with EPIPE, not end us.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc >= 2 && std::string_view(argv[1]) == "ctl") {
        return runControl(argc, argv);
    }
    // Read before the platform is chosen for Qt below.
    const std::string qpaPlatform = environment("QT_QPA_PLATFORM");
    const std::string display = environment("DISPLAY");
    const std::string waylandDisplay = environment("WAYLAND_DISPLAY");
    if (auto platform = pellora::GraphicalSession::platformFor(qpaPlatform.c_str(), display.c_str(),
                                                               waylandDisplay.c_str())) {
        ::setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    }
    QApplication app(argc, argv);
    // A tray program: closing an alert must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName("Pellora");
    QCoreApplication::setApplicationVersion(PELLORA_VERSION);
    QCoreApplication::setOrganizationDomain("pellora.org");
    // Wayland compositors and docks match our windows to the launcher entry by this name.
    QGuiApplication::setDesktopFileName(kApplicationId);
    // Every window and alert shows it; X11 window managers take it from the window.
    QApplication::setWindowIcon(pellora::applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Keeps an external monitor's brightness in step with the light in the room.\n"
        "`pellora ctl` asks the running one (run it alone for its commands).");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption simulate("simulate", "Use the built-in simulated monitor and camera.");
    QCommandLineOption dataDir("data-dir", "With --simulate: keep all files under <dir>.", "dir");
    QCommandLineOption timeScale("time-scale", "With --simulate: run the clock <n> times faster.",
                                 "n", "1");
    parser.addOptions({simulate, dataDir, timeScale});
    parser.process(app);

    bool simulated = parser.isSet(simulate);
    double scale = 1.0;
    if (parser.isSet(timeScale)) {
        bool ok = false;
        scale = parser.value(timeScale).toDouble(&ok);
        if (!ok || !(scale >= 1.0 && scale <= 100000.0)) {
            std::fprintf(stderr, "pellora: --time-scale wants a number from 1 to 100000\n");
            return 2;
        }
    }
    if (!simulated && (parser.isSet(dataDir) || parser.isSet(timeScale))) {
        std::fprintf(stderr, "pellora: --data-dir and --time-scale go with --simulate\n");
        return 2;
    }

    std::unique_ptr<QTemporaryDir> scratch;
    pellora::AppPaths paths = pellora::AppPaths::fromEnvironment();
    if (simulated) {
        QString root = parser.value(dataDir);
        if (root.isEmpty()) {
            scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/pellora-sim-XXXXXX");
            root = scratch->path();
        }
        paths = pellora::AppPaths::underRoot(root.toStdString());
    }

    pellora::SystemClock clock(scale);
    // The person at the desk lives in real time: what they watch (the indicator, the window's
    // refresh, the map's moves, the tray's late arrival) is timed on it even when
    // --time-scale speeds up the simulated desk.
    pellora::SystemClock realClock;
    pellora::QtMainQueue realTime(realClock);
    std::unique_ptr<pellora::SystemLog> systemLog;
    if (simulated) {
        systemLog = std::make_unique<pellora::StderrSystemLog>();
    } else {
        systemLog = std::make_unique<pellora::SyslogSystemLog>();
    }

    // Two instances would each rewrite the files from their own memory and lose each
    // other's changes. A second launch is no error: what was asked for is running, and it is
    // asked to show itself. The bus name goes with the lock: the user's own run has the
    // desktop's name, a run over its own folder a name of that folder's lock.
    const auto lockFile = paths.runtimeDir / "instance.lock";
    const QString busName = busNameFor(paths, simulated);
    auto instance = pellora::InstanceLock::acquire(lockFile);
    if (instance.outcome() == pellora::InstanceLock::Outcome::heldElsewhere) {
        std::string holder = instance.detail().empty() ? "" : " (pid " + instance.detail() + ")";
        const bool answered = pellora::DBusSingleInstance::create(busName, nullptr)
                                  ->activateRunning(pellora::DBusSingleInstance::kMaxWaitSeconds);
        // Only the system log: debug.log belongs to the running instance.
        std::string line = pellora::DebugLog::composeLine(
            clock.now(), "app",
            "Pellora is already running" + holder +
                (answered ? "; brought it forward, this launch exits" : "; this launch exits"));
        systemLog->write(line);
        if (!simulated && !isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return 0;
    }

    // Everything below it goes before it, in the reverse of the order made here.
    pellora::AppRuntime runtime(paths, simulated, clock, *systemLog);
    pellora::DebugLog& log = runtime.log();
    pellora::SettingsStore& settings = runtime.settings();
    pellora::QtMainQueue& mainQueue = runtime.main();
    pellora::Backends& backends = runtime.backends();
    const auto& brightness = runtime.brightness();
    const auto& registry = runtime.registry();
    if (instance.outcome() == pellora::InstanceLock::Outcome::unavailable) {
        log.log(
            "No instance lock (" + instance.detail() + "); a second Pellora would not be stopped",
            "app");
    }

    const auto& texts = pellora::PlatformTexts::linuxDesktop();
    pellora::StatusMenu menu(texts);
    pellora::TrayMenuView tray(menu, "Pellora");
    const bool trayAtLaunch = pellora::TrayMenuView::isTrayAvailable();
    // Plasma on Wayland shows its own brightness display; elsewhere the indicator is ours.
    auto desktopOsd = pellora::KdeOnScreenDisplay::create();
    pellora::AdjustmentHUD indicator(realTime, realClock, desktopOsd.get());
    pellora::MessageBoxAlerts alerts("Pellora");
    pellora::Updater updater(mainQueue, clock, log, alerts, pellora::Updater::configuredFeed(),
                             QStringLiteral(PELLORA_VERSION));
    auto desktop = pellora::FreedesktopDesktop::create();
    auto environment = pellora::Backends::environment(kApplicationId, PELLORA_BUILD_DIR);
    // The name a later launch and scripts find this one by, with the scripting interface.
    auto single = pellora::DBusSingleInstance::create(busName, &log);
    pellora::DBusRemoteControl remote(*single);

    pellora::AppServices services{
        .clock = clock,
        .main = mainQueue,
        .retrainQueue = runtime.retrainQueue(),
        .probeQueue = runtime.probeQueue(),
        .loggerQueue = runtime.loggerQueue(),
        .settings = settings,
        .log = log,
        .debugState = runtime.debugState(),
        .appSupportDir = paths.dataDir,
        .brightness = brightness,
        .sensor = runtime.sensor(),
        .camera = *backends.camera,
        .registry = registry,
        .cameraAccess = *backends.cameraAccess,
        .session = *backends.session,
        .desktop = *desktop,
        .alerts = alerts,
        .indicator = indicator,
        .updater = updater,
        .texts = texts,
        .menu = menu,
        .monitorChannelProblem = backends.monitorChannelProblem,
        .quit = [] { QCoreApplication::quit(); },
        .environment = environment,
        .makePreferences =
            [&](pellora::PreferencesHooks hooks) {
                pellora::PreferencesWindowController::Services window{
                    .controller = brightness,
                    .registry = registry,
                    .settings = settings,
                    .log = log,
                    .clock = clock,
                    .main = mainQueue,
                    .realClock = realClock,
                    .realTime = realTime,
                    .work = runtime.retrainQueue(),
                    .texts = texts,
                    .menu = &menu,
                };
                // Without a tray the window carries the menu's rows and commands.
                QWidget* menuPanel = pellora::TrayMenuView::isTrayAvailable()
                                         ? nullptr
                                         : new pellora::MenuPanelView(menu);
                return pellora::PreferencesWindowController::create(window, std::move(hooks),
                                                                    menuPanel);
            },
        .loginItem = pellora::Backends::loginItem(paths, environment, simulated,
                                                  runtime.loginQueue(), runtime.main()),
        .remote = &remote,
    };
    auto controller = pellora::AppDelegate::create(std::move(services));
    controller->applicationDidFinishLaunching();
    // What the dump and scripts see changes only on the main thread: it is looked at whenever
    // that thread has worked, so no timer of its own wakes it.
    mainQueue.setIdleObserver(
        [&debugState = runtime.debugState(), weak = std::weak_ptr(controller)] {
            debugState.capture();
            if (auto self = weak.lock()) {
                self->publishRemoteState();
            }
        });

    // A later launch (from the application launcher, say) brings the window forward.
    remote.serve(*controller);
    single->serve([&log, weak = std::weak_ptr(controller)] {
        log.log("Activated by a second launch; opening the preferences window", "app");
        if (auto self = weak.lock()) {
            self->openPreferences();
        }
    });

    // Without a tray the menu is out of reach: the window carries it, and opens at launch.
    // Off screen there is no one to see either.
    pellora::WorkItemPtr trayCheck;
    const auto offScreen = pellora::GraphicalSession::offScreenLine(
        qpaPlatform.c_str(), display.c_str(), waylandDisplay.c_str(),
        QGuiApplication::platformName().toStdString());
    if (offScreen) {
        log.log(*offScreen, "app");
    } else if (!trayAtLaunch) {
        log.log("No system tray yet; looking again in a moment", "app");
        trayCheck = realTime.postAfter(
            kTrayRecheckSeconds, [&log, &alerts, weak = std::weak_ptr(controller)] {
                if (pellora::TrayMenuView::isTrayAvailable()) {
                    log.log("A system tray appeared; the menu is in the tray", "app");
                    return;
                }
                log.log(
                    "No system tray found; the menu is in the preferences window (on GNOME, the "
                    "AppIndicator extension gives the tray icon)",
                    "app");
                alerts.present("No system tray found — Pellora's menu is in its window.",
                               "On GNOME, install the AppIndicator extension to get the tray icon.",
                               {"OK"}, {});
                if (auto self = weak.lock()) {
                    self->openPreferences();
                }
            });
    }

    auto quitSignals = pellora::QuitSignals::install([&log](int signal) {
        log.log(std::string("Quitting on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"), "app");
        QCoreApplication::quit();
    });
    if (!quitSignals) {
        log.log("Cannot catch SIGINT and SIGTERM; changes not yet written are lost on them", "app");
    }
    int status = app.exec();
    mainQueue.setIdleObserver(nullptr);
    if (trayCheck) {
        trayCheck->cancel();
    }
    // What was made above goes in reverse order: the controller before the views and services
    // it uses, the runtime's services before the queues they post to, each queue drained before
    // what its work uses, and what the stores hold pending written before the process ends.
    return status;
}
