#include "platform/QuitSignals.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <vector>

#include "QtTestApp.h"

namespace pellora::test {
namespace {

volatile sig_atomic_t previousCaught = 0;

void recordPrevious(int signal) {
    previousCaught = signal;
}

TEST(QuitSignals, EachSignalReachesTheEventLoopAndTheOldHandlersComeBack) {
    test::qtApp();
    previousCaught = 0;
    struct sigaction previous {};
    previous.sa_handler = recordPrevious;
    // SIGHUP: the terminal closed, or logind ending the session just after its SIGTERM.
    const int caught[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(::sigaction(caught[i], &previous, &saved[i]), 0);
    }

    std::vector<int> received;
    auto quit = QuitSignals::install([&](int signal) { received.push_back(signal); });
    ASSERT_TRUE(quit);
    EXPECT_FALSE(QuitSignals::install([](int) {})) << "one at a time";
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_EQ(::raise(SIGINT), 0);
    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_TRUE(received.empty()) << "the handler itself calls nothing";
    runEventsUntil([&] { return received.size() == 3; }, 500);
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));

    quit.reset();
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(previousCaught, SIGTERM);
    for (int i = 0; i < 3; ++i) {
        ::sigaction(caught[i], &saved[i], nullptr);
    }
}

}  // namespace
}  // namespace pellora::test
