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
    double start = clock.monotonic();

    Queue::Task note(std::string what) {
        return [this, what] { ran.push_back(what + "@" + std::to_string(int(elapsed()))); };
    }
    double elapsed() const { return clock.monotonic() - start; }
};

TEST_F(VirtualDispatch, WorkRunsOnlyWhenTheClockMovesInDueThenCallOrder) {
    main->postAfter(30, note("30"));
    worker->postAfter(10, note("10"));
    main->postAfter(10, note("10b"));
    main->post(note("now"));
    worker->post(note("now b"));
    EXPECT_TRUE(ran.empty());
    clock.runPending();
    EXPECT_EQ(ran, (std::vector<std::string>{"now@0", "now b@0"}));
    clock.advance(9.999);
    EXPECT_EQ(ran.size(), 2u);
    clock.advance(25);
    EXPECT_EQ(ran, (std::vector<std::string>{"now@0", "now b@0", "10@10", "10b@10", "30@30"}));
    EXPECT_DOUBLE_EQ(elapsed(), 34.999);
}

TEST_F(VirtualDispatch, WorkPostedByWorkRunsInTheSameAdvanceWhenDue) {
    main->postAfter(1, [&] {
        ran.push_back("first");
        worker->post(note("hop"));
        main->postAfter(2, note("later"));
        main->postAfter(50, note("too late"));
    });
    clock.advance(10);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "hop@1", "later@3"}));
}

TEST_F(VirtualDispatch, CancelledWorkAQueueDestroyedAndAWallClockChangeRunNothing) {
    main->postAfter(5, note("cancelled"))->cancel();
    worker->postAfter(1, note("dropped"));
    worker.reset();
    main->postAfter(60, note("not due"));
    clock.setWall(clock.now() + 86400);
    clock.advance(59);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(clock.pendingCount(), 1u);
}

TEST_F(VirtualDispatch, SleepMovesBothClocksAndIsRecorded) {
    double wallStart = clock.now();
    worker->post([&] {
        clock.sleep(0.08);
        clock.sleep(0.1);
    });
    clock.runPending();
    EXPECT_EQ(clock.sleeps(), (std::vector<double>{0.08, 0.1}));
    EXPECT_NEAR(elapsed(), 0.18, 1e-9);
    EXPECT_NEAR(clock.now() - wallStart, 0.18, 1e-6);
}

TEST_F(VirtualDispatch, SyncRunsEarlierWorkFirstAndEachQueueKnowsItself) {
    EXPECT_TRUE(main->isCurrent());
    EXPECT_FALSE(worker->isCurrent());
    worker->post(
        [&] { ran.push_back(worker->isCurrent() && !main->isCurrent() ? "on worker" : "?"); });
    worker->sync([&] { ran.push_back("sync"); });
    EXPECT_EQ(ran, (std::vector<std::string>{"on worker", "sync"}));
}

TEST_F(VirtualDispatch, RepeatingTimerFiresEveryIntervalUntilDestroyed) {
    {
        RepeatingTimer timer(*main, 600, note("tick"));
        clock.advance(1800);
        EXPECT_EQ(ran, (std::vector<std::string>{"tick@600", "tick@1200", "tick@1800"}));
    }
    clock.advance(6000);
    EXPECT_EQ(ran.size(), 3u);
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
    EXPECT_EQ(clock.pendingCount(), 0u);
}

}  // namespace
}  // namespace pellora::test
