// Settings with 1,000 keys in both copies: what a read costs, what a write costs the caller
// (the main thread), and how many file writes a burst of writes makes.
//
// Before the files were written on the store's own queue, one `set` cost the caller two
// fsync'd file writes: 25 ms of wall time under load (3.7 ms of CPU), and a burst of 100
// made 200 file writes.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/AppPaths.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/SettingsStore.h"

namespace {

// Stands in for the main queue: work posted from any thread runs when the benchmark's
// thread pumps it, as the event loop would between two changes.
class PumpedQueue final : public pellora::Queue {
  public:
    const std::string& label() const override { return label_; }
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(task));
    }
    pellora::WorkItemPtr postAfter(double, Task task) override {
        post(std::move(task));
        return std::make_shared<pellora::WorkItem>();
    }
    void sync(Task task) override { task(); }
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
    void pump() {
        std::vector<Task> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(pending_);
        }
        for (auto& task : tasks) {
            task();
        }
    }

  private:
    std::string label_ = "main";
    std::thread::id owner_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::vector<Task> pending_;
};

struct Fixture {
    explicit Fixture(int keys) {
        root = std::filesystem::temp_directory_path() / "pellora-bench-settings";
        std::filesystem::remove_all(root);
        paths = pellora::AppPaths::underRoot(root);
        store = pellora::SettingsStore::open(paths, clock, main, queue, nullptr, "bench");
        for (int i = 0; i < keys; ++i) {
            store->set(key(i), std::int64_t{i});
        }
        store->flush();
        main.pump();
    }
    ~Fixture() {
        store.reset();
        std::filesystem::remove_all(root);
    }
    static std::string key(int i) {
        return "monitor.ABCD1234-00005678-0000ABCD.key" + std::to_string(i % 1000);
    }
    std::filesystem::path root;
    pellora::SystemClock clock;
    PumpedQueue main;
    pellora::SerialQueue queue{"pellora.settings", clock};
    pellora::AppPaths paths;
    std::shared_ptr<pellora::SettingsStore> store;
};

void BM_SettingsRead(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        auto v = f.store->integer(Fixture::key(i++));
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_SettingsRead)->Arg(1000)->Unit(benchmark::kNanosecond);

// What one `set` costs the caller; the main queue is pumped between two, as the event loop
// runs between two slider steps.
void BM_SettingsSetCallerCost(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    const std::size_t before = f.store->fileWrites();
    int i = 0;
    for (auto _ : state) {
        f.store->set(Fixture::key(i), std::int64_t{i});
        ++i;
        state.PauseTiming();
        f.main.pump();
        state.ResumeTiming();
    }
    f.store->flush();
    state.counters["fileWrites/set"] =
        double(f.store->fileWrites() - before) / double(state.iterations());
}
BENCHMARK(BM_SettingsSetCallerCost)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The dearest `set`: the one that finds no write under way and hands a snapshot of both
// copies to the store's queue.
void BM_SettingsSetThatStartsAWrite(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        f.store->set(Fixture::key(i), std::int64_t{i});
        ++i;
        state.PauseTiming();
        f.store->flush();
        f.main.pump();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SettingsSetThatStartsAWrite)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 100 changes in a row, each in its own turn of the main queue, until they are on disk.
void BM_SettingsBurstOf100(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    std::size_t writes = 0;
    for (auto _ : state) {
        const std::size_t before = f.store->fileWrites();
        for (int i = 0; i < 100; ++i) {
            f.store->set(Fixture::key(i), std::int64_t{i});
            f.main.pump();
        }
        f.store->flush();
        f.main.pump();
        writes += f.store->fileWrites() - before;
    }
    state.counters["fileWrites/burst"] = double(writes) / double(state.iterations());
}
BENCHMARK(BM_SettingsBurstOf100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Start-up cost: reading both copies of 1,000 keys back.
void BM_SettingsOpen(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    for (auto _ : state) {
        auto store =
            pellora::SettingsStore::open(f.paths, f.clock, f.main, f.queue, nullptr, "bench");
        benchmark::DoNotOptimize(store);
    }
}
BENCHMARK(BM_SettingsOpen)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
