#pragma once

#include <cstddef>
#include <deque>

namespace pellora {

// The camera readings of the last seven days, so that following the room closely stays
// within a daily budget on average however long the user sits at the desk, and the time the
// user spent at the desk then, to spread the budget over it. A week, not a day: a long day may
// spend what a short one left.
class ReadingBudget {
  public:
    static constexpr double window = 7 * 24 * 3600.0;

    explicit ReadingBudget(std::size_t perDay) : limit_(perDay * 7) {}

    // `now` on the wall clock, `monotonic` on the clock that never jumps; `atDesk` when
    // taken while the user was there.
    void recordReading(double now, double monotonic, bool atDesk = true);
    // The last reading recorded never switched the camera on (another program held it).
    void forgetLastReading();
    // The user was at the desk for `seconds` up to now.
    void recordPresence(double now, double monotonic, double seconds);
    // The spacing of readings at the desk that spreads what the week's budget leaves, after
    // the readings taken while away, evenly over the time the user spent at the desk in the
    // last week: a long day no longer spends the budget of the days after it.
    double spacingAtDesk(double now, double monotonic, double shortest);
    // Whether one more reading stays within the budget.
    bool allowsAnother(double now, double monotonic);
    std::size_t readingsInWindow(double now, double monotonic);

  private:
    struct Reading {
        double wall;
        double monotonic;
        bool atDesk = true;
    };
    struct Presence {
        double wall;
        double monotonic;
        double seconds;
    };
    void forgetOld(double now, double monotonic);
    static constexpr std::size_t maxPresenceRecords = 7 * 24 + 1;

    std::size_t limit_;
    std::deque<Reading> readings_;
    std::deque<Presence> presence_;
};

}  // namespace pellora
