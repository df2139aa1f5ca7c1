#include "platform/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <limits>

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
    QMetaObject::invokeMethod(context_, std::move(task), Qt::BlockingQueuedConnection);
}

bool QtMainQueue::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace pellora
