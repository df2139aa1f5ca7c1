#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace pellora {

// Readable names for the values of the three monitor controls the preferences window offers.
// A value missing from a table has no label; the caller decides what to show instead.
class VCPLabels {
  public:
    using Table = std::map<std::uint8_t, std::string>;

    VCPLabels() = delete;

    static const Table& colorPreset();  // VCP 0x14
    static const Table& pictureMode();  // VCP 0xDC
    static const Table& inputSource();  // VCP 0x60
};

}  // namespace pellora
