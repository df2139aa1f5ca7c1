#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/PreferencesPresenter.h"
#include "app/SnapshotPolicy.h"

namespace pellora {

class AlertPresenter;
class BrightnessController;
class BrightnessIndicator;
class Camera;
class CameraAccess;
class Clock;
class DebugLog;
class DebugState;
class Desktop;
class LightSensor;
class LoginItem;
class MonitorRegistry;
class Queue;
class RemoteControl;
class SessionState;
class SettingsStore;
class StatusMenu;
class UpdateCheck;
struct PlatformTexts;

// Facts about the running program that the camera's diagnostics report.
struct AppEnvironment {
    std::string appId = "org.pellora.Pellora";
    std::string executablePath;
    // "none", "flatpak" or "snap": a sandbox hides devices unless it is told otherwise.
    std::string sandbox = "none";
    // The user's groups, as the camera's and the I2C bus's permissions see them.
    std::string groups;
    // The program is a build folder's copy, not an installed one.
    bool fromBuildTree = false;
};

// Everything the controller is given: its clock and queues, the process-wide stores and
// every service, made by the program's start-up in order. All outlive the controller.
struct AppServices {
    Clock& clock;
    Queue& main;
    // Retraining, off the main thread.
    Queue& retrainQueue;
    // Looking for cameras (it opens device nodes), off the main thread.
    Queue& probeQueue;
    // "pellora.logger": the samples logs' appends and reads.
    Queue& loggerQueue;
    SettingsStore& settings;
    DebugLog& log;
    DebugState& debugState;
    std::filesystem::path appSupportDir;
    std::shared_ptr<BrightnessController> brightness;
    std::shared_ptr<LightSensor> sensor;
    // Shared with the probes queued on `probeQueue`, which may run after the controller is gone.
    std::shared_ptr<Camera> camera;
    std::shared_ptr<MonitorRegistry> registry;
    CameraAccess& cameraAccess;
    SessionState& session;
    Desktop& desktop;
    AlertPresenter& alerts;
    BrightnessIndicator& indicator;
    UpdateCheck& updater;
    const PlatformTexts& texts;
    // The tray's menu, which the controller writes and a view shows.
    StatusMenu& menu;
    // Why the monitor's control channel cannot be opened, in one sentence naming the fix;
    // nothing when it can (or the platform cannot tell). Any thread.
    std::function<std::optional<std::string>()> monitorChannelProblem;
    std::function<void()> quit;
    AppEnvironment environment;
    // Makes the preferences window on first use; none where no window can be shown (tests).
    PreferencesFactory makePreferences;
    // Whether the desktop starts the program at login; none: the menu offers no such row.
    std::shared_ptr<LoginItem> loginItem = nullptr;
    // Where scripts read the state; none where no bus is offered.
    RemoteControl* remote = nullptr;
    // Following the room closely: camera readings a day, on average over the last week.
    int closeReadingsPerDay = SnapshotPolicy::closeDailyReadings;
};

}  // namespace pellora
