#include <benchmark/benchmark.h>
#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "TestEnvironment.h"
#include "platform/linux/LumaExtraction.h"
#include "platform/sim/SimulatedCamera.h"
#include "sensor/LightSensor.h"

namespace {

using namespace pellora;

std::vector<std::uint8_t> noisyBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 12345;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

// The sensor's per-frame work: the mean of one sixteenth of the luma plane.
void BM_MeanLuma(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> plane = noisyBytes(static_cast<std::size_t>(w * h));
    for (auto _ : state) {
        auto luma = LightSensor::meanLuma(plane, w, h, static_cast<std::size_t>(w));
        benchmark::DoNotOptimize(luma);
    }
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}
BENCHMARK(BM_MeanLuma)
    ->Args({640, 480})
    ->Args({160, 120})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

// Turning one 640x480 V4L2 buffer into a full-range luma plane.
void BM_ExtractLuma(benchmark::State& state) {
    const std::uint32_t fourcc = static_cast<std::uint32_t>(state.range(0));
    const auto range = state.range(1) ? LumaRange::limited : LumaRange::full;
    const std::uint32_t w = 640, h = 480;
    const bool packed = fourcc == V4L2_PIX_FMT_YUYV;
    std::vector<std::uint8_t> buffer = noisyBytes(packed ? w * h * 2 : w * h * 3 / 2);
    std::vector<std::uint8_t> scratch;
    V4l2FrameFormat format{fourcc, w, h, 0, range};
    for (auto _ : state) {
        auto plane = extractLuma(buffer, format, scratch);
        benchmark::DoNotOptimize(plane);
        benchmark::ClobberMemory();
    }
    const char* name = fourcc == V4L2_PIX_FMT_GREY ? "GREY" : packed ? "YUYV" : "NV12";
    state.SetLabel(std::string(name) + (state.range(1) ? " limited" : " full"));
}
BENCHMARK(BM_ExtractLuma)
    ->Args({V4L2_PIX_FMT_GREY, 0})
    ->Args({V4L2_PIX_FMT_NV12, 1})
    ->Args({V4L2_PIX_FMT_YUYV, 0})
    ->Args({V4L2_PIX_FMT_YUYV, 1})
    ->Unit(benchmark::kMicrosecond);

// One whole reading against the simulated 30 fps camera on virtual time. The counters give
// the camera-on time per reading (virtual seconds, start to stop) and frames examined.
void BM_SimulatedReading(benchmark::State& state) {
    test::TestEnvironment env;
    auto sensorQueue = env.clock.makeQueue("pellora.sensor");
    SimulatedCamera camera(env.clock);
    auto sensor = LightSensor::create(camera, *sensorQueue, *env.main, env.clock, *env.log);
    env.clock.runPending();
    double onSeconds = 0;
    double longest = 0;
    int readings = 0;
    int failed = 0;
    for (auto _ : state) {
        std::optional<double> result;
        sensor->sampleOnce(3.5, [&](std::optional<double> luma) { result = luma; });
        env.clock.advance(1.0);
        failed += result ? 0 : 1;
        double on = camera.stats().lastOnSeconds;
        onSeconds += on;
        longest = std::max(longest, on);
        ++readings;
        env.clock.advance(600);
    }
    state.counters["camera_on_s"] = onSeconds / readings;
    state.counters["camera_on_max_s"] = longest;
    state.counters["frames_per_reading"] =
        static_cast<double>(camera.stats().framesDelivered) / readings;
    state.counters["failed"] = failed;
}
BENCHMARK(BM_SimulatedReading)->Unit(benchmark::kMicrosecond);

}  // namespace
