#include "main/Program.h"

#include <QCoreApplication>
#include <csignal>

#include "app/AppDelegate.h"
#include "app/PlatformTexts.h"
#include "main/Backends.h"
#include "main/InstanceGate.h"
#include "main/ProgramIdentity.h"
#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/FreedesktopDesktop.h"
#include "platform/linux/KdeOnScreenDisplay.h"
#include "store/DebugLog.h"
#include "store/DebugState.h"
#include "ui/MenuPanelView.h"
#include "ui/PreferencesWindowController.h"

#ifndef PELLORA_VERSION
#define PELLORA_VERSION "0.0.0"
#endif
#ifndef PELLORA_BUILD_DIR
#define PELLORA_BUILD_DIR ""
#endif

namespace pellora {

namespace {

// A panel started with the session may register its tray a little after we do.
constexpr double kTrayRecheckSeconds = 3.0;

}  // namespace

Program::Program(const ProgramOptions& options, const InstanceGate& gate, SystemLog& systemLog,
                 std::optional<std::string> offScreen)
    : options_(options),
      clock_(options.timeScale),
      realTime_(realClock_),
      runtime_(options.paths, options.simulated, clock_, systemLog),
      texts_(PlatformTexts::linuxDesktop()),
      menu_(texts_),
      tray_(menu_, "Pellora"),
      trayAtLaunch_(TrayMenuView::isTrayAvailable()),
      offScreen_(std::move(offScreen)),
      desktopOsd_(KdeOnScreenDisplay::create()),
      indicator_(realTime_, realClock_, desktopOsd_.get()),
      alerts_("Pellora"),
      // The network is not on the desk's clock: a feed gets its 15 s however fast the desk runs.
      updater_(realTime_, realClock_, runtime_.log(), alerts_, Updater::configuredFeed(),
               QStringLiteral(PELLORA_VERSION)),
      desktop_(FreedesktopDesktop::create()),
      environment_(Backends::environment(ProgramIdentity::applicationId, PELLORA_BUILD_DIR)),
      single_(DBusSingleInstance::create(ProgramIdentity::busName(options.paths, options.simulated),
                                         &runtime_.log())),
      remote_(*single_) {
    if (auto problem = gate.lockProblem()) {
        runtime_.log().log(*problem, "app");
    }
    controller_ = AppDelegate::create(services());
    controller_->applicationDidFinishLaunching();
    // What the dump and scripts see changes only on the main thread: it is looked at whenever
    // that thread has worked, so no timer of its own wakes it.
    runtime_.main().setIdleObserver(
        [&debugState = runtime_.debugState(), weak = std::weak_ptr(controller_)] {
            debugState.capture();
            if (auto self = weak.lock()) {
                self->publishRemoteState();
            }
        });
    serveSecondLaunches();
    lookForTheTray();
    catchQuitSignals();
}

Program::~Program() {
    runtime_.main().setIdleObserver(nullptr);
    if (trayCheck_) {
        trayCheck_->cancel();
    }
}

int Program::run() {
    const int status = QCoreApplication::exec();
    // A sample the logger wrote as the loop stopped still has its count to hand to main: let
    // it land, so the last dump agrees with the samples file.
    runtime_.loggerQueue().sync([] {});
    QCoreApplication::sendPostedEvents();
    runtime_.debugState().capture();
    return status;
}

AppServices Program::services() {
    Backends& backends = runtime_.backends();
    return AppServices{
        .clock = clock_,
        .main = runtime_.main(),
        .retrainQueue = runtime_.retrainQueue(),
        .probeQueue = runtime_.probeQueue(),
        .loggerQueue = runtime_.loggerQueue(),
        .settings = runtime_.settings(),
        .log = runtime_.log(),
        .debugState = runtime_.debugState(),
        .appSupportDir = options_.paths.dataDir,
        .brightness = runtime_.brightness(),
        .sensor = runtime_.sensor(),
        .camera = backends.camera,
        .registry = runtime_.registry(),
        .cameraAccess = *backends.cameraAccess,
        .session = *backends.session,
        .desktop = *desktop_,
        .alerts = alerts_,
        .indicator = indicator_,
        .updater = updater_,
        .texts = texts_,
        .menu = menu_,
        .monitorChannelProblem = backends.monitorChannelProblem,
        .quit = [] { QCoreApplication::quit(); },
        .environment = environment_,
        // Off screen there is no window to open.
        .makePreferences =
            offScreen_ ? PreferencesFactory{} : [this](PreferencesHooks hooks) {
                PreferencesWindowController::Services window{
                    .controller = runtime_.brightness(),
                    .registry = runtime_.registry(),
                    .settings = runtime_.settings(),
                    .log = runtime_.log(),
                    .clock = clock_,
                    .main = runtime_.main(),
                    .realClock = realClock_,
                    .realTime = realTime_,
                    .work = runtime_.retrainQueue(),
                    .texts = texts_,
                    .menu = &menu_,
                };
                // Without a tray the window carries the menu's rows and commands.
                QWidget* menuPanel =
                    TrayMenuView::isTrayAvailable() ? nullptr : new MenuPanelView(menu_);
                return PreferencesWindowController::create(window, std::move(hooks), menuPanel);
            },
        .loginItem = Backends::loginItem(options_.paths, environment_, options_.simulated,
                                         runtime_.loginQueue(), runtime_.main()),
        .remote = &remote_,
    };
}

// A later launch (from the application launcher, say) brings the window forward.
void Program::serveSecondLaunches() {
    remote_.serve(*controller_);
    if (offScreen_) {
        // Nothing of this run can be seen: a launch from within the session runs instead.
        single_->giveWay();
        single_->serve([&log = runtime_.log()] {
            log.log(
                "Activated by a second launch while off screen; ending, so that it runs "
                "instead",
                "app");
            QCoreApplication::quit();
        });
        return;
    }
    single_->serve([&log = runtime_.log(), weak = std::weak_ptr(controller_)] {
        log.log("Activated by a second launch; opening the preferences window", "app");
        if (auto self = weak.lock()) {
            self->openPreferences();
        }
    });
}

// Without a tray the menu is out of reach: the window carries it, and opens at launch. Off
// screen there is no one to see either.
void Program::lookForTheTray() {
    DebugLog& log = runtime_.log();
    if (offScreen_) {
        log.log(*offScreen_, "app");
        return;
    }
    if (trayAtLaunch_) {
        return;
    }
    log.log("No system tray yet; looking again in a moment", "app");
    trayCheck_ = realTime_.postAfter(
        kTrayRecheckSeconds, [&log, &alerts = alerts_, weak = std::weak_ptr(controller_)] {
            if (TrayMenuView::isTrayAvailable()) {
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

void Program::catchQuitSignals() {
    DebugLog& log = runtime_.log();
    quitSignals_ = QuitSignals::install([&log](int signal) {
        log.log(std::string("Quitting on ") + (signal == SIGTERM  ? "SIGTERM"
                                               : signal == SIGHUP ? "SIGHUP"
                                                                  : "SIGINT"),
                "app");
        QCoreApplication::quit();
    });
    if (!quitSignals_) {
        log.log("Cannot catch SIGINT and SIGTERM; changes not yet written are lost on them", "app");
    }
}

}  // namespace pellora
