#pragma once

#include <memory>

#include "platform/Queue.h"
#include "platform/SessionState.h"
#include "platform/WhileAlive.h"

namespace pellora {

// A session whose lock state and idle time the simulation (or a test) sets. Answers come
// through the main queue, as a real backend's do.
class SimulatedSessionState final : public SessionState,
                                    public std::enable_shared_from_this<SimulatedSessionState> {
  public:
    static std::shared_ptr<SimulatedSessionState> create(Queue& mainQueue) {
        return std::shared_ptr<SimulatedSessionState>(new SimulatedSessionState(mainQueue));
    }

    bool isScreenLocked() const override { return locked_; }
    void setLockHandler(std::function<void(bool)> handler) override {
        handler_ = std::move(handler);
        notify(locked_);
    }
    void setResumeHandler(std::function<void()> handler) override {
        resumeHandler_ = std::move(handler);
    }
    // The idle time is read when the answer runs, as a backend reads it when asked.
    void idleSeconds(std::function<void(std::optional<double>)> answer) override {
        main_.post(whileAlive(
            this, [answer = std::move(answer)](const auto& self) { answer(self->idle_); }));
    }

    // Changes the lock state and sends the notice, as a desktop would.
    void setLocked(bool locked) {
        locked_ = locked;
        if (handler_) {
            notify(locked);
        }
    }
    void setIdleSeconds(std::optional<double> seconds) { idle_ = seconds; }
    // The machine wakes from suspend.
    void resume() {
        main_.post([weak = weak_from_this()] {
            if (auto self = weak.lock(); self && self->resumeHandler_) {
                self->resumeHandler_();
            }
        });
    }

  private:
    explicit SimulatedSessionState(Queue& mainQueue) : main_(mainQueue) {}

    void notify(bool locked) {
        main_.post([weak = weak_from_this(), locked] {
            if (auto self = weak.lock(); self && self->handler_) {
                self->handler_(locked);
            }
        });
    }

    Queue& main_;
    bool locked_ = false;
    std::optional<double> idle_ = 0.0;
    std::function<void(bool)> handler_;
    std::function<void()> resumeHandler_;
};

}  // namespace pellora
