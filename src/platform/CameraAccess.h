#pragma once

#include <functional>
#include <string>

namespace pellora {

// Whether this user may use the camera, in terms every backend can supply: Linux node access
// (no prompt, so never notDetermined), a desktop camera portal, or a system privacy prompt.
enum class CameraAuthorization {
    notDetermined = 0,  // nobody has been asked yet
    restricted = 1,     // a policy forbids it, beyond the user's reach
    denied = 2,         // the user or the system refused
    authorized = 3,
};

class CameraAccess {
  public:
    virtual ~CameraAccess() = default;

    virtual CameraAuthorization authorizationStatus() = 0;
    // Asks for access; `answer` runs once, on any thread, with whether it was granted.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
    // What the user can do about a refusal, in one sentence; empty when nothing is wrong.
    virtual std::string repairHint() = 0;
};

}  // namespace pellora
