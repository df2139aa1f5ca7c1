#include "app/SnapshotPolicy.h"

#include "solar/SolarCalculator.h"

namespace pellora {

std::optional<std::string> SnapshotPolicy::skipReason(bool hasScope, bool cameraGranted,
                                                      bool screenLocked) {
    if (!hasScope) {
        return "takeSnapshot skipped (no scope)";
    }
    if (!cameraGranted) {
        return "takeSnapshot skipped (camera not granted)";
    }
    if (screenLocked) {
        return "takeSnapshot skipped (screen locked)";
    }
    return std::nullopt;
}

double SnapshotPolicy::smooth(double previous, double reading) {
    return emaAlpha * reading + (1.0 - emaAlpha) * previous;
}

double SnapshotPolicy::interval(double now, const SolarCalculator& solar) {
    return solar.isInSolarWindow(now, solarWindow) ? fastInterval : slowInterval;
}

const char* SnapshotPolicy::intervalLabel(double interval) {
    return interval <= fastInterval ? "20m" : "60m";
}

CameraHealth SnapshotPolicy::failedReadingHealth(bool accessAuthorized, bool cameraFound) {
    if (!accessAuthorized) {
        return CameraHealth::permissionDenied;
    }
    return cameraFound ? CameraHealth::notResponding : CameraHealth::noDevice;
}

}  // namespace pellora
