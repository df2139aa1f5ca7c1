// Settings read and write latency with 1,000 keys in both copies.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "platform/AppPaths.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "store/SettingsStore.h"

namespace {

// Benchmarks run on one thread; this queue stands in for the main queue and is never
// posted to in the paths measured here.
class InlineQueue final : public pellora::Queue {
  public:
    const std::string& label() const override { return label_; }
    void post(Task task) override { pending_.push_back(std::move(task)); }
    pellora::WorkItemPtr postAfter(double, Task task) override {
        pending_.push_back(std::move(task));
        return std::make_shared<pellora::WorkItem>();
    }
    void sync(Task task) override { task(); }
    bool isCurrent() const override { return true; }

  private:
    std::string label_ = "main";
    std::vector<Task> pending_;
};

struct Fixture {
    explicit Fixture(int keys) {
        root = std::filesystem::temp_directory_path() / "pellora-bench-settings";
        std::filesystem::remove_all(root);
        paths = pellora::AppPaths::underRoot(root);
        store = pellora::SettingsStore::open(paths, clock, main, nullptr, "bench");
        for (int i = 0; i < keys; ++i) {
            store->set("monitor.ABCD1234-00005678-0000ABCD.key" + std::to_string(i),
                       std::int64_t{i});
        }
    }
    ~Fixture() { std::filesystem::remove_all(root); }
    std::filesystem::path root;
    pellora::SystemClock clock;
    InlineQueue main;
    pellora::AppPaths paths;
    std::shared_ptr<pellora::SettingsStore> store;
};

void BM_SettingsRead(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        auto v = f.store->integer("monitor.ABCD1234-00005678-0000ABCD.key" +
                                  std::to_string(i++ % state.range(0)));
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_SettingsRead)->Arg(1000)->Unit(benchmark::kNanosecond);

// One write: local file rewritten and flushed, synced file rewritten and flushed, peers read.
void BM_SettingsWrite(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        f.store->set("monitor.ABCD1234-00005678-0000ABCD.key" + std::to_string(i % 1000),
                     std::int64_t{i});
        ++i;
    }
}
BENCHMARK(BM_SettingsWrite)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Start-up cost: reading both copies of 1,000 keys back.
void BM_SettingsOpen(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    for (auto _ : state) {
        auto store = pellora::SettingsStore::open(f.paths, f.clock, f.main, nullptr, "bench");
        benchmark::DoNotOptimize(store);
    }
}
BENCHMARK(BM_SettingsOpen)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
