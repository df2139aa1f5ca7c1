#pragma once

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace pellora::test {

// A valid 128-byte EDID 1.4 base block with the given identity. `vendor` is the three-letter
// PNP code ("DEL"); an empty `name` leaves out the display-name descriptor.
inline std::vector<std::uint8_t> makeEdid(const std::string& vendor, std::uint16_t product,
                                          std::uint32_t serial, const std::string& name) {
    std::vector<std::uint8_t> e = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    e.resize(128);
    int id = (vendor[0] - 'A' + 1) << 10 | (vendor[1] - 'A' + 1) << 5 | (vendor[2] - 'A' + 1);
    e[8] = std::uint8_t(id >> 8);
    e[9] = std::uint8_t(id);
    e[10] = std::uint8_t(product);
    e[11] = std::uint8_t(product >> 8);
    for (int i = 0; i < 4; ++i) {
        e[12 + i] = std::uint8_t(serial >> (8 * i));
    }
    e[18] = 1;
    e[19] = 4;
    e[54 + 3] = 0x10;  // a dummy descriptor where the detailed timing would be
    if (!name.empty()) {
        // Descriptor 2: 0xFC, up to 13 characters, a line end if there is room, blank padding.
        std::string text = (name.substr(0, 13) + "\n").substr(0, 13);
        text.resize(13, ' ');
        e[72 + 3] = 0xFC;
        std::copy(text.begin(), text.end(), e.begin() + 72 + 5);
    }
    e[127] = std::uint8_t(0x100 - std::accumulate(e.begin(), e.end() - 1, 0));
    return e;
}

}  // namespace pellora::test
