#include "app/LightTrend.h"

#include <algorithm>
#include <cmath>

namespace pellora {

void LightTrend::add(double luma, double secondsSinceLast) {
    if (std::isfinite(luma) && last_ && secondsSinceLast > 0 && secondsSinceLast < minStep) {
        // Seconds apart, two readings differ by the camera's noise, not the room's change:
        // a rate from them would lead by that noise blown up, and the next reading undo it.
        last_ = luma;
        return;
    }
    leads_ = false;
    if (!std::isfinite(luma)) {
        return;
    }
    if (!last_ || !(secondsSinceLast > 0) || secondsSinceLast > maxGap) {
        // How well each guess has done is kept: it is a matter of the room and the camera.
        rate_.reset();
        last_ = luma;
        return;
    }
    if (rate_) {
        auto error = [&](double guess) { return std::min(errorCap, std::fabs(luma - guess)); };
        rateError_ += errorWeight * (error(*last_ + *rate_ * secondsSinceLast) - rateError_);
        holdError_ += errorWeight * (error(*last_) - holdError_);
    }
    rate_ = (luma - *last_) / secondsSinceLast;
    last_ = luma;
    leads_ = rateError_ < holdError_;
}

double LightTrend::lead(double untilNext) const {
    if (!leads_ || !rate_ || !(untilNext > 0)) {
        return 0;
    }
    return std::clamp(*rate_ * untilNext / 2, -maxLead, maxLead);
}

}  // namespace pellora
