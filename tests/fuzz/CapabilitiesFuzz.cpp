// The capabilities parser (its stored record has a target of its own). Beyond not crashing,
// what it parses is kept whole and survives a trip through the stored form unchanged.

#include <algorithm>

#include "FuzzCheck.h"
#include "display/MonitorCapabilities.h"

using pellora::MonitorCapabilities;
using pellora::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = pellora::fuzz::text(data, size);
    MonitorCapabilities caps = MonitorCapabilities::parse(text);
    check(caps.rawString == text);
    for (const auto& [code, values] : caps.vcps) {
        check(values.size() <= size);
    }
    // What the DDC reader hands over is ASCII, which must always be storable; other text
    // that is not UTF-8 may not be.
    const auto encoded = caps.encodeJSON();
    check(encoded ||
          !std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }));
    if (encoded) {
        const auto decoded = MonitorCapabilities::decodeJSON(*encoded);
        check(decoded && *decoded == caps);
    }
    return 0;
}
