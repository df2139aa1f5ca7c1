#pragma once

#include <functional>
#include <optional>

namespace pellora {

// The login session: whether its screen is locked, and how long the user has been idle.
// Called on the main thread; nothing here makes it wait on a bus or a server.
class SessionState {
  public:
    virtual ~SessionState() = default;

    // The lock state as last learnt (one look at start, then the notices); unlocked until
    // known.
    virtual bool isScreenLocked() const = 0;
    // `handler` runs on the main queue: first with the state found at start (unlocked when
    // nothing answers), then with every lock (true) and unlock (false) notice as it comes,
    // repeats included.
    virtual void setLockHandler(std::function<void(bool locked)> handler) = 0;
    // `handler` runs on the main queue each time the machine has woken from suspend.
    virtual void setResumeHandler(std::function<void()> handler) = 0;
    // Seconds since the user last touched keyboard or mouse, or nothing when no source
    // answers. `answer` runs once, later, on the main queue; never when this object is gone.
    virtual void idleSeconds(std::function<void(std::optional<double> seconds)> answer) = 0;
};

}  // namespace pellora
