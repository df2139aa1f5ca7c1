// DDC/CI exchanges against the simulated monitor on virtual time. The time shown is the
// computing cost alone; the protocol's own waits (virtual seconds slept per exchange) and the
// bus traffic per exchange are reported as counters beside it.

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <numeric>

#include "TestEnvironment.h"
#include "display/BrightnessController.h"
#include "display/DDCService.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace {

using namespace pellora;

class NullSystemLog final : public SystemLog {
  public:
    void write(const std::string&) override {}
};

struct Rig {
    test::TestEnvironment env;
    // The debug log's queue runs on a clock of its own, so writing the log out happens only
    // in untimed pauses.
    test::VirtualClock logClock;
    std::unique_ptr<test::ManualQueue> logQueue = logClock.makeQueue("pellora.debug-log");
    NullSystemLog systemLog;
    DebugLog log{env.clock, *logQueue, env.paths.dataDir / "bench", systemLog};
    std::shared_ptr<SimulatedMonitor> monitor = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C bus{monitor};
    DDCService ddc{bus, env.clock, log, systemLog};
    double waited = 0;
    std::size_t drains = 0;

    Rig() {
        monitor->resetStats();
        env.clock.clearSleeps();
    }
    // Folds the recorded waits into the total and lets the debug log write out, untimed.
    void drain(benchmark::State& state) {
        state.PauseTiming();
        const auto& sleeps = env.clock.sleeps();
        waited = std::accumulate(sleeps.begin(), sleeps.end(), waited);
        env.clock.clearSleeps();
        if (++drains % 512 == 0) {
            logClock.runPending();
        }
        state.ResumeTiming();
    }
    void report(benchmark::State& state) {
        auto stats = monitor->stats();
        auto perOp = benchmark::Counter::kAvgIterations;
        state.counters["i2c_writes"] = benchmark::Counter(stats.writes, perOp);
        state.counters["i2c_reads"] = benchmark::Counter(stats.reads, perOp);
        state.counters["protocol_wait_ms"] = benchmark::Counter(waited * 1000, perOp);
    }
};

void BM_GetBrightness(benchmark::State& state) {
    Rig rig;
    int failures = 0;
    for (auto _ : state) {
        auto value = rig.ddc.getVCP(0x10);
        failures += value ? 0 : 1;
        benchmark::DoNotOptimize(value);
        rig.drain(state);
    }
    rig.report(state);
    if (failures) {
        state.SkipWithError("a get failed");
    }
}
BENCHMARK(BM_GetBrightness)->Unit(benchmark::kMicrosecond);

void BM_SetBrightness(benchmark::State& state) {
    Rig rig;
    std::uint16_t value = 0;
    for (auto _ : state) {
        bool ok = rig.ddc.setVCP(0x10, value);
        value = std::uint16_t((value + 1) % 101);
        benchmark::DoNotOptimize(ok);
        rig.drain(state);
    }
    rig.report(state);
}
BENCHMARK(BM_SetBrightness)->Unit(benchmark::kMicrosecond);

void BM_ReadCapabilities(benchmark::State& state) {
    Rig rig;
    std::size_t length = 0;
    for (auto _ : state) {
        auto caps = rig.ddc.readCapabilities();
        length = caps ? caps->rawString.size() : 0;
        benchmark::DoNotOptimize(caps);
        rig.drain(state);
    }
    rig.report(state);
    auto perOp = benchmark::Counter::kAvgIterations;
    state.counters["fragments"] =
        benchmark::Counter(rig.monitor->stats().capabilitiesRequests, perOp);
    state.counters["chars"] = double(length);
}
BENCHMARK(BM_ReadCapabilities)->Unit(benchmark::kMicrosecond);

// A brightness read through the controller: queue hop, exchange, answer on main.
void BM_ControllerGetBrightness(benchmark::State& state) {
    Rig rig;
    auto queue = rig.env.clock.makeQueue("pellora.brightness");
    auto controller = BrightnessController::create(*rig.env.main, *queue, [&rig] {
        return std::make_shared<DDCService>(rig.bus, rig.env.clock, rig.log, rig.systemLog);
    });
    rig.monitor->resetStats();
    int answers = 0;
    for (auto _ : state) {
        controller->getBrightness([&answers](std::optional<int> v) { answers += v ? 1 : 0; });
        rig.env.clock.advance(0.2);
        rig.drain(state);
    }
    rig.report(state);
    if (answers != int(state.iterations())) {
        state.SkipWithError("a read went unanswered");
    }
}
BENCHMARK(BM_ControllerGetBrightness)->Unit(benchmark::kMicrosecond);

void BM_ParseGetReply(benchmark::State& state) {
    const std::array<std::uint8_t, 12> reply{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00,
                                             0x00, 0x64, 0x00, 0x32, 0xAB, 0x00};
    for (auto _ : state) {
        auto parsed = DDCService::parseGetReply(0x10, reply);
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_ParseGetReply);

void BM_ParseCapabilitiesReply(benchmark::State& state) {
    std::array<std::uint8_t, 64> reply{0x6E, 0xA3, 0xE3, 0x00, 0x20};
    for (std::size_t i = 5; i < 37; ++i) {
        reply[i] = 'a';
    }
    for (auto _ : state) {
        auto parsed = DDCService::parseCapabilitiesReply(32, reply);
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_ParseCapabilitiesReply);

}  // namespace
