#include "model/BrightnessModel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace pellora {
namespace {

Sample at(int hour, double luma, int brightness, bool userSet) {
    return Sample{1718960400.0, luma, brightness, hour, userSet};
}

// Only cell [row][column] holds anything.
void expectOnlyCell(const BrightnessModel& model, int row, int column, double sum, double weight) {
    BrightnessModel expected;
    expected.sums[row][column] = sum;
    expected.weights[row][column] = weight;
    EXPECT_EQ(model, expected) << "cell " << row << ", " << column;
}

TEST(BrightnessModel, TrainingAddsEachSampleToItsCellWithTheUsersFiveTimesOver) {
    const double inf = std::numeric_limits<double>::infinity();
    expectOnlyCell(BrightnessModel::train({at(23, 255, 80, true)}), 5, 15, 400, 5);
    expectOnlyCell(BrightnessModel::train({at(0, 15.9, 30, false)}), 0, 0, 30, 1);
    expectOnlyCell(BrightnessModel::train({at(0, 16.0, 30, false)}), 0, 1, 30, 1);
    expectOnlyCell(BrightnessModel::train({at(12, 100, 40, false), at(13, 101.5, 60, true),
                                           at(15, 111.99, 70, false)}),
                   3, 6, 410, 7);
    // A luma that is not a number has no cell.
    expectOnlyCell(BrightnessModel::train({at(9, std::nan(""), 50, true), at(9, inf, 50, false),
                                           at(9, -inf, 50, false), at(9, 40, 50, false)}),
                   2, 2, 50, 1);
    std::vector<Sample> samples;
    for (int i = 0; i < 10; ++i) {
        samples.push_back(at(i * 2, i * 25.0, 50, i < 2));
    }
    EXPECT_EQ(BrightnessModel::train(samples).totalWeight(), 18.0);
    EXPECT_EQ(BrightnessModel::train({}).totalWeight(), 0.0);
}

TEST(BrightnessModel, RowsAreFourHoursAndColumnsSixteenLumaClampedAtBothEnds) {
    const std::pair<int, int> rows[] = {{INT_MIN, 0}, {-1, 0}, {0, 0},  {3, 0},      {4, 1},
                                        {8, 2},       {12, 3}, {15, 3}, {16, 4},     {19, 4},
                                        {20, 5},      {23, 5}, {24, 5}, {INT_MAX, 5}};
    for (const auto& [hour, row] : rows) {
        EXPECT_EQ(BrightnessModel::row(hour), row) << hour;
    }
    const std::pair<double, int> columns[] = {{-1e300, 0}, {-0.5, 0},   {0, 0},     {15.999, 0},
                                              {16, 1},     {32, 2},     {127.5, 7}, {239.99, 14},
                                              {240, 15},   {255.9, 15}, {3e9, 15},  {1e300, 15}};
    for (const auto& [luma, column] : columns) {
        EXPECT_EQ(BrightnessModel::column(luma), column) << luma;
    }
}

}  // namespace
}  // namespace pellora
