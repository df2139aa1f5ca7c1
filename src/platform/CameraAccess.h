#pragma once

#include <functional>
#include <string>

namespace pellora {

// Whether this user may use the camera.
class CameraAccess {
  public:
    // The values the controller logs and branches on.
    enum Status : int { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    virtual ~CameraAccess() = default;

    virtual int authorizationStatus() = 0;
    // Asks for access; `answer` runs once, on any thread, with whether it was granted.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
    // What the user can do about a refusal, in one sentence; empty when nothing is wrong.
    virtual std::string repairHint() = 0;
};

}  // namespace pellora
