#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>
#include "QtTestApp.h"

#include "platform/QtMainQueue.h"
#include "platform/RepeatingTimer.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"

namespace pellora {
namespace {

using namespace std::chrono_literals;

// Waits (really) for a condition. It holds within milliseconds; the limit only bounds a
// failing run on a loaded machine.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds limit = 5s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

TEST(SerialQueue, RunsOneItemAtATimeInCallOrder) {
    SystemClock clock;
    SerialQueue queue("pellora.test", clock);
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::vector<int> order;
    for (int i = 0; i < 2000; ++i) {
        queue.post([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(order[i], i);
    }
}

TEST(SerialQueue, KeepsEachThreadsOrderWhenManyThreadsPost) {
    SystemClock clock;
    SerialQueue queue("pellora.test", clock);
    std::vector<std::pair<int, int>> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                queue.post([&, t, i] { seen.emplace_back(t, i); });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 2000u);
    int next[4] = {0, 0, 0, 0};
    for (auto [t, i] : seen) {
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
    }
}

TEST(SerialQueue, DelayedWorkRunsInDueOrderAndCancelledWorkNever) {
    SystemClock clock;
    SerialQueue queue("pellora.test", clock);
    std::mutex mutex;
    std::vector<int> order;
    auto record = [&](int v) {
        std::lock_guard lock(mutex);
        order.push_back(v);
    };
    // The queue is held until the cancel is made, so a slow test thread cannot let the
    // cancelled item fall due first.
    std::promise<void> cancelMade;
    queue.post([&] { record(1); });
    queue.post([done = cancelMade.get_future().share()] { done.wait(); });
    queue.postAfter(0.06, [&] { record(3); });
    auto cancelled = queue.postAfter(0.02, [&] { record(99); });
    queue.postAfter(0.03, [&] { record(2); });
    cancelled->cancel();
    cancelMade.set_value();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return order.size() == 3;
    }));
    std::this_thread::sleep_for(30ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, TimeScaleShortensDelays) {
    SystemClock clock(1000.0);
    SerialQueue queue("pellora.test", clock);
    std::promise<void> done;
    QElapsedTimer elapsed;
    elapsed.start();
    queue.postAfter(60.0, [&] { done.set_value(); });  // a minute of clock time: 60 ms real
    ASSERT_EQ(done.get_future().wait_for(2s), std::future_status::ready);
    EXPECT_GE(elapsed.elapsed(), 55);
}

TEST(SerialQueue, IsCurrentOnlyOnItsOwnThread) {
    SystemClock clock;
    SerialQueue queue("pellora.test", clock);
    bool inside = false;
    queue.sync([&] { inside = queue.isCurrent(); });
    EXPECT_TRUE(inside);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, RepeatingTimerTicksAndStopsWhenDestroyed) {
    SystemClock clock(100.0);
    SerialQueue queue("pellora.test", clock);
    std::atomic<int> ticks{0};
    {
        RepeatingTimer timer(queue, 1.0, [&] { ++ticks; });  // every 10 ms real
        ASSERT_TRUE(eventually([&] { return ticks >= 3; }));
    }
    queue.sync([] {});
    int after = ticks;
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(ticks, after);
}

TEST(QtMainQueue, RunsPostedAndDelayedWorkOnTheEventLoopThread) {
    QCoreApplication& app = test::qtApp();
    SystemClock clock;
    QtMainQueue main(clock);
    SerialQueue worker("pellora.test", clock);

    std::vector<std::string> order;
    std::atomic<bool> allOnMain{true};
    auto record = [&](std::string what) {
        if (!main.isCurrent()) {
            allOnMain = false;
        }
        order.push_back(std::move(what));
    };
    main.post([&] { record("posted"); });
    auto cancelled = main.postAfter(0.01, [&] { record("cancelled"); });
    cancelled->cancel();
    main.postAfter(0.04, [&] {
        record("delayed");
        app.quit();
    });
    // Posting from another thread lands on the main thread too.
    worker.post([&] { main.post([&] { record("from worker"); }); });
    worker.sync([] {});
    // The worker can wait for the main queue while the loop runs.
    std::thread waiter([&] { main.sync([&] { record("sync"); }); });
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // safety net
    app.exec();
    waiter.join();
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.front(), "posted");
    EXPECT_EQ(order.back(), "delayed");
    EXPECT_NE(std::find(order.begin(), order.end(), "from worker"), order.end());
    EXPECT_NE(std::find(order.begin(), order.end(), "sync"), order.end());
}

// A task posted from a worker runs, and is let go, on the main thread, so whatever it holds
// (a QObject's last reference, say) is never destroyed on the poster's thread.
TEST(QtMainQueue, ReleasesATaskPostedFromAnotherThreadOnTheMainThread) {
    QCoreApplication& app = test::qtApp();
    SystemClock clock;
    QtMainQueue main(clock);
    struct Witness {
        Witness(QtMainQueue& queue, std::atomic<int>& counter) : main(queue), offMain(counter) {}
        QtMainQueue& main;
        std::atomic<int>& offMain;
        ~Witness() {
            if (!main.isCurrent()) {
                ++offMain;
            }
        }
    };
    std::atomic<int> offMain{0};
    std::atomic<int> ran{0};
    std::atomic<bool> looping{false};
    constexpr int kPosts = 2000;
    main.post([&] { looping = true; });
    std::thread poster([&] {
        // Post while the loop runs, so the main thread races the poster's return from post().
        while (!looping) {
            std::this_thread::yield();
        }
        for (int i = 0; i < kPosts; ++i) {
            auto witness = std::make_shared<Witness>(main, offMain);
            main.post([witness = std::move(witness), &ran] { ++ran; });
        }
        main.post([&app] { app.quit(); });
    });
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // safety net
    app.exec();
    poster.join();
    EXPECT_EQ(ran, kPosts);
    EXPECT_EQ(offMain, 0);
}

}  // namespace
}  // namespace pellora
