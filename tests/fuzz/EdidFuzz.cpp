// The EDID parser: only a whole base block with the header and a zero checksum is accepted,
// blocks after it change nothing, and the identity is what the bytes say.

#include <algorithm>
#include <numeric>
#include <span>

#include "FuzzCheck.h"
#include "platform/linux/Edid.h"

using namespace pellora;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    std::optional<EdidIdentity> id = parseEdid(bytes);
    if (!id) {
        return 0;
    }
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    check(size >= edidBlockLength && std::equal(std::begin(header), std::end(header), data) &&
          std::accumulate(data, data + edidBlockLength, 0) % 256 == 0 &&
          parseEdid(bytes.first(edidBlockLength)) == id &&
          id->vendor == (std::uint32_t(data[8]) << 8 | data[9]) &&
          id->model == (std::uint32_t(data[11]) << 8 | data[10]) &&
          id->serial == (std::uint32_t(data[15]) << 24 | std::uint32_t(data[14]) << 16 |
                         std::uint32_t(data[13]) << 8 | data[12]));
    if (id->name) {
        // Shown to the user and stored: one descriptor's 13 printable ASCII bytes at most.
        const std::string& name = *id->name;
        check(!name.empty() && name.size() <= 13 && name.front() != ' ' && name.back() != ' ' &&
              std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
    }
    return 0;
}
