// A monitor's stored identity record ({"vendor","model","serial"}): whatever decodes must
// encode again to a record that decodes to the same monitor.

#include "FuzzCheck.h"
#include "display/Monitor.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto monitor = Monitor::decodeJSON(fuzz::text(data, size));
    fuzz::check(!monitor || Monitor::decodeJSON(monitor->encodeJSON()) == monitor);
    return 0;
}
