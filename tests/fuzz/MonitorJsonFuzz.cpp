// libFuzzer target: a monitor's stored identity record ({"vendor","model","serial"}).
//
//   build/fuzz/tests/fuzz/MonitorJsonFuzz -max_total_time=60 tests/fuzz/corpus/MonitorJsonFuzz
//
// Whatever decodes must encode again to a record that decodes to the same monitor.

#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "display/Monitor.h"

using pellora::Monitor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto monitor = Monitor::decodeJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    pellora::fuzz::check(!monitor || Monitor::decodeJSON(monitor->encodeJSON()) == monitor);
    return 0;
}
