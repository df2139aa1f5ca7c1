#pragma once

namespace pellora {

// Every read of the time and every wait goes through one of these, so tests can run
// days of schedule on virtual time.
class Clock {
  public:
    virtual ~Clock() = default;

    // Wall time: seconds since 1970-01-01 00:00 UTC.
    virtual double now() const = 0;
    // Seconds on a clock that never jumps; its origin is arbitrary.
    virtual double monotonic() const = 0;
    // Blocks the calling queue for the given number of (clock) seconds.
    virtual void sleep(double seconds) = 0;
};

}  // namespace pellora
