#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Queue.h"

namespace pellora::test {

class ManualQueue;

// Virtual time: its queues run nothing until the test calls `advance` (or `runPending`), which
// runs due work across all of them in time order, on the test's thread.
class VirtualClock final : public Clock {
  public:
    // Starts at 2024-06-21 09:00:00 UTC unless told otherwise.
    explicit VirtualClock(double startWall = 1718960400.0) : wallOffset_(startWall - 1000.0) {}

    double now() const override {
        std::lock_guard lock(mutex_);
        return monotonic_ + wallOffset_;
    }
    double monotonic() const override {
        std::lock_guard lock(mutex_);
        return monotonic_;
    }
    // Moves time forward at once; recorded so tests can check the waits a component made.
    void sleep(double seconds) override {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(seconds);
        monotonic_ += seconds > 0 ? seconds : 0.0;
    }

    // A queue driven by this clock. `isMain` marks the queue that test code itself runs on.
    std::unique_ptr<ManualQueue> makeQueue(std::string label, bool isMain = false);

    // Runs every item due within the next `seconds`, in due order (ties in posting order),
    // then leaves the clock at now + seconds.
    void advance(double seconds) {
        const double target = monotonic() + (seconds > 0 ? seconds : 0.0);
        while (runFirst([target](const Key& key, const Entry& entry) {
            return key.first <= target && !held(entry.queue);
        })) {
        }
        std::lock_guard lock(mutex_);
        monotonic_ = std::max(monotonic_, target);
    }
    // Runs what is due now, including work that the run itself posts.
    void runPending() { advance(0); }
    // Sets the wall clock without running anything (a clock change, not elapsed time).
    void setWall(double wall) {
        std::lock_guard lock(mutex_);
        wallOffset_ = wall - monotonic_;
    }

    const std::vector<double>& sleeps() const { return sleeps_; }
    void clearSleeps() { sleeps_.clear(); }
    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return std::count_if(entries_.begin(), entries_.end(),
                             [](const auto& kv) { return !kv.second.item->isCancelled(); });
    }

  private:
    friend class ManualQueue;
    struct Entry {
        ManualQueue* queue;
        WorkItemPtr item;
        Queue::Task task;
    };
    using Key = std::pair<double, std::uint64_t>;

    void schedule(ManualQueue* queue, double delay, WorkItemPtr item, Queue::Task task) {
        std::lock_guard lock(mutex_);
        entries_.emplace(Key{monotonic_ + (delay > 0 ? delay : 0.0), sequence_++},
                         Entry{queue, std::move(item), std::move(task)});
    }
    void forget(ManualQueue* queue) {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [queue](const auto& kv) { return kv.second.queue == queue; });
    }
    void runQueueNow(ManualQueue* queue) {
        while (runFirst([this, queue](const Key& key, const Entry& entry) {
            return entry.queue == queue && key.first <= monotonic_;
        })) {
        }
    }
    static bool held(const ManualQueue* queue);
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
    ManualQueue(VirtualClock& clock, std::string label, bool isMain)
        : clock_(clock), label_(std::move(label)), isMain_(isMain) {}
    ~ManualQueue() override { clock_.forget(this); }

    // While held its work waits, as behind an exchange that does not return.
    bool held = false;

    const std::string& label() const override { return label_; }
    void post(Task task) override {
        clock_.schedule(this, 0, std::make_shared<WorkItem>(), std::move(task));
    }
    WorkItemPtr postAfter(double seconds, Task task) override {
        auto item = std::make_shared<WorkItem>();
        clock_.schedule(this, seconds, item, std::move(task));
        return item;
    }
    // Runs this queue's due work first, then `task`, on the caller's thread.
    void sync(Task task) override {
        clock_.runQueueNow(this);
        Current current(this);
        task();
    }
    bool isCurrent() const override {
        return current() == this || (current() == nullptr && isMain_);
    }

  private:
    friend class VirtualClock;
    // The queue whose work runs on this thread now, for the length of a scope.
    static const ManualQueue*& current() {
        thread_local const ManualQueue* running = nullptr;
        return running;
    }
    struct Current {
        explicit Current(const ManualQueue* q) : previous(std::exchange(current(), q)) {}
        ~Current() { current() = previous; }
        const ManualQueue* previous;
    };

    VirtualClock& clock_;
    std::string label_;
    bool isMain_;
};

inline bool VirtualClock::held(const ManualQueue* queue) {
    return queue->held;
}

inline std::unique_ptr<ManualQueue> VirtualClock::makeQueue(std::string label, bool isMain) {
    return std::make_unique<ManualQueue>(*this, std::move(label), isMain);
}

inline bool VirtualClock::runFirst(const std::function<bool(const Key&, const Entry&)>& eligible) {
    Entry entry;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto& kv) { return eligible(kv.first, kv.second); });
        if (it == entries_.end()) {
            return false;
        }
        // Time moves to the item, never back: an item taken early runs at the present.
        monotonic_ = std::max(monotonic_, it->first.first);
        entry = std::move(it->second);
        entries_.erase(it);
    }
    if (!entry.item->isCancelled()) {
        ManualQueue::Current current(entry.queue);
        entry.task();
    }
    return true;
}

}  // namespace pellora::test
