// libFuzzer target: the stored JSON record of a monitor's capabilities, as another machine
// or a damaged settings file may hold it.
//
//   build/fuzz/tests/fuzz/StoredCapabilitiesFuzz -max_total_time=60 \
//       tests/fuzz/corpus/StoredCapabilitiesFuzz
//
// Whatever decodes must encode again and decode to the same value.

#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "display/MonitorCapabilities.h"

using pellora::MonitorCapabilities;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = MonitorCapabilities::decodeJSON(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded) {
        return 0;
    }
    // What was read from JSON is valid UTF-8, so it can be written back.
    auto encoded = decoded->encodeJSON();
    pellora::fuzz::check(encoded.has_value());
    auto again = MonitorCapabilities::decodeJSON(*encoded);
    pellora::fuzz::check(again && *again == *decoded);
    return 0;
}
