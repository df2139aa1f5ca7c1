#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "QtTestApp.h"
#include "VirtualClock.h"
#include "platform/QtMainQueue.h"
#include "platform/RepeatingTimer.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"

namespace pellora::test {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// The period is checked where timers drive work (the debug state's rewrites).
TEST(RepeatingTimer, StoppedFromItsOwnTaskLeavesNothingPending) {
    VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    int count = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = std::make_unique<RepeatingTimer>(*main, 5, [&] {
        if (++count == 2) {
            timer->stop();
        }
    });
    clock.advance(6000);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(clock.pendingCount(), 0u);
}

// Waits for `future`; the limit only bounds a failing run on a loaded machine.
bool arrives(std::future<void> future) {
    return future.wait_for(10s) == std::future_status::ready;
}

TEST(SerialQueue, RunsOneItemAtATimeKeepingEachPostersOrder) {
    SystemClock clock;
    SerialQueue queue("pellora.test", clock);
    std::atomic<int> running{0};
    std::atomic<bool> overlappedOrOffQueue{false};
    std::vector<std::pair<int, int>> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                queue.post([&, t, i] {
                    bool alone = running.fetch_add(1) == 0 && queue.isCurrent();
                    overlappedOrOffQueue = overlappedOrOffQueue || !alone;
                    seen.emplace_back(t, i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    queue.sync([] {});
    EXPECT_FALSE(overlappedOrOffQueue || queue.isCurrent());
    ASSERT_EQ(seen.size(), 2000u);
    int next[4] = {0, 0, 0, 0};
    for (auto [t, i] : seen) {
        ASSERT_EQ(i, next[t]++) << "thread " << t;
    }
}

TEST(SerialQueue, DelayedWorkRunsInDueOrderCancelledWorkNeverAndDestroyingDropsWhatIsNotDue) {
    SystemClock clock;
    std::vector<int> order;  // touched only on the queue
    std::atomic<bool> lateRan{false};
    {
        SerialQueue queue("pellora.test", clock);
        // The queue is held until the cancel is made, so a slow test thread cannot let the
        // cancelled item fall due first.
        std::promise<void> cancelMade, last;
        queue.post([&] { order.push_back(1); });
        queue.post([done = cancelMade.get_future().share()] { done.wait(); });
        queue.postAfter(0.06, [&] {
            order.push_back(3);
            last.set_value();
        });
        auto cancelled = queue.postAfter(0.02, [&] { order.push_back(99); });
        queue.postAfter(0.03, [&] { order.push_back(2); });
        cancelled->cancel();
        cancelMade.set_value();
        // Had the cancelled item run, it would have run before the last one.
        ASSERT_TRUE(arrives(last.get_future()));
        for (int i = 0; i < 100; ++i) {
            queue.post([&] { order.push_back(4); });
        }
        queue.postAfter(3600, [&] { lateRan = true; });
    }
    EXPECT_EQ(order.size(), 103u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(lateRan);
}

TEST(SystemClock, TimeScaleShortensRealDurations) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(SystemClock(60.0).realDuration(60), nanoseconds(1'000'000'000));
    EXPECT_EQ(SystemClock(60.0).realDuration(-5), nanoseconds(0));
    EXPECT_EQ(SystemClock(0.0).timeScale(), 1.0);  // no scale stops or reverses time
    EXPECT_EQ(SystemClock(1.0).realDuration(1e300), nanoseconds(1'000'000'000'000'000'000));
    // An hour of clock time passes in 100 ms at this scale; unscaled the wait would fail.
    SystemClock fast(36000.0);
    SerialQueue queue("pellora.test", fast);
    std::promise<void> done;
    queue.postAfter(3600, [&] { done.set_value(); });
    EXPECT_TRUE(arrives(done.get_future()));
}

TEST(QtMainQueue, RunsPostedAndDelayedWorkOnTheEventLoopThread) {
    QCoreApplication& app = qtApp();
    SystemClock clock;
    QtMainQueue main(clock);
    SerialQueue worker("pellora.test", clock);
    Strings order;
    std::atomic<bool> allOnMain{true};
    auto record = [&](std::string what) {
        allOnMain = allOnMain && main.isCurrent();
        order.push_back(std::move(what));
    };
    main.post([&] { record("posted"); });
    main.postAfter(0.01, [&] { record("cancelled"); })->cancel();
    main.postAfter(0.04, [&] {
        record("delayed");
        app.quit();
    });
    // Posting from another thread lands on the main thread too.
    worker.post([&] { main.post([&] { record("from worker"); }); });
    worker.sync([] {});
    // Another thread can wait for the main queue while the loop runs.
    std::thread waiter([&] { main.sync([&] { record("sync"); }); });
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // a bound for a run gone wrong
    app.exec();
    waiter.join();
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(order.back(), "delayed");
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (Strings{"delayed", "from worker", "posted", "sync"}));
}

// On the fastest desk a real millisecond is 100 clock seconds: a wait cut to whole
// milliseconds would end an adjustment's 180 s dwell after 100, before its check may run.
TEST(QtMainQueue, DelayedWorkOnAFastClockNeverRunsEarly) {
    QCoreApplication& app = qtApp();
    SystemClock fast(100000.0);
    QtMainQueue main(fast);
    const double asked = 180.0;
    std::vector<double> waited;
    for (int i = 0; i < 5; ++i) {
        main.postAfter(asked, [&, at = fast.monotonic()] {
            waited.push_back(fast.monotonic() - at);
            if (waited.size() == 5) {
                app.quit();
            }
        });
    }
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // a bound for a run gone wrong
    app.exec();
    ASSERT_EQ(waited.size(), 5u);
    for (double seconds : waited) {
        EXPECT_GE(seconds, asked);
    }
}

// A task posted from a worker runs, and is let go, on the main thread, so whatever it holds
// (a QObject's last reference, say) is never destroyed on the poster's thread.
TEST(QtMainQueue, ReleasesATaskPostedFromAnotherThreadOnTheMainThread) {
    QCoreApplication& app = qtApp();
    SystemClock clock;
    QtMainQueue main(clock);
    std::atomic<int> offMain{0}, ran{0};
    struct Witness {
        QtMainQueue& main;
        std::atomic<int>& offMain;
        ~Witness() { offMain += main.isCurrent() ? 0 : 1; }
    };
    std::atomic<bool> looping{false};
    main.post([&] { looping = true; });
    std::thread poster([&] {
        // Post while the loop runs, so the main thread races the poster's return from post().
        while (!looping) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 2000; ++i) {
            main.post(
                [witness = std::shared_ptr<Witness>(new Witness{main, offMain}), &ran] { ++ran; });
        }
        main.post([&app] { app.quit(); });
    });
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // a bound for a run gone wrong
    app.exec();
    poster.join();
    EXPECT_EQ(ran, 2000);
    EXPECT_EQ(offMain, 0);
}

}  // namespace
}  // namespace pellora::test
