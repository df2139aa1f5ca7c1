#pragma once

#include <QEvent>
#include <QObject>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/Queue.h"
#include "platform/SystemClock.h"

namespace pellora {

// The main queue: work runs on the Qt event loop of the thread that created this object
// (the main thread). Posting is safe from any thread.
class QtMainQueue final : public Queue {
  public:
    explicit QtMainQueue(const SystemClock& clock);
    ~QtMainQueue() override;

    const std::string& label() const override { return label_; }
    void post(Task task) override;
    WorkItemPtr postAfter(double seconds, Task task) override;
    void sync(Task task) override;
    bool isCurrent() const override;

    // Runs `observer` on the main thread each time its event loop has done what was due and
    // is about to wait for more: the moment to look at state that only the main thread
    // changes, without a timer of its own waking the thread. Call on the main thread, after
    // the application object exists.
    void setIdleObserver(Task observer);

  private:
    class Context;
    bool isWakeUp(const QEvent* event);
    void runNext();

    const std::string label_ = "main";
    const SystemClock& clock_;
    std::unique_ptr<Context> context_;
    std::mutex pendingMutex_;
    std::deque<Task> pending_;
    Task idleObserver_;
};

}  // namespace pellora
