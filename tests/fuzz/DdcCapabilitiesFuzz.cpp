// libFuzzer target: a capabilities string read from a hostile monitor, through the transport.
//
//   build/fuzz/tests/fuzz/DdcCapabilitiesFuzz -max_total_time=60 \
//       tests/fuzz/corpus/DdcCapabilitiesFuzz
//
// Input: the bytes of the replies, 38 per read. Whatever comes back, the read ends (within
// 4096 characters and a bounded number of requests), and what it returns is ASCII text
// that parses.

#include "HostileMonitor.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InstantClock clock;
    fuzz::NullLog log;
    fuzz::HostileMonitor monitor(std::span(data, size));
    DDCService ddc(monitor, clock, log, log);
    auto caps = ddc.readCapabilities();
    // 4096 characters need at least 128 fragments, each asked for at most four times.
    fuzz::check(monitor.writes <= 4 * (4096 + 1));
    if (caps) {
        fuzz::check(caps->rawString.size() < 4096 + 32);
        for (char c : caps->rawString) {
            fuzz::check(static_cast<unsigned char>(c) < 0x80);
        }
        fuzz::check(caps->encodeJSON().has_value());
    }
    return 0;
}
