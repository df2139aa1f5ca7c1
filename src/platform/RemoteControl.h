#pragma once

#include <string>

#include "platform/RemoteCommands.h"

namespace pellora {

// What a script can read of Pellora.
struct RemoteState {
    // The current external monitor: its name and identifier; both empty when none.
    std::string monitorName;
    std::string monitorId;
    double luma = 0;      // the smoothed room light, 0 to 255
    int brightness = -1;  // the monitor's brightness as last read or written; -1 unknown
    std::string mode;     // "learning" or "adapting"; empty without a monitor
    long long samples = 0;
    double nextSnapshot = -1;   // seconds since 1970; -1 when none is scheduled
    std::string cameraHealth;   // "ok", "needsPermission", …
    std::string monitorAccess;  // the menu's monitor row while it warns; empty when fine
    double pausedUntil = -1;    // seconds since 1970 while adapting is paused; else -1
    bool operator==(const RemoteState&) const = default;
};

// Pellora's scripting interface, offered on the platform's bus. Main thread only.
class RemoteControl {
  public:
    virtual ~RemoteControl() = default;

    // Requests are carried out by `commands` from now on; it outlives this object.
    virtual void serve(RemoteCommands& commands) = 0;
    // The state as it is now; what differs from the last is announced to listeners.
    virtual void publish(const RemoteState& state) = 0;
};

}  // namespace pellora
