// Debug-log throughput on the real serial queue and the real file system.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/SystemLog.h"
#include "store/DebugLog.h"

namespace {

class NullSystemLog final : public pellora::SystemLog {
  public:
    void write(const std::string&) override {}
};

std::filesystem::path scratchDir() {
    auto dir = std::filesystem::temp_directory_path() / "pellora-bench-debuglog";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// 10,000 lines as fast as one thread can log them, until the file holds the window.
void BM_DebugLogBurst(benchmark::State& state) {
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.debug-log", clock);
    NullSystemLog systemLog;
    auto dir = scratchDir();
    pellora::DebugLog log(clock, queue, dir, systemLog);
    const std::string message(80, 'x');
    std::size_t writes = log.fileWrites();
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i) {
            log.log(message, "sample");
        }
        queue.sync([] {});
    }
    state.counters["lines/s"] =
        benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["fileWrites/burst"] =
        double(log.fileWrites() - writes) / double(state.iterations());
}
BENCHMARK(BM_DebugLogBurst)->Unit(benchmark::kMillisecond)->UseRealTime();

// A steady trickle: each line finds the queue idle, so each one rewrites the full file.
void BM_DebugLogTrickle(benchmark::State& state) {
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.debug-log", clock);
    NullSystemLog systemLog;
    auto dir = scratchDir();
    pellora::DebugLog log(clock, queue, dir, systemLog);
    const std::string message(80, 'x');
    for (int i = 0; i < 4000; ++i) {
        log.log(message, "sample");
    }
    queue.sync([] {});
    for (auto _ : state) {
        log.log(message, "sample");
        queue.sync([] {});
    }
    state.counters["lines/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DebugLogTrickle)->Unit(benchmark::kMicrosecond)->UseRealTime();

// What the caller pays: stamping, the system-log copy (null here) and the hand-off.
void BM_DebugLogCallerCost(benchmark::State& state) {
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.debug-log", clock);
    NullSystemLog systemLog;
    auto dir = scratchDir();
    pellora::DebugLog log(clock, queue, dir, systemLog);
    const std::string message(80, 'x');
    for (auto _ : state) {
        log.log(message, "sample");
    }
    queue.sync([] {});
}
BENCHMARK(BM_DebugLogCallerCost)->Unit(benchmark::kNanosecond);

}  // namespace
