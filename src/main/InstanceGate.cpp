#include "main/InstanceGate.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "main/ProgramIdentity.h"
#include "main/ProgramOptions.h"
#include "platform/Clock.h"
#include "platform/SystemLog.h"
#include "platform/linux/DBusSingleInstance.h"
#include "store/DebugLog.h"

namespace pellora {

namespace {

// How long a launch waits for an off-screen run that gives way to it to end.
constexpr auto kGiveWay = std::chrono::seconds(10);

}  // namespace

InstanceGate InstanceGate::enter(const ProgramOptions& options, const Clock& clock,
                                 SystemLog& systemLog) {
    const auto lockFile = ProgramIdentity::lockFile(options.paths);
    InstanceGate gate(InstanceLock::acquire(lockFile));
    if (!gate.secondLaunch()) {
        return gate;
    }
    const std::string pid = gate.lock_.detail();
    const std::string holder = pid.empty() ? "" : " (pid " + pid + ")";
    const auto answer = DBusSingleInstance::create(
                            ProgramIdentity::busName(options.paths, options.simulated), nullptr)
                            ->ask(DBusSingleInstance::kMaxWaitSeconds);
    if (answer == DBusSingleInstance::Answer::givingWay) {
        // It ends for this launch: once its lock is free, this one is the one.
        const auto until = std::chrono::steady_clock::now() + kGiveWay;
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            InstanceLock lock = InstanceLock::acquire(lockFile);
            if (lock.outcome() != InstanceLock::Outcome::heldElsewhere) {
                systemLog.write(DebugLog::composeLine(
                    clock.now(), "app",
                    "Pellora" + holder + " was running off screen; it ended for this launch"));
                return InstanceGate(std::move(lock));
            }
        }
    }
    const bool answered = answer == DBusSingleInstance::Answer::broughtForward;
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
