#pragma once

#include <optional>

namespace pellora {

// When a brightness counts as the user's own choice, and whether a pending choice is
// committed as an anchor.
struct LearningPolicy {
    static constexpr double anchorDwell = 180.0;
    static constexpr double earlyCheckGuard = 179.0;
    static constexpr double presenceIdleLimit = 300.0;
    static constexpr int changeThreshold = 3;
    static constexpr int stabilityTolerance = 2;
    static constexpr double anchorWeight = 1.0;

    // Locked or idle for 300 s or more means away. An idle time no source could give does not
    // count as away: the lock state alone then decides.
    static bool isPresent(bool screenLocked, std::optional<double> idleSeconds);
    // Whether a read brightness departs from the reference the controller holds (none: it
    // always does).
    static bool departsFrom(std::optional<int> reference, int read);

    struct Judgement {
        bool userSet = false;
        bool startPending = false;
    };
    static Judgement judgeReading(std::optional<int> reference, int read, bool present,
                                  bool anchorPending);

    enum class CheckStep {
        nothing,           // no anchor pending, no monitor, or checked too early: leave it be
        dropAbsent,        // the user left during the dwell
        dropOtherMonitor,  // chosen on a monitor that is no longer the one connected
        readBack,          // read the monitor to see whether the choice stands
    };
    // `ownMonitor`: the connected monitor is the one the choice was made on.
    static CheckStep beforeRead(bool anchorPending, bool hasScope, double ageSeconds, bool present,
                                bool ownMonitor = true);
    // Commit when the monitor still shows the choice within 2.
    static bool stands(std::optional<int> read, int chosen);
};

}  // namespace pellora
