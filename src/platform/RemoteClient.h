#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/RemoteCommands.h"
#include "platform/RemoteControl.h"

namespace pellora {

// Why a request to the running Pellora got no answer, or no good one.
struct RemoteFailure {
    enum class Kind {
        notRunning,  // no Pellora to ask
        noBus,       // no session bus to look for one on (a sleep hook run as root, say)
        noAnswer,    // it did not answer in time
        refused,     // it answered with a refusal (`refusal` says which)
        failed,      // anything else the bus said
    };
    Kind kind = Kind::failed;
    RemoteRefusal::Kind refusal = RemoteRefusal::Kind::invalidArgument;
    std::string message;
};

// Asks the running Pellora, from another process. Each call blocks within the client's time
// bound.
class RemoteClient {
  public:
    virtual ~RemoteClient() = default;

    virtual std::variant<RemoteState, RemoteFailure> state() = 0;
    // Nothing: done.
    virtual std::optional<RemoteFailure> snapshotNow() = 0;
    virtual std::optional<RemoteFailure> setBrightness(int brightness) = 0;
    virtual std::optional<RemoteFailure> stepBrightness(int delta) = 0;
    virtual std::optional<RemoteFailure> pause(double seconds) = 0;
    virtual std::optional<RemoteFailure> setMode(const std::string& mode) = 0;
    virtual std::optional<RemoteFailure> openPreferences() = 0;
};

}  // namespace pellora
