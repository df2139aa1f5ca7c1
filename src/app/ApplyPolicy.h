#pragma once

#include <optional>
#include <string>

namespace pellora {

// What the adapting step shows and whether it writes, from the state it finds.
struct ApplyPolicy {
    static constexpr int rewriteThreshold = 3;
    static constexpr double manualOverridePause = 300.0;

    struct Inputs {
        bool adapting = false;
        double now = 0;
        double manualOverrideUntil = 0;
        std::optional<int> predicted;  // the learnt curve's target, when there is one
        double smoothedLuma = 0;
        std::optional<int> lastApplied;
    };
    struct Decision {
        std::string brightnessRow;
        std::optional<std::string> glyph;  // the target's band, when a target was chosen
        std::optional<int> write;          // the value to write, when one is due
        int delta = 0;                     // for the indicator: write minus the last applied
    };

    static Decision decide(const Inputs& in);
    // The curve's base line rounded: 20 up to luma 20, 100 from luma 180, linear between,
    // halves away from zero.
    static int defaultMap(double luma);
    static const char* glyphFor(int target);
    // "Paused — resumes in 299s": seconds truncated towards zero.
    static std::string pauseRow(double secondsLeft);
};

}  // namespace pellora
