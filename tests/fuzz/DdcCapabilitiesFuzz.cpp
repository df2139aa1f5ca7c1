// A capabilities string read from a hostile monitor, through the transport. Input: the bytes
// of the replies, 38 per read. Whatever comes back, the read ends (within 4096 characters and
// a bounded number of requests), and what it returns is ASCII text that can be stored.

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
        const std::string& raw = caps->rawString;
        fuzz::check(std::all_of(raw.begin(), raw.end(), [](unsigned char c) { return c < 0x80; }));
        fuzz::check(caps->encodeJSON().has_value());
    }
    return 0;
}
