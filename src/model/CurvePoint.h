#pragma once

namespace pellora {

// A point of a brightness curve: the brightness for a room light. The unit of exchange
// between the stored curve, the predicted curve and the curve editor.
struct CurvePoint {
    double luma = 0;        // room light, 0 to 255
    double brightness = 0;  // brightness, 0 to 100
    bool operator==(const CurvePoint&) const = default;
};

}  // namespace pellora
