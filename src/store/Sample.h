#pragma once

namespace pellora {

// One logged measurement of the snapshot cycle.
struct Sample {
    double t = 0;          // seconds since 1970-01-01 00:00 UTC
    double luma = 0;       // room light, 0 to 255
    int brightness = 0;    // monitor brightness read at that time, 0 to 100
    int hour = 0;          // local hour of day, 0 to 23
    bool userSet = false;  // the brightness had been changed from outside the application
    bool operator==(const Sample&) const = default;
};

}  // namespace pellora
