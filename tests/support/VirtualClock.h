#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/Queue.h"

namespace pellora::test {

class ManualQueue;

// Virtual time for tests. Queues made from it run nothing until the test calls
// `advance` (or `runPending`), which runs due work across all of them in time order,
// on the test's thread.
class VirtualClock final : public Clock {
  public:
    // Starts at 2024-06-21 09:00:00 UTC unless told otherwise.
    explicit VirtualClock(double startWall = 1718960400.0);

    double now() const override;
    double monotonic() const override;
    // Moves time forward at once; recorded so tests can check the waits a component made.
    void sleep(double seconds) override;

    // A queue driven by this clock. `isMain` marks the queue that test code itself runs on.
    std::unique_ptr<ManualQueue> makeQueue(std::string label, bool isMain = false);

    // Runs every item due within the next `seconds`, in due order (ties in posting order),
    // then leaves the clock at now + seconds.
    void advance(double seconds);
    // Runs what is due now, including work that the run itself posts.
    void runPending() { advance(0); }
    // Sets the wall clock without running anything (a clock change, not elapsed time).
    void setWall(double wall);

    const std::vector<double>& sleeps() const { return sleeps_; }
    void clearSleeps() { sleeps_.clear(); }
    std::size_t pendingCount() const;

  private:
    friend class ManualQueue;
    struct Entry {
        ManualQueue* queue;
        WorkItemPtr item;
        Queue::Task task;
    };
    using Key = std::pair<double, std::uint64_t>;

    void schedule(ManualQueue* queue, double delay, WorkItemPtr item, Queue::Task task);
    void forget(ManualQueue* queue);
    void runQueueNow(ManualQueue* queue);
    // Runs the first item in due order that `eligible` accepts; false when there is none.
    bool runFirst(const std::function<bool(const Key&, const Entry&)>& eligible);

    mutable std::recursive_mutex mutex_;
    double monotonic_ = 1000.0;
    double wallOffset_;
    std::uint64_t sequence_ = 0;
    std::map<Key, Entry> entries_;
    std::vector<double> sleeps_;
};

// A serial queue whose work runs only when its VirtualClock is advanced.
class ManualQueue final : public Queue {
  public:
    ManualQueue(VirtualClock& clock, std::string label, bool isMain);
    ~ManualQueue() override;

    const std::string& label() const override { return label_; }
    void post(Task task) override;
    WorkItemPtr postAfter(double seconds, Task task) override;
    // Runs this queue's due work first, then `task`, on the caller's thread.
    void sync(Task task) override;
    bool isCurrent() const override;

  private:
    friend class VirtualClock;
    VirtualClock& clock_;
    std::string label_;
    bool isMain_;
};

}  // namespace pellora::test
