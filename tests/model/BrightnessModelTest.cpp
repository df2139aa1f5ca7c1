#include "model/BrightnessModel.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

namespace pellora {
namespace {

Sample at(int hour, double luma, int brightness, bool userSet) {
    return Sample{1718960400.0, luma, brightness, hour, userSet};
}

// Every cell other than [row][column] is untouched.
void expectOnlyCell(const BrightnessModel& model, int row, int column, double sum, double weight) {
    for (int r = 0; r < BrightnessModel::hourBins; ++r) {
        for (int c = 0; c < BrightnessModel::lumaBins; ++c) {
            const bool target = r == row && c == column;
            EXPECT_EQ(model.sums[r][c], target ? sum : 0.0) << "sums[" << r << "][" << c << "]";
            EXPECT_EQ(model.weights[r][c], target ? weight : 0.0)
                << "weights[" << r << "][" << c << "]";
        }
    }
}

TEST(BrightnessModelTraining, UserSampleLateAndBrightCountsFiveTimes) {
    const BrightnessModel model = BrightnessModel::train({at(23, 255, 80, true)});
    expectOnlyCell(model, 5, 15, 400.0, 5.0);
}

TEST(BrightnessModelTraining, LumaSixteenIsTheFirstStepOfTheSecondColumn) {
    expectOnlyCell(BrightnessModel::train({at(0, 15.9, 30, false)}), 0, 0, 30.0, 1.0);
    expectOnlyCell(BrightnessModel::train({at(0, 16.0, 30, false)}), 0, 1, 30.0, 1.0);
}

TEST(BrightnessModelTraining, TotalWeightCountsUserSamplesFiveTimes) {
    std::vector<Sample> samples;
    for (int i = 0; i < 10; ++i) {
        samples.push_back(at(i * 2, i * 25.0, 50, i < 2));
    }
    EXPECT_DOUBLE_EQ(BrightnessModel::train(samples).totalWeight(), 18.0);
}

TEST(BrightnessModelTraining, NoSamplesGiveAnEmptyTable) {
    const BrightnessModel model = BrightnessModel::train({});
    EXPECT_EQ(model, BrightnessModel{});
    EXPECT_EQ(model.totalWeight(), 0.0);
}

TEST(BrightnessModelTraining, SamplesOfOneCellAccumulate) {
    const BrightnessModel model = BrightnessModel::train(
        {at(12, 100, 40, false), at(13, 101.5, 60, true), at(15, 111.99, 70, false)});
    // 40 + 5 * 60 + 70 over weights 1 + 5 + 1, all in row 3, column 6.
    expectOnlyCell(model, 3, 6, 410.0, 7.0);
}

TEST(BrightnessModelTraining, NonFiniteLumaHasNoCell) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const BrightnessModel model =
        BrightnessModel::train({at(9, nan, 50, true), at(9, inf, 50, false), at(9, -inf, 50, false),
                                at(9, 40, 50, false)});
    expectOnlyCell(model, 2, 2, 50.0, 1.0);
}

struct RowCase {
    int hour;
    int row;
};

class BrightnessModelRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(BrightnessModelRows, FourHoursARowClampedAtBothEnds) {
    EXPECT_EQ(BrightnessModel::row(GetParam().hour), GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(Hours, BrightnessModelRows,
                         ::testing::Values(RowCase{INT_MIN, 0}, RowCase{-5, 0}, RowCase{-1, 0},
                                           RowCase{0, 0}, RowCase{3, 0}, RowCase{4, 1},
                                           RowCase{7, 1}, RowCase{8, 2}, RowCase{11, 2},
                                           RowCase{12, 3}, RowCase{15, 3}, RowCase{16, 4},
                                           RowCase{19, 4}, RowCase{20, 5}, RowCase{23, 5},
                                           RowCase{24, 5}, RowCase{1000, 5}, RowCase{INT_MAX, 5}));

struct ColumnCase {
    double luma;
    int column;
};

class BrightnessModelColumns : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(BrightnessModelColumns, SixteenLumaStepsAColumnClampedAtBothEnds) {
    EXPECT_EQ(BrightnessModel::column(GetParam().luma), GetParam().column)
        << "luma " << GetParam().luma;
}

INSTANTIATE_TEST_SUITE_P(
    Lumas, BrightnessModelColumns,
    ::testing::Values(ColumnCase{-1e300, 0}, ColumnCase{-17.0, 0}, ColumnCase{-0.5, 0},
                      ColumnCase{0.0, 0}, ColumnCase{5e-324, 0}, ColumnCase{15.999999, 0},
                      ColumnCase{16.0, 1}, ColumnCase{31.99, 1}, ColumnCase{32.0, 2},
                      ColumnCase{127.5, 7}, ColumnCase{239.99, 14}, ColumnCase{240.0, 15},
                      ColumnCase{255.0, 15}, ColumnCase{255.9, 15}, ColumnCase{256.0, 15},
                      ColumnCase{3e9, 15}, ColumnCase{1e300, 15}));

}  // namespace
}  // namespace pellora
