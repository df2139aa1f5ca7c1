#pragma once

#include <optional>
#include <string>

#include "platform/InstanceLock.h"

namespace pellora {

class Clock;
class SystemLog;
struct ProgramOptions;

// One Pellora per user (per folder for a simulated run): two would each rewrite the files from
// their own memory and lose each other's changes. A second launch is no error: what was asked
// for is running, and it is asked to show itself.
class InstanceGate {
  public:
    // Takes the instance lock, held for as long as the gate is. When another run holds it,
    // asks that one over the bus to bring its window forward and says so in the system log
    // (debug.log belongs to the running one) and on a terminal.
    static InstanceGate enter(const ProgramOptions& options, const Clock& clock,
                              SystemLog& systemLog);

    // Another Pellora runs; this launch is to end, with status 0.
    bool secondLaunch() const {
        return ownedElsewhere_ || lock_.outcome() == InstanceLock::Outcome::heldElsewhere;
    }
    // Why no lock could be taken at all (the run goes on, unguarded); nothing when it was.
    std::optional<std::string> lockProblem() const;

  private:
    explicit InstanceGate(InstanceLock lock) : lock_(std::move(lock)) {}

    InstanceLock lock_;
    // Another run owns the bus name though this one has the lock.
    bool ownedElsewhere_ = false;
};

}  // namespace pellora
