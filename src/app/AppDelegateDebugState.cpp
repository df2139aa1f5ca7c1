// The controller's state as the debug dump writes it.

#include "app/AppDelegate.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "app/StoredChoices.h"
#include "display/MonitorCapabilities.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "model/BrightnessModel.h"
#include "model/CurveStore.h"
#include "platform/CameraAccess.h"
#include "sensor/LightSensor.h"

namespace pellora {

nlohmann::json AppDelegate::debugState() const {
    using nlohmann::json;
    auto status = s_.cameraAccess.lastKnownStatus().value_or(CameraAuthorization::notDetermined);
    json state = {
        {"cameraAuthorizationStatus", authStatusString(static_cast<int>(status))},
        {"cameraGranted", cameraGranted_},
        {"cameraHealth", cameraHealthText(cameraHealth_)},
        // As last looked for: looking opens device nodes, which the main thread never waits on.
        {"sensorDeviceConnected", cameraFound_.value_or(false)},
        {"sensorDevice", s_.sensor->selectedDeviceName()},
        {"sensorDeviceType", s_.sensor->selectedDeviceTypeRaw()},
        {"mode", modeText(mode_)},
        {"smoothedLuma", smoothedLuma_},
        {"lastSampleAt", lastSampleAt_},
        {"manualOverrideUntil", manualOverrideUntil_},
    };
    if (lastAppliedBrightness_) {
        state["lastAppliedBrightness"] = *lastAppliedBrightness_;
    }
    if (nextSnapshotDue_ == distantFuture) {
        state["nextSnapshotAt"] = -1;
    } else {
        // Whole seconds: the two clocks' difference wobbles in its last bits, and a state that
        // differs at every look would be handed to the writer at every turn of the event loop.
        state["nextSnapshotAt"] = std::round(nextSnapshotAt());
    }
    auto location = StoredChoices::location(s_.settings).value;
    state["location"] = {{"lat", location.lat}, {"lon", location.lon}};
    if (!scope_) {
        state["monitor"] = nullptr;
        return state;
    }
    json monitor = {
        {"id", scope_->monitor().identifier()},
        {"name", s_.registry->friendlyName(scope_->monitor())},
        {"sampleCount", sampleCount_.value_or(0)},
        {"curvePoints", scope_->curve().points().size()},
        {"modelWeight", scope_->model().totalWeight()},
    };
    if (const auto& caps = scope_->capabilities()) {
        auto listed = [&](std::uint8_t code) { return caps->vcps.count(code) > 0; };
        monitor["capabilities"] = {
            {"model", caps->model.value_or("")},
            {"vcpCount", caps->vcps.size()},
            {"supportsRGBGain", listed(0x16) && listed(0x18) && listed(0x1A)},
        };
    }
    state["monitor"] = std::move(monitor);
    return state;
}

}  // namespace pellora
