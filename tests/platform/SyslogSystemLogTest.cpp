#include "platform/linux/SyslogSystemLog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"

namespace pellora::test {
namespace {

// What the terminal has been sent so far.
std::string drain(int master) {
    std::string out;
    char buffer[4096];
    pollfd p{master, POLLIN, 0};
    while (::poll(&p, 1, 100) == 1) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, std::size_t(n));
    }
    return out;
}

// Run from a terminal whose output the user paused (Ctrl-S), the log, which the main thread
// calls, still returns at once; debug.log and the journal keep what the terminal could not take.
TEST(SyslogSystemLog, APausedTerminalHoldsUpNoOneAndLinesGoWhole) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master) {
        GTEST_SKIP() << "no pseudo terminals here";
    }
    ASSERT_TRUE(::grantpt(master.get()) == 0 && ::unlockpt(master.get()) == 0);
    UniqueFd slave(::open(::ptsname(master.get()), O_RDWR | O_NOCTTY));
    std::fflush(stderr);
    UniqueFd saved(::dup(STDERR_FILENO));
    ASSERT_TRUE(slave && saved && ::dup2(slave.get(), STDERR_FILENO) == STDERR_FILENO);
    {
        SyslogSystemLog log;
        ASSERT_EQ(::write(master.get(), "\x13", 1), 1);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int i = 0; i < 100; ++i) {
                log.write("Snapshot OK: luma=" + std::to_string(i));
            }
            done = true;
        });
        for (int i = 0; i < 40 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(done) << "the logging thread waits on the paused terminal";
        ASSERT_EQ(::write(master.get(), "\x11", 1), 1);  // Ctrl-Q
        drain(master.get());
        writer.join();
        log.write("resumed");
        EXPECT_NE(drain(master.get()).find("resumed\r\n"), std::string::npos);
    }
    ::dup2(saved.get(), STDERR_FILENO);
}

}  // namespace
}  // namespace pellora::test
