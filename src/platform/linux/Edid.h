#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace pellora {

// The identity fields of an EDID base block.
struct EdidIdentity {
    std::uint32_t vendor = 0;  // manufacturer ID, big-endian as stored (e.g. 0x10AC for "DEL")
    std::uint32_t model = 0;   // product code
    std::uint32_t serial = 0;  // 32-bit serial number
    std::optional<std::string> name;  // display-name descriptor (0xFC), trimmed
    bool operator==(const EdidIdentity&) const = default;
};

// Nothing when `bytes` is not an EDID base block (short, wrong header or bad checksum).
std::optional<EdidIdentity> parseEdid(std::span<const std::uint8_t> bytes);

}  // namespace pellora
