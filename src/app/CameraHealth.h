#pragma once

namespace pellora {

// What stands between the light sensor and a reading, as last found.
enum class CameraHealth { ok, needsPermission, permissionDenied, noDevice, notResponding };

inline const char* cameraHealthText(CameraHealth health) {
    switch (health) {
        case CameraHealth::ok:
            return "ok";
        case CameraHealth::needsPermission:
            return "needsPermission";
        case CameraHealth::permissionDenied:
            return "permissionDenied";
        case CameraHealth::noDevice:
            return "noDevice";
        case CameraHealth::notResponding:
            return "notResponding";
    }
    return "ok";
}

}  // namespace pellora
