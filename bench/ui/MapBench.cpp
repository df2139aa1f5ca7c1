// The location map's costs, drawn off screen at the preferences window's size (528 × 200):
// making the view (projecting the land), a first paint (caching the land's path), a repaint
// of the same region, and a drag step. Counters give the heap the land takes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include <memory>

#include "BenchApplication.h"
#include "VirtualClock.h"
#include "ui/MapPickerView.h"

namespace pellora {
namespace {

struct Scene {
    test::VirtualClock clock;
    std::unique_ptr<test::ManualQueue> main = clock.makeQueue("main", true);
    std::unique_ptr<MapPickerView> view;
    QImage image{528, 200, QImage::Format_ARGB32_Premultiplied};

    // Range 0: New York, 60 by 80 degrees (the window's start); 1: Europe, 20 by 30.
    explicit Scene(int which) {
        bench::benchApplication();
        view = std::make_unique<MapPickerView>(*main, clock);
        view->resize(528, 200);
        if (which == 0) {
            view->setRegion({40.7128, -74.006}, 60, 80, false);
        } else {
            view->setRegion({50, 10}, 20, 30, false);
        }
    }
    void paint() {
        view->render(&image, {}, {}, QWidget::DrawChildren);
        benchmark::DoNotOptimize(image.constBits());
    }
    void mouse(QEvent::Type type, QPointF at) {
        QMouseEvent event(type, at, at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view.get(), &event);
    }
};

void BM_MapPaintCold(benchmark::State& state) {
    const std::size_t outlines = WorldOutlines::bundled()->residentBytes();
    std::size_t viewBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Scene scene(static_cast<int>(state.range(0)));
        state.ResumeTiming();
        scene.paint();
        state.PauseTiming();
        viewBytes = scene.view->residentBytes();
        scene.view.reset();
        state.ResumeTiming();
    }
    state.counters["outlines_bytes"] = static_cast<double>(outlines);
    state.counters["view_bytes"] = static_cast<double>(viewBytes);
}
BENCHMARK(BM_MapPaintCold)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Making the view: projecting every outline once (the bundled file is read before).
void BM_MapViewCreate(benchmark::State& state) {
    bench::benchApplication();
    WorldOutlines::bundled();
    test::VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    for (auto _ : state) {
        MapPickerView view(*main, clock);
        benchmark::DoNotOptimize(view.residentBytes());
    }
}
BENCHMARK(BM_MapViewCreate)->Unit(benchmark::kMillisecond);

void BM_MapPaintWarm(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)));
    scene.paint();
    for (auto _ : state) {
        scene.paint();
    }
}
BENCHMARK(BM_MapPaintWarm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One pointer move of a long drag eastward (5 points) and the repaint it causes; the land
// is rebuilt each time the drag leaves the cached margin, and that is counted too.
void BM_MapPanStep(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)));
    scene.paint();
    QPointF at(264, 100);
    scene.mouse(QEvent::MouseButtonPress, at);
    for (auto _ : state) {
        at.rx() += 5;
        scene.mouse(QEvent::MouseMove, at);
        scene.paint();
    }
    scene.mouse(QEvent::MouseButtonRelease, at);
}
BENCHMARK(BM_MapPanStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellora
