#include "app/ReadingBudget.h"

#include <algorithm>
#include <cmath>

#include "app/SnapshotPolicy.h"

namespace pellora {

void ReadingBudget::recordReading(double now, double monotonic, bool atDesk) {
    forgetOld(now, monotonic);
    readings_.push_back({now, monotonic, atDesk});
    // Bounded whatever the clocks do: older entries no longer decide anything.
    while (readings_.size() > limit_ + 1) {
        readings_.pop_front();
    }
}

void ReadingBudget::forgetLastReading() {
    if (!readings_.empty()) {
        readings_.pop_back();
    }
}

bool ReadingBudget::allowsAnother(double now, double monotonic) {
    return readingsInWindow(now, monotonic) < limit_;
}

std::size_t ReadingBudget::readingsInWindow(double now, double monotonic) {
    forgetOld(now, monotonic);
    return readings_.size();
}

void ReadingBudget::recordPresence(double now, double monotonic, double seconds) {
    forgetOld(now, monotonic);
    if (!(seconds > 0) || !std::isfinite(seconds)) {
        return;
    }
    // An hour to a record keeps a week of them small; it ages out with its first moment.
    if (!presence_.empty() &&
        SnapshotPolicy::secondsSince(presence_.back().wall, presence_.back().monotonic, now,
                                     monotonic) < 3600) {
        presence_.back().seconds += seconds;
    } else {
        presence_.push_back({now, monotonic, seconds});
    }
    while (presence_.size() > maxPresenceRecords) {
        presence_.pop_front();
    }
}

double ReadingBudget::spacingAtDesk(double now, double monotonic, double shortest) {
    forgetOld(now, monotonic);
    double seconds = 0;
    for (const auto& p : presence_) {
        seconds += p.seconds;
    }
    auto away = static_cast<std::size_t>(
        std::count_if(readings_.begin(), readings_.end(), [](const auto& r) { return !r.atDesk; }));
    double left = away < limit_ ? static_cast<double>(limit_ - away) : 1.0;
    return std::max(shortest, seconds / left);
}

void ReadingBudget::forgetOld(double now, double monotonic) {
    auto aged = [&](const auto& r) {
        return SnapshotPolicy::secondsSince(r.wall, r.monotonic, now, monotonic) >= window;
    };
    while (!readings_.empty() && aged(readings_.front())) {
        readings_.pop_front();
    }
    while (!presence_.empty() && aged(presence_.front())) {
        presence_.pop_front();
    }
}

}  // namespace pellora
