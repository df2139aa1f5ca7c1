// Get VCP Feature replies from a hostile monitor, through the transport. Input: the VCP code
// asked for, then the bytes of the replies (11 per read). Whatever comes back, a value is only
// ever one whose maximum is not 0, and a get never makes more than its two attempts.

#include "HostileMonitor.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    fuzz::InstantClock clock;
    fuzz::NullLog log;
    fuzz::HostileMonitor monitor(std::span(data + 1, size - 1));
    DDCService ddc(monitor, clock, log, log);
    auto value = ddc.getVCP(data[0]);
    fuzz::check(!value || value->max != 0);
    fuzz::check(monitor.reads <= 2 && monitor.writes <= 2);
    // The parser alone, on the whole input.
    auto reply = DDCService::parseGetReply(data[0], std::span(data + 1, size - 1));
    fuzz::check(reply.value.has_value() == reply.failure.empty());
    return 0;
}
