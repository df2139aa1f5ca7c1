#pragma once

#include <functional>
#include <memory>

#include "platform/Queue.h"

namespace pellora {

// Runs a task on a queue every `interval` seconds until the timer is destroyed or stopped.
// Stopped from another thread than the queue's, a tick already under way still finishes.
class RepeatingTimer {
  public:
    RepeatingTimer(Queue& queue, double interval, std::function<void()> task);
    ~RepeatingTimer();

    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void stop();
    double interval() const { return interval_; }

  private:
    class Ticker;

    double interval_;
    std::shared_ptr<Ticker> ticker_;
};

}  // namespace pellora
