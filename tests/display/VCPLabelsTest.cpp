#include "display/VCPLabels.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace pellora::test {
namespace {

// A few labels as the user sees them, and values the window must show as plain numbers ("").
TEST(VCPLabels, KnownLabelsAndGaps) {
    const auto& color = VCPLabels::colorPreset();
    const auto& picture = VCPLabels::pictureMode();
    const auto& input = VCPLabels::inputSource();
    const std::tuple<const VCPLabels::Table&, std::uint8_t, std::string> cases[] = {
        {color, 0x05, "6500 K"},
        {color, 0x0E, ""},
        {picture, 0x0B, "Reading / Low Blue Light"},
        {picture, 0x09, ""},
        {input, 0x0F, "DisplayPort 1"},
        {input, 0x05, ""}};
    for (const auto& [table, value, label] : cases) {
        EXPECT_EQ(table.contains(value) ? table.at(value) : "", label) << int(value);
    }
    EXPECT_EQ(std::tuple(color.size(), picture.size(), input.size()), std::tuple(13u, 11u, 8u));
}

}  // namespace
}  // namespace pellora::test
