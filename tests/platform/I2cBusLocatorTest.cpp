#include "platform/linux/I2cBusLocator.h"

#include <gtest/gtest.h>

#include "EdidBuilder.h"
#include "TempDir.h"

namespace pellora::test {
namespace {

struct FakeSysfs {
    TempDir dir;
    std::filesystem::path connector = dir / "drm" / "card1-DP-1";
    std::filesystem::path i2c = dir / "i2c-dev";
    std::vector<std::uint8_t> edid = makeEdid("DEL", 0xA0C5, 77, "DELL");
    std::vector<int> asked;  // buses whose EDID was read
    std::error_code error;   // of the set-up; a step that fails shows in what is found

    FakeSysfs() {
        writeFile(connector / "edid", std::string(edid.begin(), edid.end()));
        for (int n : {0, 3, 7, 12}) {
            std::filesystem::create_directories(i2c / ("i2c-" + std::to_string(n)), error);
        }
    }
    // Bus 3 holds another monitor, bus 7 this one.
    std::optional<I2cBusLocator::Found> locate() {
        return I2cBusLocator(i2c,
                             [this](int bus) -> std::optional<std::vector<std::uint8_t>> {
                                 asked.push_back(bus);
                                 if (bus == 3) {
                                     return makeEdid("GSM", 1, 2, "LG");
                                 }
                                 return bus == 7 ? std::optional(edid) : std::nullopt;
                             })
            .busFor(connector);
    }
};

TEST(I2cBusLocator, DdcLinkThenDpAuxAdapterThenEdidMatch) {
    FakeSysfs fs;
    auto found = fs.locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 7);
    EXPECT_EQ(found->how, "EDID match");
    EXPECT_EQ(fs.asked, (std::vector<int>{0, 3, 7}));

    std::filesystem::create_directories(fs.connector / "i2c-12", fs.error);
    std::filesystem::create_directories(fs.connector / "drm_dp_aux0", fs.error);
    found = fs.locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 12);
    EXPECT_EQ(found->how, "DP-AUX adapter");

    std::filesystem::create_symlink("../../i2c-dev/i2c-3", fs.connector / "ddc", fs.error);
    found = fs.locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bus, 3);
    EXPECT_EQ(found->how, "ddc link");
}

TEST(I2cBusLocator, NoBusWhenNothingMatchesOrTheConnectorHasNoEdid) {
    FakeSysfs fs;
    fs.edid = makeEdid("DEL", 0xA0C5, 78, "DELL");  // bus 7 now holds a sibling monitor
    EXPECT_FALSE(fs.locate());
    std::filesystem::remove(fs.connector / "edid", fs.error);
    fs.asked.clear();
    EXPECT_FALSE(fs.locate());
    EXPECT_TRUE(fs.asked.empty());
}

TEST(I2cBusLocator, BusNumbersParseStrictly) {
    const std::pair<const char*, std::optional<int>> cases[] = {{"i2c-0", 0},
                                                                {"i2c-15", 15},
                                                                {"i2c-", std::nullopt},
                                                                {"i2c-3x", std::nullopt},
                                                                {"i2c--1", std::nullopt},
                                                                {"i2c-+1", std::nullopt},
                                                                {"drm_dp_aux0", std::nullopt},
                                                                {"i2c-99999999999", std::nullopt}};
    for (const auto& [name, bus] : cases) {
        EXPECT_EQ(I2cBusLocator::busNumber(name), bus) << name;
    }
}

}  // namespace
}  // namespace pellora::test
