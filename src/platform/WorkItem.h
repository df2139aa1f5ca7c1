#pragma once

#include <atomic>
#include <memory>

namespace pellora {

// A handle on one piece of posted work. Cancelling it before it starts means it never runs.
class WorkItem {
  public:
    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

  private:
    std::atomic<bool> cancelled_{false};
};

using WorkItemPtr = std::shared_ptr<WorkItem>;

}  // namespace pellora
