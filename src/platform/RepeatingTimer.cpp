#include "platform/RepeatingTimer.h"

#include <mutex>

namespace pellora {

struct RepeatingTimer::State {
    State(Queue& q, double i, std::function<void()> t)
        : queue(q), interval(i), task(std::move(t)) {}
    Queue& queue;
    double interval;
    std::function<void()> task;
    std::mutex mutex;
    WorkItemPtr pending;
    bool stopped = false;
};

RepeatingTimer::RepeatingTimer(Queue& queue, double interval, std::function<void()> task)
    : interval_(interval), state_(std::make_shared<State>(queue, interval, std::move(task))) {
    schedule(state_);
}

RepeatingTimer::~RepeatingTimer() {
    stop();
}

void RepeatingTimer::stop() {
    std::lock_guard lock(state_->mutex);
    state_->stopped = true;
    if (state_->pending) {
        state_->pending->cancel();
    }
}

void RepeatingTimer::schedule(const std::shared_ptr<State>& state) {
    std::weak_ptr<State> weak = state;
    std::lock_guard lock(state->mutex);
    if (state->stopped) {
        return;
    }
    state->pending = state->queue.postAfter(state->interval, [weak] {
        auto strong = weak.lock();
        if (!strong) {
            return;
        }
        {
            std::lock_guard lock(strong->mutex);
            if (strong->stopped) {
                return;
            }
        }
        // Rescheduling before the task keeps the period steady however long the task takes.
        schedule(strong);
        strong->task();
    });
}

}  // namespace pellora
