#pragma once

#include <cstdlib>

namespace pellora::fuzz {

// A property of the code under test that failed: abort, so libFuzzer keeps the input.
inline void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace pellora::fuzz
