#pragma once

#include <optional>

namespace pellora {

// Where the room's light is heading, from the last readings. Between two readings the room
// keeps moving (a cloud passing, the evening coming on), so the brightness written for the
// last reading is stale by the time the user looks. Each reading is judged against two guesses
// made at the one before: the light stays where it was, or it keeps the last step's rate.
// While the rate has been the nearer guess lately, the brightness is written for the light
// expected half-way to the next reading; on a noisy camera or a room that turns back and forth
// the rate loses and nothing is led.
class LightTrend {
  public:
    static constexpr double maxLead = 40;   // luma either way
    static constexpr double maxGap = 1800;  // seconds: an older reading tells no rate
    static constexpr double minStep = 60;   // seconds: a closer one tells none either
    static constexpr double errorCap = 60;  // luma: one wild reading weighs no more
    static constexpr double errorWeight = 0.2;

    // A reading `secondsSinceLast` after the one before (infinite for the first).
    void add(double luma, double secondsSinceLast);
    // The luma to add to the last reading's for the brightness written now, with the next
    // reading `untilNext` seconds away.
    double lead(double untilNext) const;
    void reset() { *this = LightTrend{}; }

  private:
    std::optional<double> last_;
    std::optional<double> rate_;  // luma a second, over the last step
    double rateError_ = 0;
    double holdError_ = 0;
    bool leads_ = false;
};

}  // namespace pellora
