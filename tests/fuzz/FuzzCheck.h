#pragma once

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Clock.h"

namespace pellora::fuzz {

// A property of the code under test that failed: abort, so libFuzzer keeps the input.
inline void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A clock whose waits cost nothing.
struct InstantClock final : Clock {
    double t = 1718960400.0;
    double now() const override { return t; }
    double monotonic() const override { return t; }
    void sleep(double seconds) override { t += seconds; }
};

}  // namespace pellora::fuzz
