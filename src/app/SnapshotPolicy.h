#pragma once

#include <optional>
#include <string>

#include "app/CameraHealth.h"

namespace pellora {

struct SolarCalculator;

// The snapshot cycle's decisions: whether a due snapshot runs, how a reading is smoothed,
// when the next one comes, and what a failed reading says about the camera.
struct SnapshotPolicy {
    static constexpr double emaAlpha = 0.25;
    static constexpr double initialLuma = 128.0;
    static constexpr double fastInterval = 1200.0;
    static constexpr double slowInterval = 3600.0;
    static constexpr double solarWindow = 3600.0;
    static constexpr double sensorTimeout = 3.5;
    static constexpr double firstDelay = 2.0;
    static constexpr double afterMonitorChangeDelay = 1.0;

    // The line logged when a due snapshot is skipped, or nothing when it runs.
    static std::optional<std::string> skipReason(bool hasScope, bool cameraGranted,
                                                 bool screenLocked);
    static double smooth(double previous, double reading);
    // Densest around sunrise and sunset, judged at `now`.
    static double interval(double now, const SolarCalculator& solar);
    // "20m" or "60m".
    static const char* intervalLabel(double interval);
    static CameraHealth failedReadingHealth(bool accessAuthorized, bool cameraFound);
};

}  // namespace pellora
