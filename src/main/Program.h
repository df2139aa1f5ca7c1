#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "app/StatusMenu.h"
#include "main/AppRuntime.h"
#include "main/ProgramOptions.h"
#include "platform/QtMainQueue.h"
#include "platform/QuitSignals.h"
#include "platform/SystemClock.h"
#include "platform/WorkItem.h"
#include "platform/linux/DBusRemoteControl.h"
#include "ui/AdjustmentHUD.h"
#include "ui/MessageBoxAlerts.h"
#include "ui/TrayMenuView.h"
#include "ui/Updater.h"

namespace pellora {

class AppDelegate;
class DBusSingleInstance;
class FreedesktopDesktop;
class InstanceGate;
class KdeOnScreenDisplay;
struct PlatformTexts;

// One run of Pellora: the runtime's queues and services, the views, the controller that joins
// them and the program's own bus names, made under the Qt application. The members are
// declared in the order they are made, so the reverse order C++ takes them apart in is a safe
// teardown: the controller before the views and services it uses, the views before the
// runtime, the runtime's services before the queues they post to.
class Program {
  public:
    // `offScreen`: the line that says the run has no display to show anything on, if so.
    Program(const ProgramOptions& options, const InstanceGate& gate, SystemLog& systemLog,
            std::optional<std::string> offScreen);
    ~Program();

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Runs the event loop until quit (a menu's Quit, SIGINT or SIGTERM); its exit status.
    int run();

  private:
    AppServices services();
    void serveSecondLaunches();
    void lookForTheTray();
    void catchQuitSignals();

    const ProgramOptions options_;
    // The desk's clock: faster than real time under --time-scale.
    SystemClock clock_;
    // The person at the desk lives in real time: what they watch (the indicator, the window's
    // refresh, the map's moves, the tray's late arrival, the update check's waits) is timed
    // on it even when --time-scale speeds up the simulated desk.
    SystemClock realClock_;
    QtMainQueue realTime_;
    AppRuntime runtime_;
    const PlatformTexts& texts_;
    StatusMenu menu_;
    TrayMenuView tray_;
    const bool trayAtLaunch_;
    const std::optional<std::string> offScreen_;
    // Plasma on Wayland shows its own brightness display; elsewhere the indicator is ours.
    std::shared_ptr<KdeOnScreenDisplay> desktopOsd_;
    AdjustmentHUD indicator_;
    MessageBoxAlerts alerts_;
    Updater updater_;
    std::shared_ptr<FreedesktopDesktop> desktop_;
    const AppEnvironment environment_;
    // The name a later launch and scripts find this one by, with the scripting interface.
    std::shared_ptr<DBusSingleInstance> single_;
    DBusRemoteControl remote_;
    std::shared_ptr<AppDelegate> controller_;
    WorkItemPtr trayCheck_;
    std::unique_ptr<QuitSignals> quitSignals_;
};

}  // namespace pellora
