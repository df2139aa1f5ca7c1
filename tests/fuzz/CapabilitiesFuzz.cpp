// The capabilities parser: what it parses is kept whole and survives the stored form.

#include <algorithm>

#include "FuzzCheck.h"
#include "display/MonitorCapabilities.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::text(data, size);
    MonitorCapabilities caps = MonitorCapabilities::parse(text);
    fuzz::check(caps.rawString == text);
    // What the DDC reader hands over is ASCII, which must always be storable; other text
    // that is not UTF-8 may not be.
    const auto encoded = caps.encodeJSON();
    fuzz::check(
        encoded ? MonitorCapabilities::decodeJSON(*encoded) == caps
                : !std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }));
    return 0;
}
