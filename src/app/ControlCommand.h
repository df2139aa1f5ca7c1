#pragma once

#include <string>
#include <variant>
#include <vector>

#include "platform/RemoteClient.h"

namespace pellora {

// `pellora ctl …`: a thin client of the running Pellora's scripting interface, for keyboard
// shortcuts, window-manager bindings, status bars and suspend hooks. Every argument is
// checked before anything is asked.
struct ControlCommand {
    enum class Verb { status, snapshot, set, up, down, pause, resume, mode, prefs };

    // Exit statuses.
    static constexpr int done = 0;
    static constexpr int notRunning = 1;  // no Pellora runs, or it did not answer in time
    static constexpr int badArgument = 2;
    static constexpr int refused = 3;  // Pellora answered, and did not do it
    static constexpr const char* usage =
        "usage: pellora ctl [--data-dir DIR] status [--json] | snapshot | set N | up N | "
        "down N | pause SECONDS | resume | mode learning|adapting | prefs";

    Verb verb = Verb::status;
    int number = 0;       // set: 0...100; up, down: 0...100
    double seconds = 0;   // pause
    std::string mode;     // "learning" or "adapting"
    bool json = false;    // status
    std::string dataDir;  // a simulated run's folder; empty: the user's own Pellora

    // The arguments after "ctl"; else what is wrong with them, in one line.
    static std::variant<ControlCommand, std::string> parse(const std::vector<std::string>& args);

    struct Result {
        int status = done;
        std::string out;  // for standard output
        std::string err;  // for standard error
    };
    // Asks `client` and says what came of it.
    Result run(RemoteClient& client) const;

    // One "key: value" line per property, times in local time.
    static std::string statusText(const RemoteState& state);
    // The properties as one JSON object, values as the interface gives them.
    static std::string statusJson(const RemoteState& state);
};

}  // namespace pellora
