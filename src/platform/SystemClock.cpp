#include "platform/SystemClock.h"

#include <algorithm>
#include <thread>

namespace pellora {

SystemClock::SystemClock(double timeScale)
    : scale_(timeScale > 0 ? timeScale : 1.0),
      wallOrigin_(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                      .count()),
      steadyOrigin_(std::chrono::steady_clock::now()) {}

double SystemClock::now() const {
    if (scale_ == 1.0) {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    return wallOrigin_ + monotonic();
}

double SystemClock::monotonic() const {
    auto elapsed = std::chrono::steady_clock::now() - steadyOrigin_;
    return std::chrono::duration<double>(elapsed).count() * scale_;
}

void SystemClock::sleep(double seconds) {
    if (seconds > 0) {
        std::this_thread::sleep_for(realDuration(seconds));
    }
}

std::chrono::nanoseconds SystemClock::realDuration(double seconds) const {
    double real = std::max(0.0, seconds) / scale_;
    // Clamp so a huge delay cannot overflow the nanosecond count.
    real = std::min(real, 1e9);
    return std::chrono::nanoseconds(static_cast<long long>(real * 1e9));
}

}  // namespace pellora
