#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Queue.h"
#include "platform/SystemClock.h"

namespace pellora {

// A serial queue backed by its own worker thread. Destroying it runs what is already
// due, drops delayed work that is not, and joins the thread.
class SerialQueue final : public Queue {
  public:
    SerialQueue(std::string label, const SystemClock& clock);
    ~SerialQueue() override;

    const std::string& label() const override { return label_; }
    void post(Task task) override;
    WorkItemPtr postAfter(double seconds, Task task) override;
    void sync(Task task) override;
    bool isCurrent() const override;

  private:
    struct Delayed {
        WorkItemPtr item;
        Task task;
    };
    using TimePoint = std::chrono::steady_clock::time_point;

    void run();

    const std::string label_;
    const SystemClock& clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> ready_;
    // Keyed by due time, then by posting order, so equal due times keep call order.
    std::map<std::pair<TimePoint, std::uint64_t>, Delayed> delayed_;
    std::uint64_t sequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace pellora
