#include "display/VCPLabels.h"

namespace pellora {

const VCPLabels::Table& VCPLabels::colorPreset() {
    static const Table table = {
        {0x01, "sRGB"},   {0x02, "Native"}, {0x03, "4000 K"}, {0x04, "5000 K"},  {0x05, "6500 K"},
        {0x06, "7500 K"}, {0x07, "8200 K"}, {0x08, "9300 K"}, {0x09, "10000 K"}, {0x0A, "11500 K"},
        {0x0B, "User 1"}, {0x0C, "User 2"}, {0x0D, "User 3"},
    };
    return table;
}

const VCPLabels::Table& VCPLabels::pictureMode() {
    static const Table table = {
        {0x00, "Off"},          {0x01, "Standard"},
        {0x02, "Productivity"}, {0x03, "Mixed"},
        {0x04, "Movie"},        {0x05, "User"},
        {0x06, "Game"},         {0x07, "Sports"},
        {0x08, "Professional"}, {0x0B, "Reading / Low Blue Light"},
        {0x0F, "Web"},
    };
    return table;
}

const VCPLabels::Table& VCPLabels::inputSource() {
    static const Table table = {
        {0x01, "Analog 1"},      {0x02, "Analog 2"},      {0x03, "DVI 1"},  {0x04, "DVI 2"},
        {0x0F, "DisplayPort 1"}, {0x10, "DisplayPort 2"}, {0x11, "HDMI 1"}, {0x12, "HDMI 2"},
    };
    return table;
}

}  // namespace pellora
