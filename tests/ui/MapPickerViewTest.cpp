#include "ui/MapPickerView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <vector>

#include "VirtualClock.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

constexpr Coordinate kNewYork{40.7128, -74.006};
constexpr Coordinate kParis{48.8566, 2.3522};
// New York's region (60 by 80 degrees) fitted into 528 by 200 points, worked out apart from
// the code: the 30 degrees north of the centre fill half the height (Mercator stretches them
// more than the 30 south), so the world is this many points wide...
constexpr double kNewYorkScale = 632.6261491851088;
// ...and the bottom edge lies at this latitude.
constexpr double kNewYorkBottom = -12.166262457624047;

// The magic, then little-endian words: version and flags, counts, ring sizes, points.
std::vector<std::uint8_t> file(std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> bytes{'P', 'L', 'N', 'D'};
    for (std::uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    return bytes;
}

TEST(WorldOutlinesFile, AnythingButAWholeWellFormedFileIsNoLand) {
    // One triangle; its second point is (+4096, +4096) quantized.
    const std::vector<std::uint8_t> good = file({1, 1, 3, 3, 0, 0x10001000, 0x00001000});
    const WorldOutlines triangle = WorldOutlines::fromBytes(good);
    ASSERT_EQ(triangle.ringCount(), 1u);
    ASSERT_EQ(triangle.ring(0).size(), 3u);
    EXPECT_NEAR(WorldOutlines::coordinate(triangle.ring(0)[1]).lon, 22.500687, 1e-6);
    EXPECT_NEAR(WorldOutlines::coordinate(triangle.ring(0)[1]).lat, 11.250343, 1e-6);
    EXPECT_GT(WorldOutlines::bundled()->ringCount(), 1000u);

    std::vector<std::vector<std::uint8_t>> bad;
    for (std::size_t size = 0; size < good.size(); size += 3) {
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    }
    // Magic, version, rings claiming fewer or more points than held, longitude -32768, no
    // rings.
    for (auto [at, value] : {std::pair{0, 'X'}, {4, 2}, {16, 2}, {16, 4}, {21, 0x80}, {8, 0}}) {
        bad.push_back(good);
        bad.back()[at] = static_cast<std::uint8_t>(value);
    }
    bad.push_back(good);
    bad.back().push_back(0);
    bad.push_back(file({1, 0xFFFFFFFF, 0xFFFFFFFF}));  // counts beyond any file
    bad.push_back(file({1, 1, 2, 2, 0, 0}));           // a ring of two points
    for (const auto& bytes : bad) {
        EXPECT_TRUE(WorldOutlines::fromBytes(bytes).empty()) << bytes.size();
    }
    EXPECT_TRUE(WorldOutlines().ring(5).empty());
}

struct MapView : ::testing::Test {
    QApplication& app = widgetsApp();
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    MapPickerView view{*main, clock};
    std::vector<Coordinate> picks;

    MapView() {
        view.resize(528, 200);
        view.setRegion(kNewYork, 60, 80, false);
        view.onPick = [this](Coordinate place) { picks.push_back(place); };
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    void send(QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, view.mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }
    // Press, move with the button held, release: fractional points, so sent directly.
    void drag(QPointF from, QPointF to) {
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }
    void wheel(QPointF at, int notches) {
        QWheelEvent event(at, view.mapToGlobal(at), {}, {0, notches * 120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    }
};

void expectNear(Coordinate actual, Coordinate expected, double tolerance = 1e-6) {
    EXPECT_NEAR(actual.lat, expected.lat, tolerance);
    EXPECT_NEAR(actual.lon, expected.lon, tolerance);
}

TEST_F(MapView, AClickPicksThePlaceUnderThePointer) {
    const std::pair<QPoint, Coordinate> clicks[] = {
        {{264, 100}, kNewYork},
        {{364, 100}, {40.7128, -74.006 + 100 / kNewYorkScale * 360}},
        {{264, 0}, {70.7128, -74.006}},
        {{264, 200}, {kNewYorkBottom, -74.006}},
    };
    for (const auto& [point, expected] : clicks) {
        QTest::mouseClick(&view, Qt::LeftButton, {}, point);
        ASSERT_EQ(picks.size(), 1u);
        expectNear(picks.back(), expected);
        picks.clear();
    }
    expectNear(view.region().centre, kNewYork);  // the view never moved
    // Another button, or a release with no press, picks nothing.
    QTest::mouseClick(&view, Qt::RightButton, {}, {100, 100});
    send(QEvent::MouseButtonRelease, {100, 100}, Qt::NoButton);
    EXPECT_TRUE(picks.empty());
    // A place on the other side of the antimeridian is drawn at its nearest copy.
    view.setRegion({0, 170}, 20, 40, false);
    const auto fiji = view.pointFor({-17.8, -178.0});
    ASSERT_TRUE(fiji);
    EXPECT_GT(fiji->x(), 264);
    EXPECT_NEAR(view.coordinateAt(*fiji).lon, -178.0, 1e-6);
    EXPECT_FALSE(view.pointFor({91, 0}) || view.pointFor({NAN, 0}));
    // Without a mouse: the arrows bring a place to the middle, Return or Space picks it.
    view.setRegion(kNewYork, 60, 80, false);
    QTest::keyClick(&view, Qt::Key_Return);
    QTest::keyClick(&view, Qt::Key_Space);
    ASSERT_EQ(picks.size(), 2u);
    expectNear(picks[0], kNewYork);
    expectNear(picks[1], kNewYork);
}

TEST_F(MapView, TravelBelowTheThresholdPicksAtOrAboveItPans) {
    const QPointF down(264, 100);
    const Coordinate pressed = view.coordinateAt(down);
    drag(down, down + QPointF(3.9, 0));
    ASSERT_EQ(picks.size(), 1u);
    // The map followed the pointer, so the place picked is the one pressed.
    expectNear(picks[0], pressed);

    view.setRegion(kNewYork, 60, 80, false);
    picks.clear();
    drag(down, down + QPointF(0, -4.0));  // straight up: the map moves north
    EXPECT_TRUE(picks.empty());
    EXPECT_LT(view.region().centre.lat, kNewYork.lat - 1.0);

    view.setRegion(kNewYork, 60, 80, false);
    drag(down, down + QPointF(2.83, 2.83));  // 4.002 on the diagonal
    EXPECT_TRUE(picks.empty());
    EXPECT_NEAR(view.region().centre.lon, kNewYork.lon - 2.83 / kNewYorkScale * 360, 1e-9);
}

TEST_F(MapView, ZoomKeepsThePlaceUnderThePointerAndAllStaysOnTheMap) {
    for (QPointF at : {QPointF(264, 100), QPointF(400, 60)}) {
        view.setRegion(kNewYork, 60, 80, false);
        const Coordinate under = view.coordinateAt(at);
        wheel(at, 2);
        EXPECT_NEAR(view.region().spanLon, 528 / kNewYorkScale * 180, 1e-9);
        expectNear(view.coordinateAt(at), under, 1e-9);
    }
    wheel({264, 100}, 40);
    EXPECT_NEAR(view.region().spanLon, 2.0 * 528 / 200, 1e-9);  // 2 degrees on the short side
    QTest::keyClick(&view, Qt::Key_Minus);
    EXPECT_NEAR(view.region().spanLon, 4.0 * 528 / 200, 1e-9);
    wheel({264, 100}, -40);
    EXPECT_NEAR(view.region().spanLon, 360.0, 1e-9);
    // Dragged far south or north, the map stops at its edge.
    drag({264, 10}, {264, 190});
    drag({264, 10}, {264, 190});
    EXPECT_NEAR(view.coordinateAt({264, 0}).lat, MapPickerView::maxLatitude, 1e-9);
    // Regions and markers from outside the map are brought inside or ignored.
    view.setRegion({89.0, 10.0}, 1, 1, false);
    EXPECT_NEAR(view.coordinateAt({264, 0}).lat, MapPickerView::maxLatitude, 1e-9);
    view.setRegion({40.0, 500.0}, 60, 80, false);  // the same meridian as 140
    expectNear(view.region().centre, {40.0, 140.0}, 1e-9);
    view.setRegion({NAN, 0}, 60, 80, false);
    view.setRegion({0, INFINITY}, 60, 80, true);
    view.setRegion({0, 0}, 60, NAN, false);
    expectNear(view.region().centre, {40.0, 140.0}, 1e-9);
    view.setMarker(Coordinate{95.0, 0});
    EXPECT_FALSE(view.marker());
    view.setMarker(Coordinate{10.0, 400.0});
    EXPECT_TRUE(view.marker());
}

TEST_F(MapView, AnimatedMovesRunOnTheClockAndFollowResizes) {
    view.setRegion(kParis, 60, 80, true);
    clock.advance(0.1);
    const double midway = view.region().centre.lon;
    EXPECT_TRUE(midway > kNewYork.lon + 1 && midway < kParis.lon - 1) << midway;
    clock.advance(MapPickerView::animationSeconds);
    expectNear(view.region().centre, kParis, 1e-9);
    EXPECT_EQ(clock.pendingCount(), 0u);
    // A press takes the map from the animation.
    view.setRegion(kNewYork, 60, 80, true);
    clock.advance(0.05);
    send(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    const Coordinate held = view.region().centre;
    clock.advance(1);
    expectNear(view.region().centre, held, 1e-12);
    send(QEvent::MouseButtonRelease, {10, 10}, Qt::NoButton);
    // A view that goes mid-animation leaves nothing behind that runs.
    auto doomed = std::make_unique<MapPickerView>(*main, clock);
    doomed->resize(300, 150);
    doomed->setRegion(kParis, 10, 10, true);
    doomed.reset();
    clock.advance(1);

    // The owner's region follows resizes (a hidden widget hears of its size when shown)
    // until the user moves the map.
    MapPickerView fresh(*main, clock);
    fresh.setRegion(kParis, 20, 20, true);
    fresh.resize(400, 300);
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    EXPECT_NEAR(fresh.coordinateAt({200, 0}).lat, kParis.lat + 10, 1e-9);
    wheel({264, 100}, 1);
    const MapRegion zoomed = view.region();
    view.resize(600, 200);
    EXPECT_NEAR(view.region().spanLon, zoomed.spanLon * 600 / 528, 1e-9);
}

// Colour at a place, drawn into a transparent image.
QColor drawnAt(MapPickerView& view, QPointF at) {
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, {}, {}, QWidget::DrawChildren);
    return image.pixelColor(at.toPoint());
}

TEST_F(MapView, DrawsLandSeaAndThePin) {
    view.setRegion({46, 2}, 20, 30, false);
    const QColor land = drawnAt(view, *view.pointFor({47.0, 2.5}));
    const QColor sea = drawnAt(view, *view.pointFor({45.5, -6.0}));  // Bay of Biscay
    EXPECT_NE(land, sea);
    EXPECT_EQ(drawnAt(view, *view.pointFor({48.5, 9.0})), land);  // Germany, same fill
    EXPECT_EQ(drawnAt(view, {0, 0}).alpha(), 0);                  // outside the round corner
    view.setMarker(kParis);
    const QColor pin = drawnAt(view, *view.pointFor(kParis));
    EXPECT_TRUE(pin.red() > 200 && pin.green() < 100) << pin.name().toStdString();
    // Panning by a pixel at a time reuses the cached land: still drawn right afterwards.
    for (int i = 0; i < 30; ++i) {
        drag({264, 100}, {270, 100});
    }
    EXPECT_EQ(drawnAt(view, *view.pointFor({47.0, 2.5})), land);
    EXPECT_EQ(drawnAt(view, *view.pointFor({45.5, -6.0})), sea);
    // The Caspian is a hole in the land.
    view.setRegion({42.0, 51.0}, 20, 30, false);
    EXPECT_EQ(drawnAt(view, *view.pointFor({42.0, 51.0})), sea);
}

}  // namespace
}  // namespace pellora::test
