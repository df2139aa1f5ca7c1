#include "app/ApplyPolicy.h"

#include <cmath>
#include <cstdlib>

#include "app/StatusMenu.h"
#include "model/AnchorStore.h"

namespace pellora {

ApplyPolicy::Decision ApplyPolicy::decide(const Inputs& in) {
    Decision d;
    if (!in.adapting) {
        d.brightnessRow = "Brightness: (learning)";
        return d;
    }
    if (in.now < in.manualOverrideUntil) {
        d.brightnessRow = pauseRow(in.manualOverrideUntil - in.now);
        return d;
    }
    int target = in.predicted.value_or(defaultMap(in.smoothedLuma));
    d.brightnessRow = "Brightness → " + std::to_string(target);
    d.glyph = glyphFor(target);
    if (in.lastApplied && std::abs(target - *in.lastApplied) < rewriteThreshold) {
        return d;
    }
    d.write = target;
    d.delta = in.lastApplied ? target - *in.lastApplied : 0;
    return d;
}

int ApplyPolicy::defaultMap(double luma) {
    // A reading that is no number maps to the floor, like the dark room it most likely was.
    return static_cast<int>(std::round(AnchorStore::baseBrightness(std::isnan(luma) ? 0 : luma)));
}

const char* ApplyPolicy::glyphFor(int target) {
    if (target < 40) {
        return StatusMenu::darkGlyph;
    }
    if (target < 70) {
        return StatusMenu::midGlyph;
    }
    return StatusMenu::sunGlyph;
}

std::string ApplyPolicy::pauseRow(double secondsLeft) {
    long long whole = std::isfinite(secondsLeft)
                          ? static_cast<long long>(std::trunc(std::fmin(secondsLeft, 1e15)))
                          : 0;
    return "Paused — resumes in " + std::to_string(whole) + "s";
}

}  // namespace pellora
