// libFuzzer target for the EDID parser, fed what a monitor (or a faked sysfs) may hand over.
//
//   cmake --preset fuzz && cmake --build --preset fuzz --target EdidFuzz
//   build/fuzz/tests/fuzz/EdidFuzz -max_len=512 -max_total_time=60 tests/fuzz/corpus/EdidFuzz
//
// Beyond not crashing: only a whole base block with the header and a zero checksum is
// accepted, blocks after it change nothing, and the identity is what the bytes say.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/linux/Edid.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    std::optional<pellora::EdidIdentity> id = pellora::parseEdid(bytes);
    if (!id) {
        return 0;
    }
    check(size >= pellora::edidBlockLength);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < pellora::edidBlockLength; ++i) {
        check(i >= 8 || data[i] == header[i]);
        sum = std::uint8_t(sum + data[i]);
    }
    check(sum == 0);
    check(pellora::parseEdid(bytes.first(pellora::edidBlockLength)) == id);
    check(id->vendor == (std::uint32_t(data[8]) << 8 | data[9]));
    check(id->model == (std::uint32_t(data[11]) << 8 | data[10]));
    check(id->serial == (std::uint32_t(data[15]) << 24 | std::uint32_t(data[14]) << 16 |
                         std::uint32_t(data[13]) << 8 | data[12]));
    if (id->name) {
        // Shown to the user and stored: at most one descriptor's 13 printable ASCII bytes,
        // trimmed.
        const std::string& name = *id->name;
        check(!name.empty() && name.size() <= 13);
        check(name.front() != ' ' && name.back() != ' ');
        for (char c : name) {
            check(c >= 0x20 && c < 0x7F);
        }
    }
    return 0;
}
