#include "platform/linux/SyslogSystemLog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "TempDir.h"
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
        // A monitor's capabilities, a camera's name: no escape sequence of theirs gets through.
        log.write("caps: \x1b]0;owned\x07(vcp(10)) \u009b2J \u00e9\tend");
        EXPECT_EQ(drain(master.get()), "caps: ?]0;owned?(vcp(10)) ?2J \u00e9\tend\r\n");
    }
    ::dup2(saved.get(), STDERR_FILENO);
}

// A journal that has stopped reading (hung on a slow disk, being restarted) lets its socket's
// queue fill; the log, which the main thread calls, must still return at once.
TEST(SyslogSystemLog, AJournalThatStopsReadingHoldsUpNoOne) {
    TempDir dir;
    const std::string path = (dir / "log").string();
    UniqueFd journal(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(journal.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SyslogSystemLog log(path);

    // While the journal reads, a line reaches it as syslog(3) frames it.
    log.write("Pellora started");
    char first[512] = "";
    pollfd p{journal.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    const std::string text(first,
                           std::size_t(std::max<ssize_t>(::recv(journal.get(), first, 511, 0), 0)));
    EXPECT_EQ(text.rfind("<14>", 0), 0u) << text;
    const std::string tail = "pellora[" + std::to_string(::getpid()) + "]: Pellora started";
    EXPECT_TRUE(text.ends_with(tail)) << text;

    std::promise<void> written;
    std::future<void> returning = written.get_future();
    std::thread writer([&, done = std::move(written)]() mutable {
        for (int i = 0; i < 200; ++i) {
            log.write("Snapshot OK: luma=" + std::to_string(i));
        }
        done.set_value();
    });
    const bool returned = returning.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    journal.reset();  // a writer still waiting is let go
    writer.join();
    EXPECT_TRUE(returned) << "200 lines to a journal that reads none did not return in 3 s";
}

}  // namespace
}  // namespace pellora::test
