#include "platform/SerialQueue.h"

#include <pthread.h>
#include <future>

namespace pellora {

SerialQueue::SerialQueue(std::string label, const SystemClock& clock)
    : label_(std::move(label)), clock_(clock) {
    thread_ = std::thread([this] { run(); });
    // Thread names are limited to 15 characters; the tail of the label is the telling part.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SerialQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(task));
    }
    wake_.notify_one();
}

WorkItemPtr SerialQueue::postAfter(double seconds, Task task) {
    auto item = std::make_shared<WorkItem>();
    auto due = std::chrono::steady_clock::now() + clock_.realDuration(seconds);
    {
        std::lock_guard lock(mutex_);
        delayed_.emplace(std::make_pair(due, sequence_++), Delayed{item, std::move(task)});
    }
    wake_.notify_one();
    return item;
}

void SerialQueue::sync(Task task) {
    std::promise<void> done;
    auto future = done.get_future();
    post([&] {
        task();
        done.set_value();
    });
    future.wait();
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        // Delayed work that has fallen due joins the ready line in due order.
        while (!delayed_.empty() && delayed_.begin()->first.first <= now) {
            auto node = delayed_.extract(delayed_.begin());
            Delayed delayed = std::move(node.mapped());
            ready_.push_back([item = delayed.item, task = std::move(delayed.task)] {
                if (!item->isCancelled()) {
                    task();
                }
            });
        }
        if (!ready_.empty()) {
            Task task = std::move(ready_.front());
            ready_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (stopping_) {
            return;
        }
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, delayed_.begin()->first.first);
        }
    }
}

}  // namespace pellora
