#include "main/InstanceGate.h"

#include <unistd.h>

#include <cstdio>

#include "main/ProgramIdentity.h"
#include "main/ProgramOptions.h"
#include "platform/Clock.h"
#include "platform/SystemLog.h"
#include "platform/linux/DBusSingleInstance.h"
#include "store/DebugLog.h"

namespace pellora {

InstanceGate InstanceGate::enter(const ProgramOptions& options, const Clock& clock,
                                 SystemLog& systemLog) {
    InstanceGate gate(InstanceLock::acquire(ProgramIdentity::lockFile(options.paths)));
    if (!gate.secondLaunch()) {
        return gate;
    }
    const std::string& pid = gate.lock_.detail();
    const std::string holder = pid.empty() ? "" : " (pid " + pid + ")";
    const bool answered = DBusSingleInstance::create(
                              ProgramIdentity::busName(options.paths, options.simulated), nullptr)
                              ->activateRunning(DBusSingleInstance::kMaxWaitSeconds);
    const std::string line = DebugLog::composeLine(
        clock.now(), "app",
        "Pellora is already running" + holder +
            (answered ? "; brought it forward, this launch exits" : "; this launch exits"));
    systemLog.write(line);
    if (!options.simulated && !isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return gate;
}

std::optional<std::string> InstanceGate::lockProblem() const {
    if (lock_.outcome() != InstanceLock::Outcome::unavailable) {
        return std::nullopt;
    }
    return "No instance lock (" + lock_.detail() + "); a second Pellora would not be stopped";
}

}  // namespace pellora
