#include "platform/RepeatingTimer.h"
#include "platform/WhileAlive.h"

#include <mutex>

namespace pellora {

// The ticks queued on the queue hold this weakly: once the timer lets go of it, a tick that
// still comes due does nothing.
class RepeatingTimer::Ticker final : public std::enable_shared_from_this<Ticker> {
  public:
    Ticker(Queue& queue, double interval, std::function<void()> task)
        : queue_(queue), interval_(interval), task_(std::move(task)) {}

    void schedule() {
        WorkItemPtr next =
            queue_.postAfter(interval_, whileAlive(this, [](const auto& self) { self->tick(); }));
        std::lock_guard lock(mutex_);
        pending_ = std::move(next);
    }

    void cancel() {
        std::lock_guard lock(mutex_);
        if (pending_) {
            pending_->cancel();
        }
    }

  private:
    void tick() {
        // Rescheduling before the task keeps the period steady however long the task takes.
        schedule();
        task_();
    }

    Queue& queue_;
    const double interval_;
    const std::function<void()> task_;
    std::mutex mutex_;  // the queue's thread reschedules while the owner's may cancel
    WorkItemPtr pending_;
};

RepeatingTimer::RepeatingTimer(Queue& queue, double interval, std::function<void()> task)
    : interval_(interval), ticker_(std::make_shared<Ticker>(queue, interval, std::move(task))) {
    ticker_->schedule();
}

RepeatingTimer::~RepeatingTimer() {
    stop();
}

void RepeatingTimer::stop() {
    if (ticker_) {
        ticker_->cancel();
        ticker_.reset();
    }
}

}  // namespace pellora
