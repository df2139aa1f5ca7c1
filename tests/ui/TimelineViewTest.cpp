#include "ui/TimelineView.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <functional>

#include "VirtualClock.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

// At 528×140 the plot runs from x 36 (12 hours ago) to 492 (now), 456 wide, and from y 124
// up to 16, 108 high.
QPointF at(double hoursAgo, double fraction) {
    return {36 + 456 * (1 - hoursAgo / 12), 124 - 108 * fraction};
}

using Hue = std::function<bool(QColor)>;
const Hue purple = [](QColor c) { return c.blue() > c.green() + 60 && c.red() > c.green() + 40; };
const Hue yellow = [](QColor c) { return c.red() > 200 && c.green() > 150 && c.blue() < 120; };
const Hue red = [](QColor c) { return c.red() > 200 && c.green() < 120 && c.blue() < 120; };

struct Timeline : ::testing::Test {
    QApplication& app = widgetsApp();
    VirtualClock clock;
    TimelineView view{clock};

    Timeline() {
        view.resize(528, 140);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    Sample sample(double hoursAgo, double luma, int brightness, bool userSet = false) const {
        return {clock.now() - hoursAgo * 3600, luma, brightness, 0, userSet};
    }
};

TEST_F(Timeline, SamplesSitWhereTheirTimeAndValuesPutThem) {
    const std::vector<Sample> unordered{sample(1, 240, 50), sample(11, 20, 50), sample(6, 200, 50)};
    const std::tuple<std::vector<Sample>, QPointF, Hue, bool> cases[] = {
        {{sample(6, 0, 50, true)}, at(6, 0.5), red, true},
        {{sample(6, 0, 50)}, at(6, 0.5), yellow, true},
        {{sample(6, 0, 50)}, at(6, 0.5), red, false},
        // The window's left edge is exactly 12 hours ago.
        {{sample(12, 127.5, 0)}, at(12, 0.5), purple, true},
        {{sample(12 + 1 / 3600.0, 127.5, 0)}, at(12, 0.5), purple, false},
        // Out of range values and times are pinned to the plot's edges.
        {{sample(3, 300, 0)}, at(3, 1), purple, true},
        {{sample(3, 0, 120)}, at(3, 1), yellow, true},
        {{sample(-1, 127.5, 0)}, at(0, 0.5), purple, true},
        // Further ahead than the window is wide: left out, not piled up on the right edge.
        {{sample(-12 - 1 / 3600.0, 127.5, 0)}, at(0, 0.5), purple, false},
        // Rising luma given out of order: in time order the line passes halfway between the
        // two older samples; in the given order it would run 15 points lower there.
        {unordered, at(8.5, 110 / 255.0), purple, true},
        {unordered, at(8.5, 75 / 255.0), purple, false},
    };
    for (const auto& [samples, point, hue, drawn] : cases) {
        view.setSamples(samples);
        const QColor c = view.grab().toImage().pixelColor(point.toPoint());
        EXPECT_EQ(hue(c), drawn) << point.x() << "," << point.y() << " " << c.name().toStdString();
    }
}

}  // namespace
}  // namespace pellora::test
