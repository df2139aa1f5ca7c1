#pragma once

#include <optional>

#include "display/Monitor.h"

namespace pellora {

// A brightness the user chose, waiting to show it stands before it becomes an anchor.
struct PendingAnchor {
    int brightness = 0;
    double luma = 0;   // smoothed room light when the choice was seen
    double hour = 0;   // fractional local hour when it was seen
    double since = 0;  // wall time when it was seen
    // The monitor it was chosen on: only that monitor's curve may take it.
    std::optional<Monitor> monitor;
    bool operator==(const PendingAnchor&) const = default;
};

}  // namespace pellora
