#include "app/LearningPolicy.h"

#include <cstdlib>

namespace pellora {

bool LearningPolicy::isPresent(bool screenLocked, std::optional<double> idleSeconds) {
    if (screenLocked) {
        return false;
    }
    return !idleSeconds || !(*idleSeconds >= presenceIdleLimit);
}

bool LearningPolicy::departsFrom(std::optional<int> reference, int read) {
    return !reference || std::abs(read - *reference) >= changeThreshold;
}

LearningPolicy::Judgement LearningPolicy::judgeReading(std::optional<int> reference, int read,
                                                       bool present, bool anchorPending) {
    if (!departsFrom(reference, read) || !present) {
        return {};
    }
    return {true, !anchorPending};
}

LearningPolicy::CheckStep LearningPolicy::beforeRead(bool anchorPending, bool hasScope,
                                                     double ageSeconds, bool present,
                                                     bool ownMonitor) {
    if (!anchorPending || !hasScope || ageSeconds < earlyCheckGuard) {
        return CheckStep::nothing;
    }
    if (!ownMonitor) {
        return CheckStep::dropOtherMonitor;
    }
    return present ? CheckStep::readBack : CheckStep::dropAbsent;
}

bool LearningPolicy::stands(std::optional<int> read, int chosen) {
    return read && std::abs(*read - chosen) <= stabilityTolerance;
}

}  // namespace pellora
