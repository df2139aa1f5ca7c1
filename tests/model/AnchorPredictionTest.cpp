// The day and night curves, their blend towards the default line, the night cross-fade and
// the rounding of the prediction.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "TestEnvironment.h"
#include "model/AnchorStore.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.anchorsV1";

// A store that loads exactly `anchors`, stamped `ageDays` before now.
std::shared_ptr<AnchorStore> storeWith(TestEnvironment& env, std::vector<Anchor> anchors,
                                       double ageDays = 0) {
    for (auto& a : anchors) {
        a.t = env.clock.now() - ageDays * 86400.0;
    }
    env.settings->set(kKey, Bytes{*AnchorStore::encode(anchors)});
    return AnchorStore::create(kMonitor, *env.settings, env.clock, env.log.get());
}

TEST(AnchorPrediction, WithoutAnchorsThereIsNoPredictionAndTheSamplesAreTheDefaultLine) {
    TestEnvironment env;
    auto store = storeWith(env, {});
    EXPECT_EQ(store->predict(100, 12), std::nullopt);
    const auto points = store->curveSamples(12, 8.0);
    ASSERT_EQ(points.size(), 32u);
    EXPECT_EQ(points.front().luma, 0.0);
    EXPECT_EQ(points.back().luma, 248.0);
    const std::vector<std::pair<double, double>> expected = {
        {0, 20.0},   {8, 20.0},   {16, 20.0},   {24, 22.0},  {96, 58.0},
        {104, 62.0}, {176, 98.0}, {184, 100.0}, {248, 100.0}};
    for (const auto& [luma, brightness] : expected) {
        const auto& p = points[static_cast<std::size_t>(luma / 8)];
        EXPECT_EQ(p.luma, luma);
        EXPECT_DOUBLE_EQ(p.brightness, brightness) << "luma " << luma;
    }
}

TEST(AnchorPrediction, OneFreshAnchorCountsOneFifthAtEveryHour) {
    TestEnvironment env;
    auto store = storeWith(env, {{100, 50, 12, 0, 1.0}});
    for (double hour : {0.0, 3.0, 7.0, 8.0, 12.0, 21.0, 23.5}) {
        EXPECT_EQ(store->predict(100, hour), 58) << hour;  // 0.8 × 60 + 0.2 × 50
        EXPECT_EQ(store->predict(20, hour), 26) << hour;   // 0.8 × 20 + 0.2 × 50
    }
}

TEST(AnchorPrediction, AgedEvidenceDrawsTheCurveBackTowardsTheDefaultLine) {
    TestEnvironment env;
    // Weight 5 thirty days old is 2.5 now: confidence one half.
    auto store = storeWith(env, {{100, 100, 12, 0, 5.0}}, 30);
    EXPECT_EQ(store->predict(100, 12), 80);  // 0.5 × 60 + 0.5 × 100
}

TEST(AnchorPrediction, NightWeightFollowsTheRamps) {
    struct Case {
        double hour, weight;
    };
    const double s = 0.25 * 0.25 * (3 - 2 * 0.25);  // smoothstep(0.25)
    for (const auto& c : std::vector<Case>{{0.0, 1.0},
                                           {6.99, 1.0},
                                           {7.0, 1.0},
                                           {7.5, 1.0 - s},
                                           {8.0, 0.5},
                                           {9.0, 0.0},
                                           {14.0, 0.0},
                                           {20.0, 0.0},
                                           {20.5, s},
                                           {21.0, 0.5},
                                           {22.0, 1.0},
                                           {23.9, 1.0}}) {
        EXPECT_NEAR(AnchorStore::nightWeight(c.hour), c.weight, 1e-12) << c.hour;
    }
}

TEST(AnchorPrediction, DayAndNightCurvesCrossFade) {
    TestEnvironment env;
    // Full confidence in both: day says 80, night says 20, at every luma.
    auto store = storeWith(env, {{100, 80, 12, 0, 5.0}, {100, 20, 23, 0, 5.0}});
    struct Case {
        double hour;
        int expected;
    };
    for (const auto& c : std::vector<Case>{{8.0, 50},
                                           {9.0, 80},
                                           {14.0, 80},
                                           {20.0, 80},
                                           {21.0, 50},
                                           {22.0, 20},
                                           {23.0, 20},
                                           {3.0, 20},
                                           {7.0, 20},
                                           {7.5, 29}}) {  // 20 × 0.84375 + 80 × 0.15625
        EXPECT_EQ(store->predict(60, c.hour), c.expected) << c.hour;
    }
}

