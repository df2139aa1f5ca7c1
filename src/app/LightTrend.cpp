#include "app/LightTrend.h"

#include <algorithm>
#include <cmath>

namespace pellora {

void LightTrend::add(double luma, double secondsSinceLast) {
    lead_ = 0;
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
    if (rateError_ < holdError_) {
        lead_ = std::clamp(*rate_ * halfStep, -maxLead, maxLead);
    }
}

}  // namespace pellora
