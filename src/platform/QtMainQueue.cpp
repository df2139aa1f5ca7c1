#include "platform/QtMainQueue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace pellora {

namespace {
const QEvent::Type kRunTask = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Receives one wake-up event per posted task on the main thread's event loop.
class QtMainQueue::Context final : public QObject {
  public:
    explicit Context(QtMainQueue& queue) : queue_(queue) {}

    bool event(QEvent* event) override {
        if (!queue_.isWakeUp(event)) {
            return QObject::event(event);
        }
        queue_.runNext();
        return true;
    }

  private:
    QtMainQueue& queue_;
};

QtMainQueue::QtMainQueue(const SystemClock& clock)
    : clock_(clock), context_(std::make_unique<Context>(*this)) {}

// Wake-ups still in Qt's queue and timers not yet fired go with the context.
QtMainQueue::~QtMainQueue() = default;

// Tasks travel through our own locked list rather than inside Qt's queued functor, whose
// shared slot object may be freed on the posting thread after the main thread ran it. That
// hid a task's destruction from the sanitizer and could destroy its captures off the main thread.
void QtMainQueue::post(Task task) {
    QEvent* wakeUp = nullptr;
    {
        // The event is made under the lock so that reading it later, under the same lock,
        // is ordered after its construction on this thread.
        std::lock_guard lock(pendingMutex_);
        pending_.push_back(std::move(task));
        wakeUp = new QEvent(kRunTask);
    }
    QCoreApplication::postEvent(context_.get(), wakeUp);
}

bool QtMainQueue::isWakeUp(const QEvent* event) {
    std::lock_guard lock(pendingMutex_);
    return event->type() == kRunTask;
}

void QtMainQueue::runNext() {
    Task task;
    {
        std::lock_guard lock(pendingMutex_);
        if (pending_.empty()) {
            return;
        }
        task = std::move(pending_.front());
        pending_.pop_front();
    }
    task();
}

WorkItemPtr QtMainQueue::postAfter(double seconds, Task task) {
    auto item = std::make_shared<WorkItem>();
    // Rounded up: Qt counts whole milliseconds, and on a fast clock one cut off is many clock
    // seconds too early for work that checks how long it waited.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(clock_.realDuration(seconds));
    auto capped = std::min<long long>(ms.count(), std::numeric_limits<int>::max());
    // The timer must be created on the main thread, so hop there first. The hop runs only
    // through the context's own event, and the timer dies with the context.
    QObject* context = context_.get();
    post([context, item, capped, task = std::move(task)]() mutable {
        if (item->isCancelled()) {
            return;
        }
        QTimer::singleShot(std::chrono::milliseconds(capped), Qt::PreciseTimer, context,
                           [item, task = std::move(task)] {
                               if (!item->isCancelled()) {
                                   task();
                               }
                           });
    });
    return item;
}

void QtMainQueue::sync(Task task) {
    if (isCurrent()) {
        task();
        return;
    }
    // A plain mutex and condition variable rather than Qt's blocking connection, so the
    // hand-over is visible to the thread sanitizer.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    post([&] {
        task();
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

void QtMainQueue::setIdleObserver(Task observer) {
    const bool first = !idleObserver_;
    idleObserver_ = std::move(observer);
    auto* dispatcher = QAbstractEventDispatcher::instance(context_->thread());
    if (first && dispatcher != nullptr) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, context_.get(),
                         [this] {
                             if (idleObserver_) {
                                 idleObserver_();
                             }
                         });
    }
}

bool QtMainQueue::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace pellora
