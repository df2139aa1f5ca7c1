// What the controller costs the main thread, and what it asks of the monitor, on the
// simulated desk (virtual time, so camera and DDC waits cost nothing here).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "SampleHistory.h"
#include "ScopedLocalZone.h"
#include "SimulatedDesk.h"
#include "TimedQueue.h"
#include "model/AnchorStore.h"

namespace pellora::bench {
namespace {

using test::SimulatedDesk;

// A desk whose main queue is timed; the debug dump stays out of the way (its own timer,
// not the cycle's work).
struct TimedDesk {
    test::ScopedLocalZone zone{"UTC0"};
    TimedQueue* main = nullptr;
    SimulatedDesk desk{SimulatedDesk::Options{.dumpPeriod = 1e7, .wrapMain = [this](Queue& inner) {
                                                  auto timed = std::make_unique<TimedQueue>(inner);
                                                  main = timed.get();
                                                  return timed;
                                              }}};
};

// Ten anchors of both periods, so adapting predicts from a full list.
void storeFullAnchorList(SimulatedDesk& desk) {
    std::vector<Anchor> anchors;
    for (int i = 0; i < 10; ++i) {
        anchors.push_back({i * 25.0 + 3, 20.0 + i * 8, i % 3 == 0 ? 23.0 : 13.0,
                           desk.env.clock.now() - i * 86400.0, 1.0 + i % 4});
    }
    desk.env.settings->set(desk.keyPrefix() + "anchorsV1", Bytes{*AnchorStore::encode(anchors)});
}

std::size_t countLines(SimulatedDesk& desk, const std::string& text) {
    std::size_t n = 0;
    for (const auto& line : desk.env.systemLog.lines()) {
        n += line.find(text) != std::string::npos;
    }
    return n;
}

// (a) One snapshot cycle's work on the main thread: every main-queue task from the
// "Snapshot now" click to the sample logged and the write queued (smoothing, menu rows, the
// read's judgement, the presence question's answer, the sample, log lines, prediction,
// scheduling), timed task by task. Camera frames, DDC exchanges and file writes run on
// their own queues and are not counted. Arg 0: learning, user away; 1: learning, user
// present (each reading starts a pending anchor; the commit checks that fall due are
// counted too, about one in 90 cycles); 2: adapting over ten anchors with the room swinging
// between dark and bright, so most cycles write.
void BM_SnapshotCycleMainThread(benchmark::State& state) {
    TimedDesk t;
    SimulatedDesk& desk = t.desk;
    const int variant = static_cast<int>(state.range(0));
    if (variant == 2) {
        desk.env.settings->set(desk.keyPrefix() + "mode", std::string("adapting"));
        storeFullAnchorList(desk);
    }
    desk.session->setIdleSeconds(variant == 1 ? 5.0 : 3600.0);
    std::vector<double> lumas(200000);
    for (std::size_t i = 0; i < lumas.size(); ++i) {
        lumas[i] = i % 2 ? 220 : 10;
    }
    desk.camera.setScriptedLuma(std::move(lumas));
    desk.launch();
    desk.advance(30);  // the first cycle, the sample count, the capabilities
    const std::size_t logged = countLines(desk, "Sample logged");
    const int writes = desk.monitor->stats().setRequests;
    long tasks = 0;
    for (auto _ : state) {
        t.main->reset();
        desk.mainQueue.post([app = desk.app] { app->snapshotNow(); });
        desk.advance(2);
        state.SetIterationTime(t.main->tally()->seconds);
        tasks += t.main->tally()->tasks;
    }
    auto cycles = static_cast<double>(state.iterations());
    if (countLines(desk, "Sample logged") - logged !=
        static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a cycle did not log its sample");
    }
    state.counters["main_tasks"] = static_cast<double>(tasks) / cycles;
    state.counters["writes"] = (desk.monitor->stats().setRequests - writes) / 2 / cycles;
}
BENCHMARK(BM_SnapshotCycleMainThread)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond);

// (b) The menu's refresh over a samples log of 0, 1 and 5 years (one sample every 20
// minutes). refreshMenu is private; "Snapshot now" with the screen locked reaches it through
// scheduleNextSnapshot and does little else (a skip line, the location setting, the
// snapshot item). The count comes from one line count on the logger's queue when the monitor
// appeared, kept up by each append: the refresh never reads the file, so the time stays
// flat as the log grows. The row is checked to show the whole count.
void BM_RefreshMenuWithHistory(benchmark::State& state) {
    TimedDesk t;
    SimulatedDesk& desk = t.desk;
    const int years = static_cast<int>(state.range(0));
    writeSampleHistory(desk.env.paths.dataDir,
                       Monitor{SimulatedDesk::monitorA.vendor, SimulatedDesk::monitorA.model,
                               SimulatedDesk::monitorA.serial}
                           .identifier(),
                       years);
    desk.session->setLocked(true);
    desk.launch();
    desk.advance(30);
    const std::string count = "Samples: " + std::to_string(years * kSamplesPerYear);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        desk.app->menu().activate(MenuItemId::snapshot);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        desk.env.clock.runPending();  // the log line's queue, outside the timing
    }
    if (desk.app->menu().row(MenuItemId::samples).title.rfind(count, 0) != 0) {
        state.SkipWithError(
            ("the row shows \"" + desk.app->menu().row(MenuItemId::samples).title + "\"").c_str());
    }
}
BENCHMARK(BM_RefreshMenuWithHistory)
    ->Arg(0)
    ->Arg(1)
    ->Arg(5)
    ->UseManualTime()
    ->Iterations(5000)
    ->Unit(benchmark::kMicrosecond);

