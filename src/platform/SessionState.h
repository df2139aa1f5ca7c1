#pragma once

#include <functional>
#include <optional>

namespace pellora {

// The login session: whether its screen is locked, and how long the user has been idle.
class SessionState {
  public:
    virtual ~SessionState() = default;

    // The lock state now; unlocked when it cannot be learnt.
    virtual bool isScreenLocked() = 0;
    // `handler` gets every lock (true) and unlock (false) notice, on the main thread.
    // Repeats are passed on as they come; the caller keeps the state.
    virtual void setLockHandler(std::function<void(bool locked)> handler) = 0;
    // Seconds since the user last touched keyboard or mouse; nothing when no source answers.
    virtual std::optional<double> idleSeconds() = 0;
};

}  // namespace pellora
