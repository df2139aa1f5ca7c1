#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace pellora::test {

// This process's open file descriptors, one "fd -> target" per line: a device closed after
// use leaves the list as it was.
inline std::string openDescriptors() {
    std::string text;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code unreadable;
        auto target = std::filesystem::read_symlink(it->path(), unreadable);
        // Closed by another thread between the listing and the look: not open any more.
        if (unreadable) {
            continue;
        }
        // The listing's own descriptor: its number is whichever was free when it was opened,
        // so it would differ between two lists of the same open files.
        if (target == std::filesystem::path("/proc/" + std::to_string(::getpid()) + "/fd")) {
            continue;
        }
        text += it->path().filename().string() + " -> " + target.string() + "\n";
    }
    return text;
}

// Waits up to `limit` for the descriptors to come back to `expected`, calling `settle` (drains
// the program's queues) before each look: other threads hold descriptors for a moment.
inline std::string descriptorsSettledAt(const std::string& expected,
                                        const std::function<void()>& settle,
                                        std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        settle();
        std::string now = openDescriptors();
        if (now == expected || std::chrono::steady_clock::now() >= deadline) {
            return now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace pellora::test
