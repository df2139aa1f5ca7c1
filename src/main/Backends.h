#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "platform/AppPaths.h"

namespace pellora {

class Camera;
class CameraAccess;
class Clock;
class DebugLog;
class DisplayI2C;
class DisplayList;
class LoginItem;
class Queue;
class SessionState;
class SettingsStore;
class SimulatedMonitor;

// The hardware and session services of one run: the real ones of this Linux desktop, or the
// simulated desk. Made on the main thread at start-up.
struct Backends {
    std::unique_ptr<DisplayI2C> i2c;
    std::unique_ptr<DisplayList> displays;
    std::shared_ptr<Camera> camera;
    std::shared_ptr<CameraAccess> cameraAccess;
    std::shared_ptr<SessionState> session;
    std::function<std::optional<std::string>()> monitorChannelProblem;
    // The simulated desk's monitor; none on real hardware.
    std::shared_ptr<SimulatedMonitor> simulatedMonitor;

    Backends();
    ~Backends();
    Backends(Backends&&) noexcept;
    Backends& operator=(Backends&&) noexcept;

    // DRM and i2c-dev for the monitor, V4L2 for the camera, logind and the screen saver for
    // the session.
    static Backends linuxDesktop(DebugLog& log, Clock& clock, Queue& main, Queue& probeQueue,
                                 Queue& sessionQueue);
    // One simulated monitor on the cable and a camera filming a room lit by the sun at the
    // stored place; the user is always there.
    static Backends simulatedDesk(const SettingsStore& settings, Clock& clock, Queue& main);

    // What the camera's diagnostics say about this process: its path, sandbox and groups;
    // whether it runs from `buildDir` (the folder it was built in).
    static AppEnvironment environment(std::string appId, const std::string& buildDir = "");
    // "/usr/bin/pellora (deleted)", as /proc/self/exe reads once an upgrade replaced the
    // program, names the file that is there now.
    static std::string liveExecutable(std::string link);

    // Start at login: the desktop portal inside a sandbox, else the autostart folder (the
    // one under the data folder for a simulated run). Its file work runs on `work`.
    static std::shared_ptr<LoginItem> loginItem(const AppPaths& paths,
                                                const AppEnvironment& environment, bool simulated,
                                                Queue& work, Queue& main);
};

}  // namespace pellora
