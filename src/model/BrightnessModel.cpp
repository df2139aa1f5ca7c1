#include "model/BrightnessModel.h"

#include <algorithm>
#include <cmath>

namespace pellora {

BrightnessModel BrightnessModel::train(const std::vector<Sample>& samples) {
    BrightnessModel model;
    for (const Sample& sample : samples) {
        if (!std::isfinite(sample.luma)) {
            continue;
        }
        const int r = row(sample.hour);
        const int c = column(sample.luma);
        const double w = sample.userSet ? userSetWeight : 1.0;
        model.sums[r][c] += w * sample.brightness;
        model.weights[r][c] += w;
    }
    return model;
}

double BrightnessModel::totalWeight() const {
    double total = 0;
    for (const auto& cells : weights) {
        for (double w : cells) {
            total += w;
        }
    }
    return total;
}

int BrightnessModel::row(int hour) {
    return std::clamp(hour / 4, 0, hourBins - 1);
}

int BrightnessModel::column(double luma) {
    // Clamped before the conversion: a double beyond int's range does not convert.
    if (!(luma > 0)) {
        return 0;
    }
    const int whole = static_cast<int>(std::min(luma, 255.0));
    return std::min(whole / 16, lumaBins - 1);
}

}  // namespace pellora
