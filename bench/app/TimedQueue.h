#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "platform/Queue.h"

namespace pellora::bench {

// Passes work on to another queue and adds up how long its tasks take to run: wrapped
// around the main queue, the main thread's own time. A task that runs another of this
// queue's tasks inside it (a sync) is counted once.
class TimedQueue final : public Queue {
  public:
    struct Tally {
        double seconds = 0;
        // The longest single task: how long the thread was held at once.
        double longest = 0;
        long tasks = 0;
        int depth = 0;
    };

    explicit TimedQueue(Queue& inner) : inner_(inner) {}

    const std::shared_ptr<Tally>& tally() const { return tally_; }
    void reset() { *tally_ = Tally{}; }

    const std::string& label() const override { return inner_.label(); }
    void post(Task task) override { inner_.post(timed(std::move(task))); }
    WorkItemPtr postAfter(double seconds, Task task) override {
        return inner_.postAfter(seconds, timed(std::move(task)));
    }
    void sync(Task task) override { inner_.sync(timed(std::move(task))); }
    bool isCurrent() const override { return inner_.isCurrent(); }

  private:
    // Holds the tally, not the queue: work still queued may outlive this wrapper.
    Task timed(Task task) {
        return [tally = tally_, task = std::move(task)] {
            if (tally->depth++ > 0) {
                task();
                --tally->depth;
                return;
            }
            auto start = std::chrono::steady_clock::now();
            task();
            double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            tally->seconds += took;
            tally->longest = std::max(tally->longest, took);
            ++tally->tasks;
            --tally->depth;
        };
    }

    Queue& inner_;
    std::shared_ptr<Tally> tally_ = std::make_shared<Tally>();
};

}  // namespace pellora::bench
