// A month of the controller on the simulated desk, faults thrown at it from a fixed seed: DDC,
// camera, unplugs, locks, wall-clock jumps, clicks, button presses, and adapting for a while.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

#include "ScopedLocalZone.h"
#include "SimulatedDesk.h"
#include "app/LocalTime.h"

namespace pellora::test {
namespace {

// Counts the snapshot items pending at once, told apart by their delays (1 s after a monitor
// appears, 2 s after start, then 20 or 60 minutes); all else passes through.
class SnapshotItemWatch final : public Queue {
  public:
    explicit SnapshotItemWatch(Queue& inner) : inner_(inner) {}

    // Snapshot items neither run nor cancelled.
    int pending() {
        std::erase_if(items_, [](const auto& i) { return *i.second || i.first->isCancelled(); });
        return static_cast<int>(items_.size());
    }
    int mostPending = 0;

    const std::string& label() const override { return inner_.label(); }
    void post(Task task) override { inner_.post(std::move(task)); }
    WorkItemPtr postAfter(double seconds, Task task) override {
        if (seconds != 1.0 && seconds != 2.0 && seconds != 1200.0 && seconds != 3600.0) {
            return inner_.postAfter(seconds, std::move(task));
        }
        auto ran = std::make_shared<bool>(false);
        auto item = inner_.postAfter(seconds, [ran, task = std::move(task)] {
            *ran = true;
            task();
        });
        items_.emplace_back(item, ran);
        mostPending = std::max(mostPending, pending());
        return item;
    }
    void sync(Task task) override { inner_.sync(std::move(task)); }
    bool isCurrent() const override { return inner_.isCurrent(); }

