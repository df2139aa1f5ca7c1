// The preferences window's main-thread costs on the simulated desk, drawn off screen: a
// refresh over a year of samples, and a slider dragged at pointer rate.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QSlider>
#include <QTest>
#include <chrono>
#include <cmath>
#include <fstream>

#include "BenchApplication.h"
#include "DeskPreferences.h"
#include "SimulatedDesk.h"
#include "app/LocalTime.h"
#include "app/TimedQueue.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "store/SampleLogger.h"
#include "ui/CurveEditorView.h"
#include "ui/PreferencesWindowController.h"
#include "ui/TimelineView.h"

namespace pellora::bench {
namespace {

using test::SimulatedDesk;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A desk whose monitor has `days` of samples every 20 minutes, with the window open.
struct OpenWindow {
    TimedQueue* main = nullptr;
    SimulatedDesk desk{SimulatedDesk::Options{
        .dumpPeriod = 1e7,
        .wrapMain =
            [this](Queue& inner) {
                auto timed = std::make_unique<TimedQueue>(inner);
                main = timed.get();
                return timed;
            },
        .preferences = test::deskPreferences,
    }};

    explicit OpenWindow(int days) {
        benchApplication();
        desk.launch();
        std::ofstream out(desk.app->scope()->logger().fileURL(), std::ios::app);
        double now = desk.env.clock.now();
        for (double t = now - days * 86400.0; t < now; t += 1200.0) {
            double hour = std::fmod(t / 3600.0, 24.0);
            Sample sample{t, 60 + 50 * std::sin(hour / 24.0 * 6.283), 30 + (int)hour * 2, (int)hour,
                          std::fmod(t, 7200.0) < 1200.0};
            out << *SampleLogger::encodeLine(sample) << '\n';
        }
        out.close();
        desk.app->openPreferences();
        desk.advance(0.01);
        window().window().resize(560, 1120);
    }
    PreferencesWindowController& window() {
        return static_cast<PreferencesWindowController&>(*desk.app->prefs());
    }
};

// The whole refresh as the main thread pays for it: the call itself, the loaded samples
// handed to the timeline (the file is read on the logger's queue), and the repaint.
void BM_PreferencesRefresh(benchmark::State& state) {
    OpenWindow w(static_cast<int>(state.range(0)));
    auto& prefs = w.window();
    double longest = 0;
    for (auto _ : state) {
        w.main->reset();
        auto start = std::chrono::steady_clock::now();
        prefs.refreshSamples();
        double own = secondsSince(start);
        w.desk.advance(0.0);
        start = std::chrono::steady_clock::now();
        // grab() paints for certain, where an off-screen repaint may not.
        QPixmap drawn = prefs.timeline().grab();
        benchmark::DoNotOptimize(drawn);
        double paint = secondsSince(start);
        double total = own + w.main->tally()->seconds + paint;
        longest = std::max(longest, total);
        state.SetIterationTime(total);
    }
    state.counters["samples"] = static_cast<double>(prefs.timeline().samples().size());
    state.counters["longest_ms"] = longest * 1e3;
}
BENCHMARK(BM_PreferencesRefresh)->Arg(30)->Arg(365)->UseManualTime()->Unit(benchmark::kMillisecond);

// Five seconds of dragging the slider at 60 moves a second: each move runs on the main
// thread with everything it posts there. The figure that matters is the longest hold.
void BM_SliderDrag(benchmark::State& state) {
    OpenWindow w(365);
    auto& slider = w.window().brightnessSlider();
    double longest = 0;
    for (auto _ : state) {
        w.main->reset();
        double total = 0;
        for (int step = 0; step < 300; ++step) {
            int value = 20 + static_cast<int>(60 * std::fabs(std::sin(step / 40.0)));
            auto start = std::chrono::steady_clock::now();
            slider.setValue(value);
            double move = secondsSince(start);
            total += move;
            longest = std::max(longest, move);
            w.desk.advance(1.0 / 60.0);
        }
        longest = std::max(longest, w.main->tally()->longest);
        state.SetIterationTime(total + w.main->tally()->seconds);
    }
    state.counters["longest_ms"] = longest * 1e3;
}
BENCHMARK(BM_SliderDrag)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// An anchor dragged for five seconds at 60 moves a second, then released: each move previews
// the brightness (debounced write, a 5-minute pause), the release stores the anchor.
void BM_AnchorDrag(benchmark::State& state) {
    OpenWindow w(365);
    auto& curve = w.window().curveView();
    curve.resize(532, 240);
    w.desk.app->scope()->anchors().observe(60.0, 30.0,
                                           localtime::fractionalHour(w.desk.env.clock.now()), 1.0);
    w.window().refreshSamples();
    double longest = 0;
    for (auto _ : state) {
        w.main->reset();
        QPointF from = curve.viewPoint(curve.anchors().at(0));
        double total = 0;
        auto timed = [&](auto&& gesture) {
            auto start = std::chrono::steady_clock::now();
            gesture();
            double took = secondsSince(start);
            total += took;
            longest = std::max(longest, took);
        };
        timed([&] { QTest::mousePress(&curve, Qt::LeftButton, {}, from.toPoint()); });
        QPointF at = from;
        for (int step = 0; step < 300; ++step) {
            at = from + QPointF(40 * std::sin(step / 30.0), 30 * std::sin(step / 20.0));
            timed([&] {
                QMouseEvent move(QEvent::MouseMove, at, curve.mapToGlobal(at), Qt::NoButton,
                                 Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(&curve, &move);
            });
            w.desk.advance(1.0 / 60.0);
        }
        timed([&] { QTest::mouseRelease(&curve, Qt::LeftButton, {}, at.toPoint()); });
        w.desk.advance(1.0);
        longest = std::max(longest, w.main->tally()->longest);
        state.SetIterationTime(total + w.main->tally()->seconds);
    }
    state.counters["longest_ms"] = longest * 1e3;
}
BENCHMARK(BM_AnchorDrag)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace pellora::bench
