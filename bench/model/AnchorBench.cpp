// Prediction cost with a full store: the controller predicts once per reading, the curve
// editor samples the whole curve on every redraw.

#include <benchmark/benchmark.h>

#include "TestEnvironment.h"
#include "model/AnchorStore.h"

namespace {

std::shared_ptr<pellora::AnchorStore> fullStore(pellora::test::TestEnvironment& env) {
    std::vector<pellora::Anchor> anchors;
    for (int i = 0; i < 10; ++i) {
        const bool night = i % 3 == 0;
        anchors.push_back({i * 25.0 + 3, 20.0 + i * 8, night ? 23.0 : 13.0,
                           env.clock.now() - i * 86400.0, 1.0 + i % 4});
    }
    env.settings->set("monitor.00001234-00005678-00009ABC.anchorsV1",
                      pellora::Bytes{*pellora::AnchorStore::encode(anchors)});
    auto store =
        pellora::AnchorStore::create("00001234-00005678-00009ABC", *env.settings, env.clock);
    if (store->anchors().size() != 10) {
        std::abort();
    }
    return store;
}

void BM_Predict(benchmark::State& state) {
    pellora::test::TestEnvironment env;
    auto store = fullStore(env);
    double luma = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store->predict(luma, 21.0));  // both curves in the blend
        luma = luma > 250 ? 0 : luma + 7;
    }
}
BENCHMARK(BM_Predict);

void BM_CurveSamplesStep8(benchmark::State& state) {
    pellora::test::TestEnvironment env;
    auto store = fullStore(env);
    for (auto _ : state) {
        auto points = store->curveSamples(21.0, 8.0);
        benchmark::DoNotOptimize(points.data());
    }
}
BENCHMARK(BM_CurveSamplesStep8);

}  // namespace
