#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pellora {

// The identity fields of an EDID base block.
struct EdidIdentity {
    std::uint32_t vendor = 0;  // manufacturer ID, big-endian as stored (e.g. 0x10AC for "DEL")
    std::uint32_t model = 0;   // product code
    std::uint32_t serial = 0;  // 32-bit serial number
    std::optional<std::string> name;  // display-name descriptor (0xFC), trimmed
    bool operator==(const EdidIdentity&) const = default;
};

constexpr std::size_t edidBlockLength = 128;

// Nothing when `bytes` is not an EDID base block (short, wrong header or bad checksum).
std::optional<EdidIdentity> parseEdid(std::span<const std::uint8_t> bytes);

// The first `limit` bytes of a sysfs "edid" file; fewer (or none) when it is shorter, cannot
// be read or is not a regular file.
std::vector<std::uint8_t> readEdidFile(const std::filesystem::path& path,
                                       std::size_t limit = edidBlockLength);

}  // namespace pellora
