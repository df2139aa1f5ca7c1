#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace pellora {

// The real clock. A time scale above 1 makes clock time run faster than real time
// (for demos): one real second then counts as `timeScale` clock seconds.
class SystemClock final : public Clock {
  public:
    explicit SystemClock(double timeScale = 1.0);

    double now() const override;
    double monotonic() const override;
    void sleep(double seconds) override;

    double timeScale() const { return scale_; }
    // The real duration that `seconds` of clock time takes.
    std::chrono::nanoseconds realDuration(double seconds) const;

  private:
    double scale_;
    double wallOrigin_;
    std::chrono::steady_clock::time_point steadyOrigin_;
};

}  // namespace pellora
