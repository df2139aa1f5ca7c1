#pragma once

#include <array>
#include <vector>

#include "store/Sample.h"

namespace pellora {

// A coarse table of the brightness seen per hour of day and room light, built from a
// monitor's whole samples log. The user's own settings count five times as much as the
// rest. A plain value: retraining replaces it as a whole.
struct BrightnessModel {
    static constexpr int hourBins = 6;   // 0-3, 4-7, 8-11, 12-15, 16-19, 20 and later
    static constexpr int lumaBins = 16;  // 16 luma steps each
    static constexpr double userSetWeight = 5.0;

    using Table = std::array<std::array<double, lumaBins>, hourBins>;

    Table sums{};     // per cell, the weighted sum of brightness
    Table weights{};  // per cell, the sum of the weights

    bool operator==(const BrightnessModel&) const = default;

    // Pure; runs on any thread. A sample with a non-finite luma has no cell and is left out.
    static BrightnessModel train(const std::vector<Sample>& samples);

    double totalWeight() const;

    // The hour's row: hour / 4, hours below 0 in the first row and from 20 in the last.
    static int row(int hour);
    // The luma's column: luma truncated towards zero, / 16, clamped to 0..15.
    static int column(double luma);
};

}  // namespace pellora
