#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VirtualClock.h"
#include "platform/RepeatingTimer.h"

namespace pellora::test {
namespace {

struct VirtualDispatch : ::testing::Test {
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    std::unique_ptr<ManualQueue> worker = clock.makeQueue("pellora.worker");
    std::vector<std::string> ran;
};

TEST_F(VirtualDispatch, PostedWorkWaitsForTheClockAndRunsInCallOrder) {
    main->post([&] { ran.push_back("a"); });
    worker->post([&] { ran.push_back("b"); });
    main->post([&] { ran.push_back("c"); });
    EXPECT_TRUE(ran.empty());
    clock.runPending();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(VirtualDispatch, DelayedWorkRunsInDueOrderAtItsDueTime) {
    double start = clock.monotonic();
    std::vector<double> at;
    main->postAfter(30, [&] {
        ran.push_back("30");
        at.push_back(clock.monotonic() - start);
    });
    worker->postAfter(10, [&] {
        ran.push_back("10");
        at.push_back(clock.monotonic() - start);
    });
    main->postAfter(10, [&] {
        ran.push_back("10b");
        at.push_back(clock.monotonic() - start);
    });
    clock.advance(9.999);
    EXPECT_TRUE(ran.empty());
    clock.advance(25);
    EXPECT_EQ(ran, (std::vector<std::string>{"10", "10b", "30"}));
    EXPECT_EQ(at, (std::vector<double>{10, 10, 30}));
    EXPECT_DOUBLE_EQ(clock.monotonic() - start, 34.999);
}

TEST_F(VirtualDispatch, CancelledItemNeverRuns) {
    auto item = main->postAfter(5, [&] { ran.push_back("cancelled"); });
    main->postAfter(6, [&] { ran.push_back("kept"); });
    item->cancel();
    clock.advance(100);
    EXPECT_EQ(ran, (std::vector<std::string>{"kept"}));
}

TEST_F(VirtualDispatch, WorkPostedByWorkRunsInTheSameAdvanceWhenDue) {
    main->postAfter(1, [&] {
        ran.push_back("first");
        worker->post([&] { ran.push_back("hop"); });
        main->postAfter(2, [&] { ran.push_back("later"); });
        main->postAfter(50, [&] { ran.push_back("too late"); });
    });
    clock.advance(10);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "hop", "later"}));
}

TEST_F(VirtualDispatch, SleepMovesTimeAndIsRecorded) {
    double start = clock.monotonic();
    double wallStart = clock.now();
    worker->post([&] {
        clock.sleep(0.08);
        clock.sleep(0.1);
    });
    clock.runPending();
    EXPECT_EQ(clock.sleeps(), (std::vector<double>{0.08, 0.1}));
    EXPECT_NEAR(clock.monotonic() - start, 0.18, 1e-9);
    EXPECT_NEAR(clock.now() - wallStart, 0.18, 1e-6);
}

TEST_F(VirtualDispatch, SyncRunsEarlierWorkOfThatQueueFirst) {
    worker->post([&] { ran.push_back("earlier"); });
    worker->sync([&] { ran.push_back("sync"); });
    EXPECT_EQ(ran, (std::vector<std::string>{"earlier", "sync"}));
}

TEST_F(VirtualDispatch, IsCurrentKnowsWhichQueueRuns) {
    EXPECT_TRUE(main->isCurrent());
    EXPECT_FALSE(worker->isCurrent());
    bool workerSawItself = false;
    bool workerSawMain = true;
    worker->post([&] {
        workerSawItself = worker->isCurrent();
        workerSawMain = main->isCurrent();
    });
    clock.runPending();
    EXPECT_TRUE(workerSawItself);
    EXPECT_FALSE(workerSawMain);
}

TEST_F(VirtualDispatch, DestroyedQueueDropsItsWork) {
    worker->postAfter(1, [&] { ran.push_back("dropped"); });
    worker.reset();
    clock.advance(5);
    EXPECT_TRUE(ran.empty());
}

TEST_F(VirtualDispatch, SettingTheWallClockRunsNothing) {
    main->postAfter(60, [&] { ran.push_back("x"); });
    clock.setWall(clock.now() + 86400);
    clock.runPending();
    EXPECT_TRUE(ran.empty());
}

TEST_F(VirtualDispatch, RepeatingTimerFiresEveryIntervalUntilDestroyed) {
    std::vector<double> fired;
    double start = clock.monotonic();
    {
        RepeatingTimer timer(*main, 600, [&] { fired.push_back(clock.monotonic() - start); });
        clock.advance(1800);
        EXPECT_EQ(fired, (std::vector<double>{600, 1200, 1800}));
    }
    clock.advance(6000);
    EXPECT_EQ(fired.size(), 3u);
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(VirtualDispatch, RepeatingTimerStoppedFromItsOwnTaskFiresNoMore) {
    int count = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = std::make_unique<RepeatingTimer>(*main, 5, [&] {
        if (++count == 2) {
            timer->stop();
        }
    });
    clock.advance(100);
    EXPECT_EQ(count, 2);
}

TEST_F(VirtualDispatch, ThirtyDaysOfFiveMinuteTimerRunsDeterministically) {
    int count = 0;
    RepeatingTimer timer(*worker, 300, [&] { ++count; });
    clock.advance(30 * 86400.0);
    EXPECT_EQ(count, 30 * 86400 / 300);
}

}  // namespace
}  // namespace pellora::test
