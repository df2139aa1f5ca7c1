#include "app/SnapshotPolicy.h"

#include <algorithm>
#include <cmath>

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
    if (interval <= closeInterval) {
        return "10m";
    }
    return interval <= fastInterval ? "20m" : "60m";
}

double SnapshotPolicy::forgettingWeight(double secondsSinceLast) {
    if (!(secondsSinceLast > 0)) {
        return 0.0;
    }
    return -std::expm1(-secondsSinceLast / forgetSeconds);
}

double SnapshotPolicy::smoothForgetting(double previous, double reading, double secondsSinceLast) {
    double alpha = forgettingWeight(secondsSinceLast);
    return alpha * reading + (1.0 - alpha) * previous;
}

SnapshotPolicy::CloseStep SnapshotPolicy::closeStep(double now, double usualDueAt, bool present,
                                                    bool withinBudget) {
    if ((present && withinBudget) || !(now < usualDueAt)) {
        return {true, 0};
    }
    return {false, std::min(closeInterval, usualDueAt - now)};
}

double SnapshotPolicy::secondsSince(double wallThen, double monotonicThen, double wallNow,
                                    double monotonicNow) {
    return std::max(wallNow - wallThen, monotonicNow - monotonicThen);
}

std::string SnapshotPolicy::cadenceLabel(double usualInterval, bool followClosely, bool closeDue,
                                         double closeSpacing) {
    if (!followClosely || !closeDue) {
        return intervalLabel(usualInterval);
    }
    return std::to_string(std::lround(std::max(closeSpacing, closeInterval) / 60)) + "m";
}

CameraHealth SnapshotPolicy::failedReadingHealth(bool accessAuthorized, bool cameraFound) {
    if (!accessAuthorized) {
        return CameraHealth::permissionDenied;
    }
    return cameraFound ? CameraHealth::notResponding : CameraHealth::noDevice;
}

}  // namespace pellora
