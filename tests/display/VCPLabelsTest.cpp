#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "display/VCPLabels.h"

namespace pellora::test {
namespace {

struct LabelTableCase {
    const char* name;
    const VCPLabels::Table& (*table)();
    std::vector<std::pair<int, std::string>> entries;  // exactly the labelled values
};

class LabelTable : public testing::TestWithParam<LabelTableCase> {};

// The labels are shown to the user as they stand; every other byte must stay unlabelled so
// the preferences window falls back to "Value 0x%02X" for it.
TEST_P(LabelTable, LabelsExactlyTheListedValues) {
    const VCPLabels::Table& table = GetParam().table();
    EXPECT_EQ(table.size(), GetParam().entries.size());
    for (int value = 0; value <= 0xFF; ++value) {
        auto listed = std::find_if(GetParam().entries.begin(), GetParam().entries.end(),
                                   [&](const auto& entry) { return entry.first == value; });
        auto found = table.find(static_cast<std::uint8_t>(value));
        if (listed == GetParam().entries.end()) {
            EXPECT_EQ(found, table.end()) << "unexpected label for " << value;
        } else {
            ASSERT_NE(found, table.end()) << "no label for " << value;
            EXPECT_EQ(found->second, listed->second);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(VCPLabels, LabelTable,
                         testing::Values(LabelTableCase{"ColorPreset",
                                                        &VCPLabels::colorPreset,
                                                        {{0x01, "sRGB"},
                                                         {0x02, "Native"},
                                                         {0x03, "4000 K"},
                                                         {0x04, "5000 K"},
                                                         {0x05, "6500 K"},
                                                         {0x06, "7500 K"},
                                                         {0x07, "8200 K"},
                                                         {0x08, "9300 K"},
                                                         {0x09, "10000 K"},
                                                         {0x0A, "11500 K"},
                                                         {0x0B, "User 1"},
                                                         {0x0C, "User 2"},
                                                         {0x0D, "User 3"}}},
                                         LabelTableCase{"PictureMode",
                                                        &VCPLabels::pictureMode,
                                                        {{0x00, "Off"},
                                                         {0x01, "Standard"},
                                                         {0x02, "Productivity"},
                                                         {0x03, "Mixed"},
                                                         {0x04, "Movie"},
                                                         {0x05, "User"},
                                                         {0x06, "Game"},
                                                         {0x07, "Sports"},
                                                         {0x08, "Professional"},
                                                         {0x0B, "Reading / Low Blue Light"},
                                                         {0x0F, "Web"}}},
                                         LabelTableCase{"InputSource",
                                                        &VCPLabels::inputSource,
                                                        {{0x01, "Analog 1"},
                                                         {0x02, "Analog 2"},
                                                         {0x03, "DVI 1"},
                                                         {0x04, "DVI 2"},
                                                         {0x0F, "DisplayPort 1"},
                                                         {0x10, "DisplayPort 2"},
                                                         {0x11, "HDMI 1"},
                                                         {0x12, "HDMI 2"}}}),
                         [](const testing::TestParamInfo<LabelTableCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace pellora::test
