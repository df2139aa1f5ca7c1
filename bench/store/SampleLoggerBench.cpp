// Reading a monitor's whole samples log, as scope creation, retraining and the preferences
// window do, next to a bare read of the same file as the floor. Five years take far more
// than the main thread may spend, which therefore reads on the logger's queue.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "SampleHistory.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/SampleLogger.h"

namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
std::filesystem::path benchDir(int years) {
    return std::filesystem::temp_directory_path() /
           ("pellora-bench-samples-" + std::to_string(years));
}

std::filesystem::path writeYears(int years) {
    std::filesystem::remove_all(benchDir(years));
    return pellora::bench::writeSampleHistory(benchDir(years), kMonitor, years);
}

pellora::Sample sampleAfter(const pellora::Sample& last) {
    return {last.t + 1200.25, 123.456789012345, 48, last.hour, false};
}

// A logger's first read: every line decoded (scope creation, and the window's first look).
void BM_LoadAllFirst(benchmark::State& state) {
    const int years = int(state.range(0));
    const auto file = writeYears(years);
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.logger", clock);
    std::size_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto logger = std::make_unique<pellora::SampleLogger>(kMonitor, benchDir(years), queue);
        state.ResumeTiming();
        auto all = logger->loadAll();
        samples = all.size();
        benchmark::DoNotOptimize(all.data());
    }
    state.counters["samples"] = double(samples);
    state.counters["MB"] = double(std::filesystem::file_size(file)) / 1e6;
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_LoadAllFirst)->Arg(1)->Arg(5)->ArgName("years")->Unit(benchmark::kMillisecond);

// The window's refresh every 5 seconds: usually nothing new since the last read.
void BM_LoadAllUnchanged(benchmark::State& state) {
    const int years = int(state.range(0));
    writeYears(years);
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.logger", clock);
    pellora::SampleLogger logger(kMonitor, benchDir(years), queue);
    logger.loadAll();
    for (auto _ : state) {
        auto all = logger.loadAll();
        benchmark::DoNotOptimize(all.data());
    }
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_LoadAllUnchanged)->Arg(1)->Arg(5)->ArgName("years")->Unit(benchmark::kMillisecond);

// A refresh after a snapshot appended one sample.
void BM_LoadAllAfterAppend(benchmark::State& state) {
    const int years = int(state.range(0));
    writeYears(years);
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.logger", clock);
    pellora::SampleLogger logger(kMonitor, benchDir(years), queue);
    pellora::Sample last = logger.loadAll().back();
    for (auto _ : state) {
        state.PauseTiming();
        last = sampleAfter(last);
        logger.log(last);
        queue.sync([] {});
        state.ResumeTiming();
        auto all = logger.loadAll();
        benchmark::DoNotOptimize(all.data());
    }
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_LoadAllAfterAppend)->Arg(1)->Arg(5)->ArgName("years")->Unit(benchmark::kMillisecond);

// The main thread's way: the read runs on the logger's queue and the samples come back to
// a queue of the caller's; what the caller's thread pays is the hand-off alone.
void BM_LoadAllOnTheLoggersQueue(benchmark::State& state) {
    const int years = int(state.range(0));
    writeYears(years);
    pellora::SystemClock clock;
    pellora::SerialQueue queue("pellora.logger", clock);
    pellora::SerialQueue deliverOn("main", clock);
    pellora::SampleLogger logger(kMonitor, benchDir(years), queue);
    std::size_t samples = 0;
    for (auto _ : state) {
        logger.loadAll(deliverOn,
                       [&samples](std::vector<pellora::Sample> all) { samples = all.size(); });
        state.PauseTiming();
        queue.sync([] {});
        deliverOn.sync([] {});
        state.ResumeTiming();
    }
    state.counters["samples"] = double(samples);
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_LoadAllOnTheLoggersQueue)
    ->Arg(5)
    ->ArgName("years")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The floor: open, read the same bytes into memory, close.
void BM_RawRead(benchmark::State& state) {
    const int years = int(state.range(0));
    const auto file = writeYears(years);
    std::string bytes(std::filesystem::file_size(file), '\0');
    for (auto _ : state) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t got = 0;
        for (ssize_t n; (n = ::read(fd, bytes.data() + got, bytes.size() - got)) > 0;) {
            got += std::size_t(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
        if (got != bytes.size()) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.counters["MB"] = double(bytes.size()) / 1e6;
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_RawRead)->Arg(1)->Arg(5)->ArgName("years")->Unit(benchmark::kMillisecond);

// Decoding alone, without the file system.
void BM_DecodeLines(benchmark::State& state) {
    const int years = int(state.range(0));
    const auto file = writeYears(years);
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        auto all = pellora::SampleLogger::decodeLines(bytes);
        benchmark::DoNotOptimize(all.data());
    }
    std::filesystem::remove_all(benchDir(years));
}
BENCHMARK(BM_DecodeLines)->Arg(1)->ArgName("years")->Unit(benchmark::kMillisecond);

}  // namespace
