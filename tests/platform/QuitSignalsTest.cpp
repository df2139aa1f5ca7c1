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
    struct sigaction saved[2];
    ASSERT_EQ(::sigaction(SIGINT, &previous, &saved[0]), 0);
    ASSERT_EQ(::sigaction(SIGTERM, &previous, &saved[1]), 0);

    std::vector<int> received;
    auto quit = QuitSignals::install([&](int signal) { received.push_back(signal); });
    ASSERT_TRUE(quit);
    EXPECT_FALSE(QuitSignals::install([](int) {})) << "one at a time";
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_TRUE(received.empty()) << "the handler itself calls nothing";
    runEventsUntil([&] { return received.size() == 2; }, 500);
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));

    quit.reset();
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(previousCaught, SIGTERM);
    ::sigaction(SIGINT, &saved[0], nullptr);
    ::sigaction(SIGTERM, &saved[1], nullptr);
}

}  // namespace
}  // namespace pellora::test
