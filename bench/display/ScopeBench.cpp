// Opening a monitor's scope over five years of samples (one every 20 minutes, 131,400 lines):
// what the main thread spends on it.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "SampleHistory.h"
#include "TestEnvironment.h"
#include "display/MonitorScope.h"

namespace {

using namespace pellora;

const Monitor kMonitor{0x1234, 0x5678, 0x9ABC};
// The main thread's share of a scope's first load; the logger queue's share is timed apart
// ("work_ms"). Before the read moved off main, all of it fell on main: 50-60 ms here.
// Arg 1: the anchor list starts empty and is seeded; arg 0: anchors were learnt already.
void BM_ScopeLoadMainThread(benchmark::State& state) {
    const bool seeding = state.range(0) != 0;
    test::TestEnvironment env;
    // The logger's queue runs on a clock of its own, so its share is timed apart.
    test::VirtualClock workClock;
    auto loggerQueue = workClock.makeQueue("pellora.logger");
    bench::writeSampleHistory(env.paths.dataDir, kMonitor.identifier(), 5);
    const std::string anchorsKey = kMonitor.keyPrefix() + "anchorsV1";
    double workSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        env.settings->remove(anchorsKey);
        if (!seeding) {
            env.settings->set(anchorsKey,
                              Bytes{*AnchorStore::encode({{200, 90, 14, env.clock.now(), 2.0}})});
        }
        env.clock.runPending();
        std::shared_ptr<MonitorScope> scope;
        MonitorScope::load(kMonitor, *env.settings, env.clock, env.paths.dataDir, *loggerQueue,
                           nullptr, *env.main,
                           [&scope](std::shared_ptr<MonitorScope> s) { scope = std::move(s); });
        auto start = std::chrono::steady_clock::now();
        workClock.runPending();
        workSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();
        env.clock.runPending();  // the main queue's part
        benchmark::DoNotOptimize(scope.get());
        state.PauseTiming();
        if (!scope) {
            state.SkipWithError("no scope");
        }
        scope.reset();
        state.ResumeTiming();
    }
    state.counters["work_ms"] =
        benchmark::Counter(workSeconds * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScopeLoadMainThread)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("seeding")
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

}  // namespace
