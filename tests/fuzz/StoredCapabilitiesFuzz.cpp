// libFuzzer target: the stored JSON record of a monitor's capabilities, as another machine
// or a damaged settings file may hold it.
//
//   build/fuzz/tests/fuzz/StoredCapabilitiesFuzz -max_total_time=60 \
//       tests/fuzz/corpus/StoredCapabilitiesFuzz
//
// Whatever decodes must encode again and decode to the same value.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "display/MonitorCapabilities.h"

using pellora::MonitorCapabilities;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = MonitorCapabilities::decodeJSON(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded) {
        return 0;
    }
    auto encoded = decoded->encodeJSON();
    if (!encoded) {
        std::abort();  // what was read from JSON is valid UTF-8, so it can be written back
    }
    auto again = MonitorCapabilities::decodeJSON(*encoded);
    if (!again || *again != *decoded) {
        std::abort();
    }
    return 0;
}
