#include <gtest/gtest.h>

#include "EdidBuilder.h"
#include "TempDir.h"
#include "platform/linux/I2cBusLocator.h"

namespace pellora::test {
namespace {

struct FakeSysfs {
    TempDir dir;
    std::filesystem::path connector = dir / "drm" / "card1-DP-1";
    std::filesystem::path i2c = dir / "i2c-dev";
    std::vector<std::uint8_t> edid = makeEdid("DEL", 0xA0C5, 77, "DELL");

    FakeSysfs() {
        writeFile(connector / "edid", std::string(edid.begin(), edid.end()));
        for (int n : {0, 3, 7, 12}) {
            std::filesystem::create_directories(i2c / ("i2c-" + std::to_string(n)));
        }
    }
};

TEST(I2cBusLocator, DdcLinkComesFirst) {
    FakeSysfs fs;
    std::filesystem::create_symlink("../../i2c-dev/i2c-7", fs.connector / "ddc");
    std::filesystem::create_directories(fs.connector / "i2c-12");
    I2cBusLocator locator(fs.i2c, [](int) { return std::nullopt; });
    auto found = locator.busFor(fs.connector);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 7);
    EXPECT_EQ(found->how, "ddc link");
}

TEST(I2cBusLocator, DpAuxAdapterBeneathTheConnector) {
    FakeSysfs fs;
    std::filesystem::create_directories(fs.connector / "i2c-12");
    std::filesystem::create_directories(fs.connector / "drm_dp_aux0");
    auto found = I2cBusLocator(fs.i2c, [](int) { return std::nullopt; }).busFor(fs.connector);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 12);
    EXPECT_EQ(found->how, "DP-AUX adapter");
}

TEST(I2cBusLocator, EdidMatchAcrossBusesOtherwise) {
    FakeSysfs fs;
    std::vector<int> asked;
    auto other = makeEdid("GSM", 1, 2, "LG");
    I2cBusLocator locator(fs.i2c, [&](int bus) -> std::optional<std::vector<std::uint8_t>> {
        asked.push_back(bus);
        if (bus == 3) {
            return other;
        }
        if (bus == 7) {
            return fs.edid;
        }
        return std::nullopt;
    });
    auto found = locator.busFor(fs.connector);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 7);
    EXPECT_EQ(found->how, "EDID match");
    EXPECT_EQ(asked, (std::vector<int>{0, 3, 7}));
}

TEST(I2cBusLocator, NoBusWhenNothingMatchesOrTheConnectorHasNoEdid) {
    FakeSysfs fs;
    I2cBusLocator locator(fs.i2c, [](int) { return std::nullopt; });
    EXPECT_FALSE(locator.busFor(fs.connector));
    std::filesystem::remove(fs.connector / "edid");
    EXPECT_FALSE(I2cBusLocator(fs.i2c, [&](int) { return fs.edid; }).busFor(fs.connector));
}

TEST(I2cBusLocator, BusNumbersParseStrictly) {
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-0"), 0);
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-15"), 15);
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-"), std::nullopt);
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-3x"), std::nullopt);
    EXPECT_EQ(I2cBusLocator::busNumber("i2c--1"), std::nullopt);
    EXPECT_EQ(I2cBusLocator::busNumber("drm_dp_aux0"), std::nullopt);
}

}  // namespace
}  // namespace pellora::test
