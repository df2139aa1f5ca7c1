#pragma once

#include <filesystem>
#include <iterator>

namespace pellora::test {

// How many file descriptors this process has open: a device closed after use leaves the
// count where it was.
inline int openDescriptors() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return int(std::distance(begin(entries), end(entries)));
}

}  // namespace pellora::test
