#pragma once

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace pellora::bench {

// The brightness a simulated user wants for the room's light: one straight line by day and
// another by night (flat beyond their ends), blended over the evening. It is what the user
// steers the monitor to, and what the controller never sees.
struct HiddenPreference {
    struct Line {
        double luma0 = 0, bri0 = 0, luma1 = 0, bri1 = 0;

        double at(double luma) const {
            if (luma1 <= luma0) {
                return bri0;
            }
            double f = std::clamp((luma - luma0) / (luma1 - luma0), 0.0, 1.0);
            return bri0 + f * (bri1 - bri0);
        }
        // "L0:B0,L1:B1"
        static std::optional<Line> parse(const std::string& text) {
            Line line;
            char tail = 0;
            if (std::sscanf(text.c_str(), "%lf:%lf,%lf:%lf%c", &line.luma0, &line.bri0, &line.luma1,
                            &line.bri1, &tail) != 4) {
                return std::nullopt;
            }
            return line;
        }
    };

    // Dimmer than the default map (20 at luma 20 to 100 at luma 180) by day, far dimmer at night.
    Line day{10, 18, 150, 70};
    Line night{10, 8, 90, 35};
    // The night line takes over between these local hours and holds until 7:00.
    double nightFrom = 20, nightFull = 22;

    double nightWeight(double hour) const {
        if (hour < 7) {
            return 1;
        }
        if (nightFull <= nightFrom) {
            return hour >= nightFrom ? 1 : 0;
        }
        return std::clamp((hour - nightFrom) / (nightFull - nightFrom), 0.0, 1.0);
    }
    double at(double luma, double hour) const {
        double w = nightWeight(hour);
        return std::clamp((1 - w) * day.at(luma) + w * night.at(luma), 0.0, 100.0);
    }
};

}  // namespace pellora::bench
