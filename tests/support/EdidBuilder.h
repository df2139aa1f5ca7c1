#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellora::test {

// A valid 128-byte EDID base block with the given identity. `vendor` is the three-letter
// PNP code ("DEL"); an empty `name` leaves out the display-name descriptor.
inline std::vector<std::uint8_t> makeEdid(const std::string& vendor, std::uint16_t product,
                                          std::uint32_t serial, const std::string& name) {
    std::vector<std::uint8_t> e(128, 0);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), e.begin());
    std::uint16_t id = std::uint16_t(((vendor[0] - 'A' + 1) << 10) | ((vendor[1] - 'A' + 1) << 5) |
                                     (vendor[2] - 'A' + 1));
    e[8] = std::uint8_t(id >> 8);
    e[9] = std::uint8_t(id & 0xFF);
    e[10] = std::uint8_t(product & 0xFF);
    e[11] = std::uint8_t(product >> 8);
    for (int i = 0; i < 4; ++i) {
        e[12 + i] = std::uint8_t(serial >> (8 * i));
    }
    e[18] = 1;
    e[19] = 4;  // EDID 1.4
    // Descriptor 1 (offset 54): a detailed timing would go here; leave a dummy descriptor.
    e[54 + 3] = 0x10;
    if (!name.empty()) {
        std::size_t d = 72;
        e[d + 3] = 0xFC;
        std::size_t i = 0;
        for (; i < name.size() && i < 13; ++i) {
            e[d + 5 + i] = std::uint8_t(name[i]);
        }
        if (i < 13) {
            e[d + 5 + i++] = 0x0A;
        }
        for (; i < 13; ++i) {
            e[d + 5 + i] = 0x20;
        }
    }
    std::uint8_t sum = 0;
    for (int i = 0; i < 127; ++i) {
        sum = std::uint8_t(sum + e[i]);
    }
    e[127] = std::uint8_t(0x100 - sum);
    return e;
}

}  // namespace pellora::test
