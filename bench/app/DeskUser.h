#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "HiddenPreference.h"

namespace pellora::test {
class SimulatedDesk;
}

namespace pellora::bench {

struct DeskUserOptions {
    // Local hours at the desk on weekdays, and on the evenings it happens (any day); an end
    // past 24 runs into the next day.
    double workFrom = 9, workTo = 18;
    double eveningFrom = 20, eveningTo = 23;
    double eveningChance = 0.3;
    // Arrivals and departures wander by up to this many minutes either way.
    double jitterMinutes = 15;
    // The user reaches for the buttons when the monitor is more than this off their wish...
    int tolerance = 10;
    // ...and lands within this many points of it.
    int noise = 3;
    // How often, on average, a present user looks at the monitor.
    double lookMinutes = 5;
    // The screen locks itself after this long away.
    double lockAfterMinutes = 10;
    // Seconds since the last key or pointer event while at the desk.
    double presentIdleSeconds = 30;
    std::uint32_t seed = 1;
};

// A person at the simulated desk: comes and goes on a seeded schedule, keeps the session's
// idle time and lock state as their presence makes them, and presses the monitor's buttons
// when it is far from what they want. Two users with the same options live the same days.
class DeskUser {
  public:
    struct Look {
        double error = 0;  // |monitor − wish| before any correction
        double luma = 0;   // the room's light
        double hour = 0;   // local fractional hour
        double wish = 0;
        bool corrected = false;
    };

    DeskUser(DeskUserOptions options, HiddenPreference preference);

    // Called at the start of each virtual minute: comes or goes, and keeps the session's idle
    // time and lock state as that makes them.
    void presence(test::SimulatedDesk& desk);
    // Called later in the minute: a present user, when it is time, looks at the monitor and
    // corrects it. Seconds after sitting down, so what the unlock set is what they see.
    std::optional<Look> look(test::SimulatedDesk& desk);

    bool presentAt(double wall);
    int corrections() const { return corrections_; }
    const std::vector<double>& correctionTimes() const { return correctionTimes_; }
    const HiddenPreference& preference() const { return preference_; }
    // The user's taste changes (from the next look on).
    void setPreference(const HiddenPreference& preference) { preference_ = preference; }

  private:
    struct Day {
        int key = -1;
        std::vector<std::pair<double, double>> spans;  // wall times at the desk
    };
    const Day& dayOf(double wall);

    DeskUserOptions options_;
    HiddenPreference preference_;
    std::array<Day, 3> days_;
    std::size_t nextDay_ = 0;
    std::mt19937 hands_;
    std::mt19937 eyes_;
    bool wasPresent_ = false;
    double leftAt_ = -1e18;
    double nextLook_ = 0;
    int corrections_ = 0;
    std::vector<double> correctionTimes_;
};

}  // namespace pellora::bench