TEST(AnchorPrediction, OnlyOnePeriodPresentDecidesAtEveryHour) {
    TestEnvironment env;
    auto store = storeWith(env, {{100, 20, 23, 0, 5.0}});
    EXPECT_EQ(store->predict(100, 12), 20);
    EXPECT_EQ(store->predict(100, 2), 20);
}

TEST(AnchorPrediction, AnchorsLessThanOneLumaApartFoldIntoOneWeightedKnot) {
    TestEnvironment env;
    // Fold: luma 100.375, brightness 70, weight 4 (confidence 0.8). Unfolded, luma 0 would
    // take the lower knot's 40.
    auto store = storeWith(env, {{100.0, 40, 12, 0, 1.0}, {100.5, 80, 12, 0, 3.0}});
    EXPECT_EQ(store->predict(0, 12), 60);        // 0.2 × 20 + 0.8 × 70
    EXPECT_EQ(store->predict(255, 12), 76);      // 0.2 × 100 + 0.8 × 70
    EXPECT_EQ(store->predict(100.375, 12), 68);  // 0.2 × 60.1875 + 0.8 × 70
}

TEST(AnchorPrediction, KnotsNeverFallAndAreFlatBeyondBothEnds) {
    TestEnvironment env;
    auto falling = storeWith(env, {{50, 60, 12, 0, 2.5}, {150, 40, 12, 0, 2.5}});
    for (double luma : {0.0, 50.0, 100.0, 150.0, 255.0}) {
        EXPECT_EQ(falling->predict(luma, 12), 60) << luma;
    }
    TestEnvironment env2;
    auto rising = storeWith(env2, {{150, 80, 12, 0, 2.5}, {50, 40, 12, 0, 2.5}});
    EXPECT_EQ(rising->predict(0, 12), 40);
    EXPECT_EQ(rising->predict(75, 12), 50);
    EXPECT_EQ(rising->predict(100, 12), 60);
    EXPECT_EQ(rising->predict(140, 12), 76);
    EXPECT_EQ(rising->predict(255, 12), 80);
}

TEST(AnchorPrediction, RoundsHalvesAwayFromZeroAndStaysWithinZeroToHundred) {
    struct Case {
        double brightness;
        int expected;
    };
    for (const auto& c : std::vector<Case>{
             {99.5, 100}, {99.49, 99}, {140, 100}, {0.5, 1}, {2.5, 3}, {0.49, 0}, {-10, 0}}) {
        TestEnvironment env;
        auto store = storeWith(env, {{100, c.brightness, 12, 0, 5.0}});
        EXPECT_EQ(store->predict(100, 12), c.expected) << c.brightness;
    }
}

TEST(AnchorPrediction, CurveSamplesArePredictionsAtEachStep) {
    TestEnvironment env;
    auto store = storeWith(env, {{40, 30, 12, 0, 2.0}, {200, 90, 23, 0, 4.0}});
    for (double hour : {12.0, 21.0, 23.0}) {
        const auto points = store->curveSamples(hour, 8.0);
        ASSERT_EQ(points.size(), 32u);
        for (const auto& p : points) {
            EXPECT_EQ(p.brightness, double(*store->predict(p.luma, hour))) << p.luma;
        }
    }
    EXPECT_EQ(store->curveSamples(12, 100).size(), 3u);  // 0, 100, 200
    EXPECT_EQ(store->curveSamples(12, 255).size(), 2u);  // 0 and 255 itself
}

TEST(AnchorPrediction, StepsThatAreNotPositiveOrAbsurdlyFineGiveNoSamples) {
    TestEnvironment env;
    auto store = storeWith(env, {{40, 30, 12, 0, 2.0}});
    for (double step : {0.0, -8.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e-9}) {
        EXPECT_TRUE(store->curveSamples(12, step).empty()) << step;
    }
}

}  // namespace
}  // namespace pellora::test
