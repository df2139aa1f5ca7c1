#pragma once

#include "platform/SessionState.h"

namespace pellora {

// A session whose lock state and idle time the simulation (or a test) sets.
class SimulatedSessionState final : public SessionState {
  public:
    bool isScreenLocked() override { return locked_; }
    void setLockHandler(std::function<void(bool)> handler) override {
        handler_ = std::move(handler);
    }
    std::optional<double> idleSeconds() override { return idle_; }

    // Changes the lock state and sends the notice, as a desktop would.
    void setLocked(bool locked) {
        locked_ = locked;
        if (handler_) {
            handler_(locked);
        }
    }
    void setIdleSeconds(std::optional<double> seconds) { idle_ = seconds; }

  private:
    bool locked_ = false;
    std::optional<double> idle_ = 0.0;
    std::function<void(bool)> handler_;
};

}  // namespace pellora