  private:
    Queue& inner_;
    std::vector<std::pair<WorkItemPtr, std::shared_ptr<bool>>> items_;
};

// A month; ten days under ThreadSanitizer, which has nothing to watch here (every queue of the
// desk runs on the test's thread) but makes each simulated day cost seconds.
constexpr int soakDays() {
#if defined(__SANITIZE_THREAD__)
    return 10;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    return 10;
#endif
#endif
    return 30;
}

std::vector<std::uint8_t> evenPlane(double luma) {
    return std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(luma));
}

TEST(SoakTest, AMonthOfFaultsKeepsOneChainAndAnHonestLog) {
    // New York's rules: the month crosses the end of daylight saving time.
    ScopedLocalZone zone{"EST5EDT,M3.2.0,M11.1.0"};
    SnapshotItemWatch* watch = nullptr;
    SimulatedDesk d(SimulatedDesk::Options{
        .startWall = 1729396800.0,  // 2024-10-20 04:00 UTC, midnight in New York
        .dumpPeriod = 7000.0,
        .wrapMain = [&watch](Queue& main) {
            auto w = std::make_unique<SnapshotItemWatch>(main);
            watch = w.get();
            return w;
        }});
    // Frames of 8×8 pixels keep a month of readings cheap; the room's light sets them hourly.
    RoomLight room;
    d.camera.setScriptedPlane(8, 8, 8, evenPlane(room.lumaAt(d.env.clock.now())));
    d.launch();

    std::mt19937 random(20241020);
    auto chance = [&](double p) {
        return std::uniform_real_distribution<double>(0, 1)(random) < p;
    };
    auto between = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); };
    const SimulatedMonitorFault ddcFaults[] = {
        SimulatedMonitorFault::noReply, SimulatedMonitorFault::nullReply,
        SimulatedMonitorFault::garbage, SimulatedMonitorFault::floatingBus,
        SimulatedMonitorFault::writeNak};
    struct {
        int ddcFaults = 0, cameraOutages = 0, unplugs = 0, locks = 0, jumps = 0, badDumps = 0;
    } n;
    int replugAt = -1, unlockAt = -1, cameraBackAt = -1;
    const int minutes = soakDays() * 24 * 60;
    // Adapting from 40% to 85% of the run, switched from the menu once its row allows.
    const int adaptFrom = minutes * 2 / 5, adaptUntil = minutes * 17 / 20;
    int minutesAdapting = 0;

    for (int m = 0; m < minutes; ++m) {
        if (m == replugAt) {
            d.plug(SimulatedDesk::monitorA, d.monitor);
        }
        if (m == unlockAt) {
            d.session->setLocked(false);
        }
        if (m == cameraBackAt) {
            d.camera.setFault(SimulatedCameraFault::none);
        }
        if (m % 60 == 0) {
            d.camera.setScriptedPlane(8, 8, 8, evenPlane(room.lumaAt(d.env.clock.now())));
            // At the desk in working hours, unless the screen is locked.
            int hour = localtime::hourOfDay(d.env.clock.now());
            bool present = !d.session->isScreenLocked() && hour >= 9 && hour < 18;
            d.session->setIdleSeconds(present ? 20 : 4000);
            if (chance(0.08)) {
                ++n.ddcFaults;
                d.monitor->setFault(ddcFaults[between(0, 4)], between(1, 4));
            }
            if (cameraBackAt < m && chance(0.03)) {
                ++n.cameraOutages;
                d.camera.setFault(SimulatedCameraFault::noFrames);
                cameraBackAt = m + between(60, 240);
            }
            if (replugAt < m && chance(0.02)) {
                ++n.unplugs;
                d.unplug(SimulatedDesk::monitorA);
                replugAt = m + between(1, 90);
            }
            if (unlockAt < m && chance(0.06)) {
                ++n.locks;
                d.session->setIdleSeconds(4000);
                d.session->setLocked(true);
                unlockAt = m + between(10, 240);
            }
            if (chance(0.01)) {
                ++n.jumps;
                double hours = between(1, 10) * 0.5 * (chance(0.5) ? 1 : -1);
                d.env.clock.setWall(d.env.clock.now() + hours * 3600);
            }
            if (chance(0.03)) {
                d.app->menu().activate(MenuItemId::snapshot);
                if (chance(0.5)) {
                    d.app->menu().activate(MenuItemId::snapshot);  // a double click
                }
            }
            if (chance(0.05)) {
                d.monitor->pressButton(
                    chance(0.5) ? MonitorButton::brightnessUp : MonitorButton::brightnessDown,
                    between(1, 20));
            }
            if (chance(0.02)) {
                int value = between(0, 100);
                d.brightness->setBrightness(value);
                d.app->userDidAdjustBrightness(value);
            }
        }
        Mode wanted = m >= adaptFrom && m < adaptUntil ? Mode::adapting : Mode::learning;
        if (m % 60 == 0 && d.app->mode() != wanted) {
            d.app->menu().activate(MenuItemId::toggleMode);
        }
        minutesAdapting += d.app->mode() == Mode::adapting;
        if (m % 1440 == 0) {
            auto dump = nlohmann::json::parse(d.dumpText(), nullptr, false);
            n.badDumps += dump.is_discarded() || !dump.is_object() || !dump.contains("mode");
        }
        d.advance(60);
        ASSERT_LE(watch->pending(), 1) << "minute " << m;
    }
    if (replugAt >= minutes) {
        d.plug(SimulatedDesk::monitorA, d.monitor);
    }
    d.advance(600);

    EXPECT_EQ(watch->mostPending, 1);
    EXPECT_GT(minutesAdapting, minutes / 4);
    EXPECT_EQ(d.app->mode(), Mode::learning);
    EXPECT_EQ(n.badDumps, 0);
    EXPECT_GT(n.ddcFaults * n.cameraOutages * n.unplugs * n.locks * n.jumps, 0);

    // Every reading ends in exactly one of these, and the logged ones are the file's samples.
    auto lines = d.env.systemLog.lines();
    auto count = [&](const char* text) {
        return std::count_if(lines.begin(), lines.end(), [text](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    const auto readings = count("Snapshot OK: luma=");
    const auto logged = count("Sample logged: ");
    const auto nil = count("DDC brightness read returned nil — sample NOT logged");
    const auto moved = count("Scope changed mid-read — sample NOT logged");
    const auto noScope = count("recordSample skipped (no scope)");
    EXPECT_EQ(readings, logged + nil + moved + noScope);
    EXPECT_GT(nil, 0);
    EXPECT_GT(count("Snapshot FAILED (nil luma)"), 0);

    auto samples = d.samples();
    ASSERT_EQ(static_cast<long>(samples.size()), logged);
    std::size_t next = 0;
    for (const auto& line : lines) {
        if (line.find("Sample logged: ") == std::string::npos) {
            continue;
        }
        const Sample& s = samples[next++];
        char expected[96];
        std::snprintf(expected, sizeof expected,
                      "Sample logged: luma=%.1f brightness=%d userSet=%s", s.luma, s.brightness,
                      s.userSet ? "true" : "false");
        EXPECT_NE(line.find(expected), std::string::npos) << line;
    }

    std::printf("[   SOAK   ] %ld readings, %ld samples, %ld reads without a value, %d days\n",
                readings, logged, nil, soakDays());
}

}  // namespace
}  // namespace pellora::test
