#include "main/Backends.h"

#include <grp.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/StoredChoices.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/LinuxDisplayI2C.h"
#include "platform/linux/LinuxSessionState.h"
#include "platform/linux/PortalAutostart.h"
#include "platform/linux/V4l2Camera.h"
#include "platform/linux/V4l2CameraAccess.h"
#include "platform/linux/XdgAutostartEntry.h"
#include "platform/sim/SimulatedCamera.h"
#include "platform/sim/SimulatedCameraAccess.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedDisplayList.h"
#include "platform/sim/SimulatedMonitor.h"
#include "platform/sim/SimulatedSessionState.h"
#include "store/DebugLog.h"
#include "store/SettingsStore.h"

namespace pellora {

Backends::Backends() = default;
Backends::~Backends() = default;
Backends::Backends(Backends&&) noexcept = default;
Backends& Backends::operator=(Backends&&) noexcept = default;

Backends Backends::linuxDesktop(DebugLog& log, Clock& clock, Queue& main, Queue& probeQueue,
                                Queue& sessionQueue) {
    Backends b;
    auto i2c = std::make_unique<LinuxDisplayI2C>(log, clock);
    LinuxDisplayI2C* channel = i2c.get();
    b.monitorChannelProblem = [channel] { return channel->status().whyUnanswered(); };
    b.i2c = std::move(i2c);
    b.displays = std::make_unique<DrmDisplayList>();
    b.camera = V4l2Camera::create();
    b.cameraAccess = V4l2CameraAccess::create(probeQueue, main);
    b.session = LinuxSessionState::createForThisSession(clock, sessionQueue, main);
    return b;
}

Backends Backends::simulatedDesk(const SettingsStore& settings, Clock& clock, Queue& main) {
    Backends b;
    b.simulatedMonitor = std::make_shared<SimulatedMonitor>(clock);
    b.i2c = std::make_unique<SimulatedDisplayI2C>(b.simulatedMonitor);
    auto displays = std::make_unique<SimulatedDisplayList>();
    displays->plug(DisplayInfo{"sim-eDP-1", true, 0x09E5, 0x0BCA, 0, "Built-in"});
    // "PEL" as an EDID manufacturer ID.
    displays->plug(DisplayInfo{"sim-DP-1", false, 0x40AC, 0x0001, 1, "Simulated Monitor"});
    b.displays = std::move(displays);
    SimulatedCameraOptions camera;
    auto place = StoredChoices::location(settings).value;
    camera.room.latitude = place.lat;
    camera.room.longitude = place.lon;
    b.camera = std::make_shared<SimulatedCamera>(clock, camera);
    b.cameraAccess = SimulatedCameraAccess::create(main);
    b.session = SimulatedSessionState::create(main);
    return b;
}

std::string Backends::liveExecutable(std::string link) {
    constexpr std::string_view deleted = " (deleted)";
    if (link.size() > deleted.size() && link.ends_with(deleted)) {
        link.resize(link.size() - deleted.size());
    }
    return link;
}

std::shared_ptr<LoginItem> Backends::loginItem(const AppPaths& paths,
                                               const AppEnvironment& environment, bool simulated,
                                               Queue& work, Queue& main) {
    if (!simulated && environment.sandbox != "none") {
        return PortalAutostart::create(paths.configDir / "start-at-login", work, main);
    }
    return XdgAutostartEntry::create(paths.autostartDir, environment.executablePath, work, main);
}

AppEnvironment Backends::environment(std::string appId, const std::string& buildDir) {
    AppEnvironment env;
    env.appId = std::move(appId);
    std::error_code error;
    env.executablePath =
        liveExecutable(std::filesystem::read_symlink("/proc/self/exe", error).string());
    env.fromBuildTree = !buildDir.empty() && env.executablePath.starts_with(buildDir + "/");
    if (std::filesystem::exists("/.flatpak-info", error)) {
        env.sandbox = "flatpak";
    } else if (std::getenv("SNAP")) {
        env.sandbox = "snap";
    }
    int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? n : 0);
    n = groups.empty() ? 0 : ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < n; ++i) {
        struct group entry {};
        struct group* found = nullptr;
        char buffer[4096];
        std::string name = std::to_string(groups[i]);
        if (::getgrgid_r(groups[i], &entry, buffer, sizeof buffer, &found) == 0 && found) {
            name = found->gr_name;
        }
        env.groups += (env.groups.empty() ? "" : " ") + name;
    }
    return env;
}

}  // namespace pellora
