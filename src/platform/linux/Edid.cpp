#include "platform/linux/Edid.h"

#include <array>

#include "platform/linux/SysfsAttribute.h"

namespace pellora {

namespace {

constexpr std::array<std::uint8_t, 8> kHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

std::optional<std::string> descriptorText(std::span<const std::uint8_t> d) {
    // Up to 13 bytes of text, ended by a line feed and padded with spaces.
    std::string text;
    for (std::size_t i = 5; i < 18; ++i) {
        std::uint8_t c = d[i];
        if (c == 0x0A || c == 0x00) {
            break;
        }
        text += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    while (!text.empty() && text.front() == ' ') {
        text.erase(text.begin());
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::optional<EdidIdentity> parseEdid(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 128) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kHeader.size(); ++i) {
        if (bytes[i] != kHeader[i]) {
            return std::nullopt;
        }
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 128; ++i) {
        sum = std::uint8_t(sum + bytes[i]);
    }
    if (sum != 0) {
        return std::nullopt;
    }
    EdidIdentity id;
    id.vendor = (std::uint32_t(bytes[8]) << 8) | bytes[9];
    id.model = std::uint32_t(bytes[10]) | (std::uint32_t(bytes[11]) << 8);
    id.serial = std::uint32_t(bytes[12]) | (std::uint32_t(bytes[13]) << 8) |
                (std::uint32_t(bytes[14]) << 16) | (std::uint32_t(bytes[15]) << 24);
    // Four 18-byte descriptors from offset 54; a display descriptor starts with 00 00 00 tag.
    for (std::size_t offset = 54; offset + 18 <= 126; offset += 18) {
        auto d = bytes.subspan(offset, 18);
        if (d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 0xFC) {
            id.name = descriptorText(d);
            break;
        }
    }
    return id;
}

std::vector<std::uint8_t> readEdidFile(const std::filesystem::path& path, std::size_t limit) {
    std::optional<std::string> bytes = readSysfsAttribute(path, limit);
    if (!bytes) {
        return {};
    }
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace pellora
