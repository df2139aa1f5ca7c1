#include "display/VCPLabels.h"

#include <gtest/gtest.h>

#include <tuple>

namespace pellora::test {
namespace {

// A few labels as the user sees them, and values the window must show as plain numbers.
TEST(VCPLabels, KnownLabelsAndGaps) {
    const auto& color = VCPLabels::colorPreset();
    const auto& picture = VCPLabels::pictureMode();
    const auto& input = VCPLabels::inputSource();
    EXPECT_EQ(std::tuple(color.at(0x05), picture.at(0x0B), input.at(0x0F)),
              std::tuple("6500 K", "Reading / Low Blue Light", "DisplayPort 1"));
    EXPECT_FALSE(color.contains(0x0E) || picture.contains(0x09) || input.contains(0x05));
    EXPECT_EQ(std::tuple(color.size(), picture.size(), input.size()), std::tuple(13u, 11u, 8u));
}

}  // namespace
}  // namespace pellora::test
