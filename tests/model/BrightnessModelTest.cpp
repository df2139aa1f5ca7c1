#include "model/BrightnessModel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace pellora {
namespace {

Sample at(int hour, double luma, int brightness, bool userSet) {
    return Sample{1718960400.0, luma, brightness, hour, userSet};
}

TEST(BrightnessModel, EachSampleGoesToItsFourHourBySixteenLumaCellTheUsersFiveTimesOver) {
    // The one cell (row, column) that holds anything, its sum and weight, from the samples.
    struct Case {
        int row, column;
        double sum, weight;
        std::vector<Sample> samples;
    } cases[] = {
        {5, 15, 400, 5, {at(23, 255, 80, 1)}},
        {0, 1, 30, 1, {at(0, 16.0, 30, 0)}},
        {3, 6, 410, 7, {at(12, 100, 40, 0), at(13, 101.5, 60, 1), at(15, 111.99, 70, 0)}},
        {2, 2, 50, 1, {at(9, NAN, 50, 1), at(9, INFINITY, 50, 0), at(9, 40, 50, 0)}},
    };
    for (const Case& c : cases) {
        BrightnessModel expected;
        expected.sums[c.row][c.column] = c.sum;
        expected.weights[c.row][c.column] = c.weight;
        EXPECT_EQ(BrightnessModel::train(c.samples), expected) << c.row << ", " << c.column;
    }
    EXPECT_EQ(BrightnessModel::train({at(0, 1, 50, 1), at(4, 1, 50, 0)}).totalWeight(), 6.0);
    for (const auto& [hour, row] : {std::pair{INT_MIN, 0}, {3, 0}, {4, 1}, {INT_MAX, 5}}) {
        EXPECT_EQ(BrightnessModel::row(hour), row) << hour;
    }
    for (const auto& [luma, column] :
         {std::pair{NAN, 0}, {-1e300, 0}, {15.999, 0}, {239.99, 14}, {3e9, 15}}) {
        EXPECT_EQ(BrightnessModel::column(luma), column) << luma;
    }
}

}  // namespace
}  // namespace pellora
