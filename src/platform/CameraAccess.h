#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pellora {

// Whether this user may use the camera, in terms every backend can supply: Linux node access
// (no prompt, so never notDetermined), a desktop camera portal, or a system privacy prompt.
enum class CameraAuthorization {
    notDetermined = 0,  // nobody has been asked yet
    denied = 2,         // the user or the system refused
    authorized = 3,
};

// Called on the main thread. Finding out may mean opening devices, so it happens elsewhere
// and the answers come back on the main queue, never inline and never once this object is
// gone.
class CameraAccess {
  public:
    virtual ~CameraAccess() = default;

    // Looks at the permission afresh; `answer` runs once with what was found.
    virtual void checkAuthorization(std::function<void(CameraAuthorization)> answer) = 0;
    // What the last answered look found; nothing before one has answered.
    virtual std::optional<CameraAuthorization> lastKnownStatus() const = 0;
    // What the user can do about the refusal the last look found, in one sentence; empty
    // when nothing is wrong.
    virtual std::string repairHint() const = 0;
};

}  // namespace pellora
