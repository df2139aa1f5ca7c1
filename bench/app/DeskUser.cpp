#include "DeskUser.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "SimulatedDesk.h"

namespace pellora::bench {

DeskUser::DeskUser(DeskUserOptions options, HiddenPreference preference)
    : options_(options),
      preference_(preference),
      hands_(options.seed * 2654435761u + 7),
      eyes_(options.seed * 40503u + 11) {}

const DeskUser::Day& DeskUser::dayOf(double wall) {
    std::time_t t = static_cast<std::time_t>(std::floor(wall));
    std::tm local{};
    localtime_r(&t, &local);
    int key = (local.tm_year + 1900) * 400 + local.tm_yday;
    for (const Day& known : days_) {
        if (known.key == key) {
            return known;
        }
    }
    Day& day = days_[nextDay_];
    nextDay_ = (nextDay_ + 1) % days_.size();
    day = Day{key, {}};
    double midnight = wall - (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec);
    // Each day draws from its own stream, so the schedule does not depend on what the user
    // did with their hands.
    std::mt19937 dice(options_.seed * 1000003u ^ static_cast<std::uint32_t>(key));
    std::uniform_real_distribution<double> jitter(-options_.jitterMinutes * 60,
                                                  options_.jitterMinutes * 60);
    std::uniform_real_distribution<double> chance(0, 1);
    auto span = [&](double from, double to) {
        double a = midnight + from * 3600 + jitter(dice);
        double b = midnight + to * 3600 + jitter(dice);
        if (b > a) {
            day.spans.emplace_back(a, b);
        }
    };
    bool weekday = local.tm_wday >= 1 && local.tm_wday <= 5;
    if (weekday) {
        span(options_.workFrom, options_.workTo);
    }
    if (chance(dice) < options_.eveningChance) {
        span(options_.eveningFrom, options_.eveningTo);
    }
    return day;
}

bool DeskUser::presentAt(double wall) {
    // Yesterday's spans too: a night shift runs past midnight.
    for (double day : {wall, wall - 86400}) {
        const auto& spans = dayOf(day).spans;
        if (std::any_of(spans.begin(), spans.end(),
                        [wall](const auto& s) { return wall >= s.first && wall < s.second; })) {
            return true;
        }
    }
    return false;
}

void DeskUser::presence(test::SimulatedDesk& desk) {
    double now = desk.env.clock.now();
    bool present = presentAt(now);
    auto& session = *desk.session;
    if (!present) {
        if (wasPresent_) {
            leftAt_ = now;
        }
        wasPresent_ = false;
        double away = now - leftAt_;
        session.setIdleSeconds(away);
        if (away >= options_.lockAfterMinutes * 60 && !session.isScreenLocked()) {
            session.setLocked(true);
        }
        return;
    }
    if (!wasPresent_) {
        wasPresent_ = true;
        nextLook_ = now;
        if (session.isScreenLocked()) {
            session.setLocked(false);
        }
    }
    session.setIdleSeconds(options_.presentIdleSeconds);
}

std::optional<DeskUser::Look> DeskUser::look(test::SimulatedDesk& desk) {
    double now = desk.env.clock.now();
    if (!wasPresent_ || now < nextLook_) {
        return std::nullopt;
    }
    auto& session = *desk.session;
    // Glances come about every `lookMinutes`, whole minutes apart but not on a fixed beat, so
    // they fall at any phase of Pellora's schedule.
    double mean = options_.lookMinutes;
    double minutes =
        std::round(std::uniform_real_distribution<double>(0.5 * mean, 1.5 * mean)(eyes_));
    nextLook_ = now + std::max(1.0, minutes) * 60;

    std::time_t t = static_cast<std::time_t>(std::floor(now));
    std::tm local{};
    localtime_r(&t, &local);
    Look look;
    look.hour = local.tm_hour + local.tm_min / 60.0;
    look.luma = desk.camera.sceneLuma();
    look.wish = preference_.at(look.luma, look.hour);
    int shown = desk.monitor->vcpRegister(0x10)->current;
    look.error = std::fabs(shown - look.wish);
    if (look.error > options_.tolerance) {
        int aim = static_cast<int>(std::lround(look.wish)) +
                  std::uniform_int_distribution<int>(-options_.noise, options_.noise)(hands_);
        aim = std::clamp(aim, 0, 100);
        if (aim != shown) {
            desk.monitor->pressButton(
                aim > shown ? MonitorButton::brightnessUp : MonitorButton::brightnessDown,
                std::abs(aim - shown));
        }
        session.setIdleSeconds(0);
        look.corrected = true;
        ++corrections_;
        correctionTimes_.push_back(now);
    }
    return look;
}

}  // namespace pellora::bench
