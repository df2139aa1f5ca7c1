// A monitor's stored capabilities record, as another machine or a damaged file may hold it:
// whatever decodes must encode again and decode to the same value.

#include "FuzzCheck.h"
#include "display/MonitorCapabilities.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = MonitorCapabilities::decodeJSON(fuzz::text(data, size));
    if (!decoded) {
        return 0;
    }
    auto encoded = decoded->encodeJSON();
    fuzz::check(encoded && MonitorCapabilities::decodeJSON(*encoded) == decoded);
    return 0;
}
