#include "VirtualClock.h"

#include <algorithm>

namespace pellora::test {

namespace {
thread_local const ManualQueue* tlCurrent = nullptr;

struct CurrentQueue {
    explicit CurrentQueue(const ManualQueue* q) : previous(tlCurrent) { tlCurrent = q; }
    ~CurrentQueue() { tlCurrent = previous; }
    const ManualQueue* previous;
};
}  // namespace

VirtualClock::VirtualClock(double startWall) : wallOffset_(startWall - 1000.0) {}

double VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return monotonic_ + wallOffset_;
}

double VirtualClock::monotonic() const {
    std::lock_guard lock(mutex_);
    return monotonic_;
}

void VirtualClock::sleep(double seconds) {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(seconds);
    if (seconds > 0) {
        monotonic_ += seconds;
    }
}

void VirtualClock::setWall(double wall) {
    std::lock_guard lock(mutex_);
    wallOffset_ = wall - monotonic_;
}

std::unique_ptr<ManualQueue> VirtualClock::makeQueue(std::string label, bool isMain) {
    return std::make_unique<ManualQueue>(*this, std::move(label), isMain);
}

std::size_t VirtualClock::pendingCount() const {
    std::lock_guard lock(mutex_);
    return std::count_if(entries_.begin(), entries_.end(),
                         [](const auto& kv) { return !kv.second.item->isCancelled(); });
}

void VirtualClock::schedule(ManualQueue* queue, double delay, WorkItemPtr item, Queue::Task task) {
    std::lock_guard lock(mutex_);
    entries_.emplace(Key{monotonic_ + (delay > 0 ? delay : 0.0), sequence_++},
                     Entry{queue, std::move(item), std::move(task)});
}

void VirtualClock::forget(ManualQueue* queue) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [queue](const auto& kv) { return kv.second.queue == queue; });
}

void VirtualClock::advance(double seconds) {
    const double target = monotonic() + (seconds > 0 ? seconds : 0.0);
    while (runFirst([target](const Key& key, const Entry&) { return key.first <= target; })) {
    }
    std::lock_guard lock(mutex_);
    monotonic_ = std::max(monotonic_, target);
}

void VirtualClock::runQueueNow(ManualQueue* queue) {
    while (runFirst([this, queue](const Key& key, const Entry& entry) {
        return entry.queue == queue && key.first <= monotonic_;
    })) {
    }
}

bool VirtualClock::runFirst(const std::function<bool(const Key&, const Entry&)>& eligible) {
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
        CurrentQueue current(entry.queue);
        entry.task();
    }
    return true;
}

ManualQueue::ManualQueue(VirtualClock& clock, std::string label, bool isMain)
    : clock_(clock), label_(std::move(label)), isMain_(isMain) {}

ManualQueue::~ManualQueue() {
    clock_.forget(this);
}

void ManualQueue::post(Task task) {
    clock_.schedule(this, 0, std::make_shared<WorkItem>(), std::move(task));
}

WorkItemPtr ManualQueue::postAfter(double seconds, Task task) {
    auto item = std::make_shared<WorkItem>();
    clock_.schedule(this, seconds, item, std::move(task));
    return item;
}

void ManualQueue::sync(Task task) {
    clock_.runQueueNow(this);
    CurrentQueue current(this);
    task();
}

bool ManualQueue::isCurrent() const {
    return tlCurrent == this || (tlCurrent == nullptr && isMain_);
}

}  // namespace pellora::test
