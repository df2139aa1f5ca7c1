// Get VCP Feature replies from a hostile monitor (input: the code, then 11 bytes a read): a
// value never has maximum 0, and a get makes at most its two attempts.

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
    fuzz::check((!value || value->max != 0) && monitor.reads <= 2 && monitor.writes <= 2);
    auto reply = DDCService::parseGetReply(data[0], std::span(data + 1, size - 1));  // alone
    fuzz::check(reply.value.has_value() == reply.failure.empty());
    return 0;
}
