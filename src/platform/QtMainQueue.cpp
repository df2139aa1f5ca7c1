#include "platform/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace pellora {

QtMainQueue::QtMainQueue(const SystemClock& clock) : clock_(clock), context_(new QObject) {}

QtMainQueue::~QtMainQueue() {
    delete context_;
}

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

WorkItemPtr QtMainQueue::postAfter(double seconds, Task task) {
    auto item = std::make_shared<WorkItem>();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.realDuration(seconds));
    auto capped = std::min<long long>(ms.count(), std::numeric_limits<int>::max());
    // The timer must be created on the main thread, so hop there first.
    QObject* context = context_;
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
    // Qt's blocking connection hands over through a futex the thread sanitizer cannot see;
    // a plain mutex and condition variable make the hand-over visible and equally correct.
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

bool QtMainQueue::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace pellora
