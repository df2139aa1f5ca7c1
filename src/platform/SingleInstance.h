#pragma once

#include <functional>

namespace pellora {

// One Pellora per user: the first to run answers later launches, which hand it their
// request and exit. Main thread only.
class SingleInstance {
  public:
    virtual ~SingleInstance() = default;

    // This process is the one: from now on a later launch's request runs `onActivate` on the
    // main thread. Never waits; what fails is logged.
    virtual void serve(std::function<void()> onActivate) = 0;

    // Another process is the one: asks it to come forward, waiting at most `timeoutSeconds`.
    // Blocks, so only for a launch that is about to exit. False when nothing answered.
    virtual bool activateRunning(double timeoutSeconds) = 0;
};

}  // namespace pellora
