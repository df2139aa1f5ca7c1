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
    const auto running = DBusSingleInstance::create(
        ProgramIdentity::busName(options.paths, options.simulated), nullptr);
    std::string pid = gate.lock_.detail();
    if (!gate.secondLaunch()) {
        // A Pellora that keeps its lock elsewhere (a version from before the lock moved, still
        // running across an upgrade) still owns the desktop-wide name: the files are the same.
        // A simulated run's name is its lock's own, so only this desktop's needs asking.
        const auto owner = options.simulated
                               ? std::nullopt
                               : running->ownerPid(DBusSingleInstance::kMaxWaitSeconds);
        if (!owner || static_cast<pid_t>(*owner) == ::getpid()) {
            return gate;
        }
        gate.ownedElsewhere_ = true;
        pid = std::to_string(*owner);
    }
    const std::string holder = pid.empty() ? "" : " (pid " + pid + ")";
    const auto answer = running->ask(DBusSingleInstance::kMaxWaitSeconds);
    if (answer == DBusSingleInstance::Answer::givingWay) {
        // It ends for this launch: once its lock (or name) is free, this one is the one.
        const auto until = std::chrono::steady_clock::now() + kGiveWay;
        const std::string ended =
            "Pellora" + holder + " was running off screen; it ended for this launch";
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (gate.ownedElsewhere_) {
                if (!running->ownerPid(DBusSingleInstance::kMaxWaitSeconds)) {
                    systemLog.write(DebugLog::composeLine(clock.now(), "app", ended));
                    gate.ownedElsewhere_ = false;
                    return gate;
                }
                continue;
            }
            InstanceLock lock = InstanceLock::acquire(lockFile);
            if (lock.outcome() != InstanceLock::Outcome::heldElsewhere) {
                systemLog.write(DebugLog::composeLine(clock.now(), "app", ended));
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
