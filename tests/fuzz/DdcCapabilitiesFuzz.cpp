// A capabilities string from a hostile monitor (input: the replies, 38 bytes a read): the read
// ends within bounded requests and returns storable ASCII text under 4096 + 32 characters.

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
        const std::string& raw = caps->rawString;
        fuzz::check(raw.size() < 4096 + 32 && caps->encodeJSON().has_value() &&
                    std::all_of(raw.begin(), raw.end(), [](unsigned char c) { return c < 0x80; }));
    }
    return 0;
}
