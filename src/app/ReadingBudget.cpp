#include "app/ReadingBudget.h"

#include "app/SnapshotPolicy.h"

namespace pellora {

void ReadingBudget::recordReading(double now, double monotonic) {
    forgetOld(now, monotonic);
    readings_.push_back({now, monotonic});
    // Bounded whatever the clocks do: older entries no longer decide anything.
    while (readings_.size() > limit_ + 1) {
        readings_.pop_front();
    }
}

bool ReadingBudget::allowsAnother(double now, double monotonic) {
    return readingsInWindow(now, monotonic) < limit_;
}

std::size_t ReadingBudget::readingsInWindow(double now, double monotonic) {
    forgetOld(now, monotonic);
    return readings_.size();
}

void ReadingBudget::forgetOld(double now, double monotonic) {
    auto aged = [&](const Reading& r) {
        return SnapshotPolicy::secondsSince(r.wall, r.monotonic, now, monotonic) >= window;
    };
    while (!readings_.empty() && aged(readings_.front())) {
        readings_.pop_front();
    }
}

}  // namespace pellora
