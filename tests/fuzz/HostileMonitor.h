#pragma once

// A monitor that answers DDC/CI with whatever bytes the fuzzer chooses, behind the real
// transport.

#include <algorithm>
#include <cerrno>

#include "FuzzCheck.h"
#include "display/DDCService.h"

namespace pellora::fuzz {

struct NullLog final : LogSink, SystemLog {
    void log(std::string_view, std::string_view) override {}
    void write(const std::string&) override {}
};

// Each read takes the next bytes of the input, as many as asked for; an input that has run
// out answers EIO, like a monitor that stopped talking.
struct HostileMonitor final : DisplayI2C {
    struct Channel final : DisplayI2CChannel {
        HostileMonitor& monitor;
        explicit Channel(HostileMonitor& m) : monitor(m) {}
        int write(std::uint8_t, std::uint8_t, std::span<const std::uint8_t>) override {
            ++monitor.writes;
            return 0;
        }
        int read(std::uint8_t, std::uint8_t, std::span<std::uint8_t> buffer) override {
            ++monitor.reads;
            if (monitor.input.size() < buffer.size()) {
                return EIO;
            }
            std::copy_n(monitor.input.begin(), buffer.size(), buffer.begin());
            monitor.input = monitor.input.subspan(buffer.size());
            return 0;
        }
    };

    explicit HostileMonitor(std::span<const std::uint8_t> bytes) : input(bytes) {}
    std::unique_ptr<DisplayI2CChannel> open() override { return std::make_unique<Channel>(*this); }

    std::span<const std::uint8_t> input;
    int writes = 0;
    int reads = 0;
};

}  // namespace pellora::fuzz
