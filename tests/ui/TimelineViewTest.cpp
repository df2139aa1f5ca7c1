#include "ui/TimelineView.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <cmath>
#include <limits>

#include "VirtualClock.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

// At 528×140 the plot runs from x 36 (12 hours ago) to 492 (now), 456 wide, and from y 124
// up to 16, 108 high.
constexpr double kHour = 3600;

double xFor(double hoursAgo) {
    return 36 + 456 * (1 - hoursAgo / 12);
}
double yFor(double fraction) {
    return 124 - 108 * fraction;
}

bool purple(QColor c) {
    return c.blue() > c.green() + 60 && c.red() > c.green() + 40;
}
bool yellow(QColor c) {
    return c.red() > 200 && c.green() > 150 && c.blue() < 120;
}
bool red(QColor c) {
    return c.red() > 200 && c.green() < 120 && c.blue() < 120;
}

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
        return {clock.now() - hoursAgo * kHour, luma, brightness, 0, userSet};
    }
    QColor at(double x, double y) {
        return view.grab().toImage().pixelColor(static_cast<int>(std::lround(x)),
                                                static_cast<int>(std::lround(y)));
    }
};

TEST_F(Timeline, ManualSamplesCarryARedMarkOnTheirBrightness) {
    for (bool userSet : {true, false}) {
        view.setSamples({sample(6, 0, 50, userSet)});
        const QColor mark = at(xFor(6), yFor(0.5));
        EXPECT_EQ(red(mark), userSet) << mark.name().toStdString();
        EXPECT_EQ(yellow(mark), !userSet) << mark.name().toStdString();
    }
}

TEST_F(Timeline, TheWindowStartsExactlyTwelveHoursAgo) {
    // Luma 127.5 sits halfway up; luma 300 and brightness 120 are pinned to the top edge, and
    // a sample from the future to the right edge.
    const std::tuple<Sample, QPointF, bool> cases[] = {
        {sample(12, 127.5, 0), {xFor(12), yFor(0.5)}, true},
        {sample(12 + 1 / kHour, 127.5, 0), {xFor(12), yFor(0.5)}, false},
        {sample(3, 300, 0), {xFor(3), yFor(1)}, true},
        {sample(-1, 127.5, 0), {xFor(0), yFor(0.5)}, true},
    };
    for (const auto& [s, point, drawn] : cases) {
        view.setSamples({s});
        EXPECT_EQ(purple(at(point.x(), point.y())), drawn) << point.x() << "," << point.y();
    }
    view.setSamples({sample(3, 0, 120)});
    EXPECT_TRUE(yellow(at(xFor(3), yFor(1))));
}

TEST_F(Timeline, OneSampleDrawsDotsButNoLine) {
    // Purple pixels outside the dot and the legend's swatch would be a line.
    const auto strayPurple = [&] {
        const QImage image = view.grab().toImage();
        int stray = 0;
        for (int y = 20; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const bool nearDot = std::hypot(x - xFor(6), y - yFor(0.2)) <= 4;
                stray += purple(image.pixelColor(x, y)) && !nearDot;
            }
        }
        return stray;
    };
    view.setSamples({sample(6, 0.2 * 255, 50)});
    EXPECT_TRUE(purple(at(xFor(6), yFor(0.2))));
    EXPECT_EQ(strayPurple(), 0);
    view.setSamples({sample(6, 0.2 * 255, 50), sample(2, 255, 50)});
    EXPECT_GT(strayPurple(), 100);
}

TEST_F(Timeline, SamplesOutOfOrderAreJoinedInTimeOrder) {
    // Rising luma over time. Joined in the given order, the line would run from the newest
    // sample straight to the oldest, 15 points below the true line halfway between the two
    // older ones.
    view.setSamples({sample(1, 240, 50), sample(11, 20, 50), sample(6, 200, 50)});
    const double x = xFor(8.5);
    EXPECT_TRUE(purple(at(x, yFor(110 / 255.0))));
    EXPECT_FALSE(purple(at(x, yFor(75 / 255.0))));
}

TEST_F(Timeline, OnlySensibleWindowsAreTaken) {
    const std::pair<double, double> cases[] = {
        {24, 24},
        {0, 24},
        {-1, 24},
        {std::nan(""), 24},
        {std::numeric_limits<double>::infinity(), 24},
        {1e9, 24},
        {0.5, 0.5},
    };
    for (const auto& [hours, expected] : cases) {
        view.setHours(hours);
        EXPECT_EQ(view.hours(), expected) << hours;
    }
}

}  // namespace
}  // namespace pellora::test
