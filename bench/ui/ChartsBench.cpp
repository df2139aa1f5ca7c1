// What one paint of each preference chart costs, drawn off screen into an image the size the
// window gives it. The timeline is handed a year of samples, as its owner hands it the whole
// log, and must stay well inside a 16 ms frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <cmath>
#include <vector>

#include "BenchApplication.h"
#include "VirtualClock.h"
#include "ui/CurveEditorView.h"
#include "ui/TimelineView.h"

namespace {

using namespace pellora;

// A snapshot every 20 minutes for a year, ending now, a manual change every eleventh.
std::vector<Sample> yearOfSamples(double now) {
    std::vector<Sample> samples;
    constexpr int kCount = 365 * 24 * 3;
    samples.reserve(kCount);
    for (int i = 0; i < kCount; ++i) {
        const double t = now - (kCount - 1 - i) * 1200.0;
        const double luma = 120 + 100 * std::sin(i * 0.13);
        samples.push_back({t, luma, static_cast<int>(20 + luma / 3), 0, i % 11 == 0});
    }
    return samples;
}

// `ahead`: the log was written on a clock that far ahead of this one.
void paintTimeline(benchmark::State& state, double hours, double ahead = 0) {
    bench::benchApplication();
    test::VirtualClock clock;
    TimelineView view(clock);
    view.resize(528, 140);
    view.setHours(hours);
    view.setSamples(yearOfSamples(clock.now() + ahead));
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["samples"] = static_cast<double>(view.samples().size());
}

// The window's case: the last 12 hours of a year-long log.
void BM_TimelinePaintYearLog(benchmark::State& state) {
    paintTimeline(state, 12);
}
BENCHMARK(BM_TimelinePaintYearLog)->Unit(benchmark::kMillisecond);

// The worst case: every sample of the year inside the window.
void BM_TimelinePaintYearWindow(benchmark::State& state) {
    paintTimeline(state, TimelineView::kMaxHours);
}
BENCHMARK(BM_TimelinePaintYearWindow)->Unit(benchmark::kMillisecond);

// A year of samples dated in the future (a folder written with --time-scale): they cost what
// past ones do, not a pile drawn on the right edge.
void BM_TimelinePaintFutureLog(benchmark::State& state) {
    paintTimeline(state, 12, 2 * 365 * 86400.0);
}
BENCHMARK(BM_TimelinePaintFutureLog)->Unit(benchmark::kMillisecond);

void BM_CurveEditorPaint(benchmark::State& state) {
    bench::benchApplication();
    CurveEditorView view;
    view.resize(528, 240);
    std::vector<CurvePoint> anchors, others, curve;
    for (int i = 0; i < 10; ++i) {
        anchors.push_back({12.0 + i * 25, 15.0 + i * 8});
    }
    for (int i = 0; i < 4; ++i) {
        others.push_back({30.0 + i * 50, 10.0 + i * 6});
    }
    for (int i = 0; i <= 32; ++i) {
        curve.push_back({std::min(i * 8.0, 255.0), 15 + i * 2.5});
    }
    view.setAnchors(anchors);
    view.setOtherAnchors(others);
    view.setCurveLine(curve);
    view.setPeriodLabel("day");
    view.setCurrentLuma(140);
    view.setLivePrediction(60);
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_CurveEditorPaint)->Unit(benchmark::kMillisecond);

}  // namespace
