// The day and night curves, their blend towards the default line, the night cross-fade and
// the rounding of the prediction.

#include <gtest/gtest.h>

#include <limits>

#include "AnchorStoreFixture.h"

namespace pellora::test {
namespace {

struct Expect {
    double luma, hour;
    int brightness;
};

void expectPredictions(const std::vector<Anchor>& anchors, const std::vector<Expect>& table,
                       double ageDays = 0) {
    AnchorStoreFixture f(anchors, ageDays);
    for (const Expect& e : table) {
        EXPECT_EQ(f.store->predict(e.luma, e.hour), e.brightness)
            << "luma " << e.luma << " at " << e.hour;
    }
}

TEST(AnchorPrediction, WithoutAnchorsThereIsNoPredictionAndTheSamplesAreTheDefaultLine) {
    AnchorStoreFixture f;
    EXPECT_EQ(f.store->predict(100, 12), std::nullopt);
    const auto points = f.store->curveSamples(12, 8.0);
    ASSERT_EQ(points.size(), 32u);
    for (const auto& [luma, brightness] : std::vector<std::pair<double, double>>{
             {0, 20}, {16, 20}, {24, 22}, {96, 58}, {104, 62}, {176, 98}, {184, 100}, {248, 100}}) {
        EXPECT_EQ(points[std::size_t(luma / 8)], (CurvePoint{luma, brightness}));
    }
}

TEST(AnchorPrediction, ThinEvidenceIsDrawnTowardsTheDefaultLine) {
    // One fresh anchor of weight 1: confidence one fifth, at every hour.
    expectPredictions({{100, 50, 12, 0, 1.0}},
                      {{100, 0, 58}, {100, 7, 58}, {100, 23.5, 58}, {20, 3, 26}, {20, 12, 26}});
    // Weight 5 thirty days old is 2.5 now: confidence one half.
    expectPredictions({{100, 100, 12, 0, 5.0}}, {{100, 12, 80}}, 30);
}

TEST(AnchorPrediction, NightWeightFollowsTheRamps) {
    const double s = 0.25 * 0.25 * (3 - 2 * 0.25);  // smoothstep(0.25)
    for (const auto& [hour, weight] : std::vector<std::pair<double, double>>{{0, 1},
                                                                             {7, 1},
                                                                             {7.5, 1 - s},
                                                                             {8, 0.5},
                                                                             {9, 0},
                                                                             {20, 0},
                                                                             {20.5, s},
                                                                             {21, 0.5},
                                                                             {22, 1},
                                                                             {23.9, 1}}) {
        EXPECT_NEAR(AnchorStore::nightWeight(hour), weight, 1e-12) << hour;
    }
}

TEST(AnchorPrediction, DayAndNightCurvesCrossFadeAndOnePeriodAloneDecidesAtEveryHour) {
    // Full confidence in both: day says 80, night says 20, at every luma.
    expectPredictions({{100, 80, 12, 0, 5.0}, {100, 20, 23, 0, 5.0}},
                      {{60, 8, 50},
                       {60, 9, 80},
                       {60, 20, 80},
                       {60, 21, 50},
                       {60, 22, 20},
                       {60, 3, 20},
                       {60, 7, 20},
                       {60, 7.5, 29}});  // 20 × 0.84375 + 80 × 0.15625
    expectPredictions({{100, 20, 23, 0, 5.0}}, {{100, 12, 20}, {100, 2, 20}});
}

TEST(AnchorPrediction, KnotsFoldWithinOneLumaNeverFallAndAreFlatBeyondBothEnds) {
    // Folded: luma 100.375, brightness 70, weight 4 (confidence 0.8). Unfolded, luma 0 would
    // take the lower knot's 40.
    expectPredictions({{100.0, 40, 12, 0, 1.0}, {100.5, 80, 12, 0, 3.0}},
                      {{0, 12, 60}, {255, 12, 76}, {100.375, 12, 68}});
    expectPredictions({{50, 60, 12, 0, 2.5}, {150, 40, 12, 0, 2.5}},
                      {{0, 12, 60}, {50, 12, 60}, {100, 12, 60}, {150, 12, 60}, {255, 12, 60}});
    expectPredictions({{150, 80, 12, 0, 2.5}, {50, 40, 12, 0, 2.5}},
                      {{0, 12, 40}, {75, 12, 50}, {100, 12, 60}, {140, 12, 76}, {255, 12, 80}});
}

TEST(AnchorPrediction, RoundsHalvesAwayFromZeroAndStaysWithinZeroToHundred) {
    for (const auto& [brightness, expected] : std::vector<std::pair<double, int>>{
             {99.5, 100}, {99.49, 99}, {140, 100}, {0.5, 1}, {2.5, 3}, {0.49, 0}, {-10, 0}}) {
        expectPredictions({{100, brightness, 12, 0, 5.0}}, {{100, 12, expected}});
    }
}

TEST(AnchorPrediction, CurveSamplesArePredictionsAtEachStep) {
    AnchorStoreFixture f({{40, 30, 12, 0, 2.0}, {200, 90, 23, 0, 4.0}});
    for (double hour : {12.0, 21.0, 23.0}) {
        const auto points = f.store->curveSamples(hour, 8.0);
        ASSERT_EQ(points.size(), 32u);
        for (const auto& p : points) {
            EXPECT_EQ(p.brightness, double(*f.store->predict(p.luma, hour))) << p.luma;
        }
    }
    EXPECT_EQ(f.store->curveSamples(12, 255).size(), 2u);  // 0 and 255 itself
    for (double step : {0.0, -8.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e-9}) {
        EXPECT_TRUE(f.store->curveSamples(12, step).empty()) << step;
    }
}

}  // namespace
}  // namespace pellora::test
