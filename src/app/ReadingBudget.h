#pragma once

#include <cstddef>
#include <deque>

namespace pellora {

// The camera readings of the last seven days, so that following the room closely stays
// within a daily budget on average however long the user sits at the desk. A week, not a
// day: a long day may spend what a short one left, so the budget rarely binds at the end of
// a working day, when the light changes most.
class ReadingBudget {
  public:
    static constexpr double window = 7 * 24 * 3600.0;

    explicit ReadingBudget(std::size_t perDay) : limit_(perDay * 7) {}

    // `now` on the wall clock, `monotonic` on the clock that never jumps.
    void recordReading(double now, double monotonic);
    // Whether one more reading stays within the budget.
    bool allowsAnother(double now, double monotonic);
    std::size_t readingsInWindow(double now, double monotonic);

  private:
    struct Reading {
        double wall;
        double monotonic;
    };
    void forgetOld(double now, double monotonic);

    std::size_t limit_;
    std::deque<Reading> readings_;
};

}  // namespace pellora
