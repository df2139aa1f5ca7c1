#include "display/VCPLabels.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pellora::test {
namespace {

std::optional<std::string> label(const VCPLabels::Table& table, std::uint8_t value) {
    auto it = table.find(value);
    return it == table.end() ? std::nullopt : std::optional<std::string>(it->second);
}

// A few labels as the user sees them, and values the window must show as plain numbers.
TEST(VCPLabels, KnownLabelsAndGaps) {
    struct Case {
        const VCPLabels::Table& table;
        std::uint8_t value;
        std::optional<std::string> label;
    };
    const Case cases[] = {
        {VCPLabels::colorPreset(), 0x01, "sRGB"},
        {VCPLabels::colorPreset(), 0x05, "6500 K"},
        {VCPLabels::colorPreset(), 0x0D, "User 3"},
        {VCPLabels::colorPreset(), 0x00, std::nullopt},
        {VCPLabels::colorPreset(), 0x0E, std::nullopt},
        {VCPLabels::pictureMode(), 0x00, "Off"},
        {VCPLabels::pictureMode(), 0x0B, "Reading / Low Blue Light"},
        {VCPLabels::pictureMode(), 0x09, std::nullopt},
        {VCPLabels::pictureMode(), 0x0F, "Web"},
        {VCPLabels::inputSource(), 0x0F, "DisplayPort 1"},
        {VCPLabels::inputSource(), 0x12, "HDMI 2"},
        {VCPLabels::inputSource(), 0x05, std::nullopt},
        {VCPLabels::inputSource(), 0xFF, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(label(c.table, c.value), c.label) << int(c.value);
    }
    EXPECT_EQ(VCPLabels::colorPreset().size(), 13u);
    EXPECT_EQ(VCPLabels::pictureMode().size(), 11u);
    EXPECT_EQ(VCPLabels::inputSource().size(), 8u);
}

}  // namespace
}  // namespace pellora::test