// (c) DDC traffic per cycle over 30 days of adapting mode in the simulated room (ten
// anchors, user away, so no commit checks read in between): brightness reads and writes
// counted between one cycle and the next, and the step between successive written targets.
// The transport sends each Set VCP Feature twice (a busy monitor may miss one), so a write
// is two Set frames on the bus. The time is of no interest; the counters are.
void BM_DdcTrafficPerCycle(benchmark::State& state) {
    for (auto _ : state) {
        TimedDesk t;
        SimulatedDesk& desk = t.desk;
        desk.env.settings->set(desk.keyPrefix() + "mode", std::string("adapting"));
        storeFullAnchorList(desk);
        desk.session->setIdleSeconds(3600.0);
        desk.launch();
        desk.advance(30);
        int cycles = 0, maxReads = 0, maxFrames = 0, reads = 0, frames = 0;
        auto last = desk.monitor->stats();
        const double end = desk.env.clock.now() + 30 * 86400.0;
        while (desk.env.clock.now() < end) {
            desk.advance(desk.app->nextSnapshotAt() - desk.env.clock.now() + 10);
            auto now = desk.monitor->stats();
            int r = now.getRequests - last.getRequests;
            int f = now.setRequests - last.setRequests;
            maxReads = std::max(maxReads, r);
            maxFrames = std::max(maxFrames, f);
            reads += r;
            frames += f;
            ++cycles;
            last = now;
        }
        int smallestStep = 100, previous = -1;
        for (const auto& line : desk.env.systemLog.lines()) {
            auto at = line.find("writing brightness=");
            if (at == std::string::npos) {
                continue;
            }
            int target = std::atoi(line.c_str() + at + 19);
            if (previous >= 0) {
                smallestStep = std::min(smallestStep, std::abs(target - previous));
            }
            previous = target;
        }
        state.counters["cycles"] = cycles;
        state.counters["reads_per_cycle"] = double(reads) / cycles;
        state.counters["writes_per_cycle"] = double(frames) / 2 / cycles;
        state.counters["max_reads_in_a_cycle"] = maxReads;
        state.counters["max_set_frames_in_a_cycle"] = maxFrames;
        state.counters["smallest_write_step"] = smallestStep;
    }
}
BENCHMARK(BM_DdcTrafficPerCycle)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellora::bench
