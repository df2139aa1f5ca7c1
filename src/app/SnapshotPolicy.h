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
    // A monitor waking with the machine (or the screen) may refuse DDC/CI for its first
    // seconds: the wake's brightness read is tried again this often, this many seconds apart.
    static constexpr int wakeReadRetries = 3;
    static constexpr double wakeReadRetryDelay = 3.0;

    // The line logged when a due snapshot is skipped, or nothing when it runs.
    static std::optional<std::string> skipReason(bool hasScope, bool cameraGranted,
                                                 bool screenLocked);
    static double smooth(double previous, double reading);
    // Densest around sunrise and sunset, judged at `now`.
    static double interval(double now, const SolarCalculator& solar);
    // "10m", "20m" or "60m".
    static const char* intervalLabel(double interval);

    // Following the room closely: a reading every 600 s while the user is at the desk, the
    // cadence above while away, and a filter that forgets light older than a few minutes.
    static constexpr double closeInterval = 600.0;
    static constexpr double forgetSeconds = 120.0;
    // Adapting while following, the monitor's brightness is read this often at the desk, so
    // a change made with its buttons is measured when it is made; not this soon after a
    // reading, whose write a slow monitor may not show yet.
    static constexpr double buttonWatchInterval = 60.0;
    static constexpr double writeSettleSeconds = 10.0;
    // A brightness read unanswered this long is taken for a hung bus: a monitor's own
    // capabilities read, the longest exchange, gives up after 30 s.
    static constexpr double staleReadSeconds = 60.0;
    // Readings a day, on average over the last week, past which the close cadence gives way
    // to the usual one until older readings age out.
    static constexpr int closeDailyReadings = 50;
    // The weight of a reading taken `secondsSinceLast` after the one before: 1 − e^(−Δt/τ).
    // Readings seconds apart still smooth each other; an hour-old value counts for nothing.
    static double forgettingWeight(double secondsSinceLast);
    static double smoothForgetting(double previous, double reading, double secondsSinceLast);
    // Seconds since a moment seen on both clocks: the wall clock sees a sleep, the monotonic
    // one a clock set back, so the longer counts.
    static double secondsSince(double wallThen, double monotonicThen, double wallNow,
                               double monotonicNow);
    struct CloseStep {
        bool readNow = false;
        double checkAgainIn = 0;  // when not reading now
    };
    // At a check of the close cadence: read when the user is there and the week's budget
    // allows, or when the usual cadence is due (at `usualDueAt`); else look again when it
    // falls due, and at least every 600 s, so a return is seen within ten minutes.
    static CloseStep closeStep(double now, double usualDueAt, bool present, bool withinBudget);
    // The menu's cadence: the close spacing in minutes ("10m") while following the room and
    // the close cadence reads (the user there, the week's budget not spent), else the usual.
    static std::string cadenceLabel(double usualInterval, bool followClosely, bool closeDue,
                                    double closeSpacing = closeInterval);
    static CameraHealth failedReadingHealth(bool accessAuthorized, bool cameraFound);
};

}  // namespace pellora
