#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pellora {

// Why a script's request was not carried out, in words for the person who wrote the script.
struct RemoteRefusal {
    enum class Kind {
        invalidArgument,  // the request itself is wrong: out of range, not a number, unknown
        noMonitor,        // no external monitor, or it does not answer
        notYetAvailable,  // not possible in the present state (camera, lock, too few samples)
    };
    Kind kind = Kind::invalidArgument;
    std::string message;
    bool operator==(const RemoteRefusal&) const = default;
};

// Nothing: done.
using RemoteOutcome = std::optional<RemoteRefusal>;
// Answers a request once, on the main thread; possibly before the request returns.
using RemoteReply = std::function<void(RemoteOutcome)>;

// What scripts (keyboard shortcuts, status bars, suspend hooks) may ask of Pellora. Main
// thread only. Arguments arrive as the caller sent them and are checked here.
class RemoteCommands {
  public:
    virtual ~RemoteCommands() = default;

    // Measures the room now and restarts the schedule from now.
    virtual void remoteSnapshotNow(RemoteReply reply) = 0;
    // 0 to 100, as if set with the preferences window's slider.
    virtual void remoteSetBrightness(long long brightness, RemoteReply reply) = 0;
    // The present brightness moved by `delta` (clamped to 0...100), as with the slider.
    virtual void remoteStepBrightness(long long delta, RemoteReply reply) = 0;
    // Adapting writes nothing for `seconds`; 0 ends a pause.
    virtual void remotePause(double seconds, RemoteReply reply) = 0;
    // "learning" or "adapting".
    virtual void remoteSetMode(const std::string& mode, RemoteReply reply) = 0;
    virtual void remoteOpenPreferences(RemoteReply reply) = 0;
};

}  // namespace pellora
