// libFuzzer target for the capabilities parser and its stored JSON record.
//
//   cmake --preset fuzz && cmake --build --preset fuzz
//   build/fuzz/tests/fuzz/CapabilitiesFuzz -max_len=8192 -max_total_time=60
//
// The same bytes are fed to both the parser and the decoder; beyond not crashing, the
// results must survive a trip through the stored form unchanged.

#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "display/MonitorCapabilities.h"

using pellora::MonitorCapabilities;
using pellora::fuzz::check;

namespace {

void checkRoundTrip(const MonitorCapabilities& caps) {
    auto encoded = caps.encodeJSON();
    if (!encoded) {
        return;  // text that is not UTF-8
    }
    auto decoded = MonitorCapabilities::decodeJSON(*encoded);
    check(decoded.has_value());
    check(*decoded == caps);
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    MonitorCapabilities caps = MonitorCapabilities::parse(text);
    check(caps.rawString == text);
    for (const auto& [code, values] : caps.vcps) {
        check(values.size() <= size);
    }
    // What the DDC reader hands over is ASCII, which must always be storable.
    check(!isAscii(text) || caps.encodeJSON().has_value());
    checkRoundTrip(caps);

    if (auto stored = MonitorCapabilities::decodeJSON(text)) {
        checkRoundTrip(*stored);
    }
    return 0;
}
