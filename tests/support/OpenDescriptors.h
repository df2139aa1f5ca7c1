#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>

namespace pellora::test {

// How many file descriptors this process has open: a device closed after use leaves the
// count where it was.
inline int openDescriptors() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return int(std::distance(begin(entries), end(entries)));
}

// What each open descriptor refers to, one "fd -> target" per line, for a failure message.
inline std::string describeOpenDescriptors() {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        auto target = std::filesystem::read_symlink(entry.path(), error);
        text += entry.path().filename().string() + " -> " + (error ? "?" : target.string()) + "\n";
    }
    return text;
}

// Waits up to `limit` for the count to come back to `expected`, calling `settle` (which
// drains the test's own queues) before each look: other threads of the process, such as
// the debug log mirroring its file, hold descriptors for a moment.
inline int descriptorsSettledAt(int expected, const std::function<void()>& settle,
                                std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        settle();
        int count = openDescriptors();
        if (count == expected || std::chrono::steady_clock::now() >= deadline) {
            return count;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace pellora::test
