#pragma once

#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"

namespace pellora {

// Keeps a second Pellora of the same user from running over the same files: an advisory
// lock (flock) on a file beside the files it guards, held as long as this object lives. The
// holder's process id is written into the file for the second one to name.
class InstanceLock {
  public:
    enum class Outcome {
        acquired,       // this process is the one
        heldElsewhere,  // another process holds it
        unavailable,    // no lock could be taken at all (see `detail`)
    };

    static InstanceLock acquire(const std::filesystem::path& file);

    Outcome outcome() const { return outcome_; }
    // For `heldElsewhere`, the holder's process id as it wrote it (may be empty); for
    // `unavailable`, why.
    const std::string& detail() const { return detail_; }

  private:
    InstanceLock(Outcome outcome, std::string detail, UniqueFd fd)
        : outcome_(outcome), detail_(std::move(detail)), fd_(std::move(fd)) {}

    Outcome outcome_;
    std::string detail_;
    UniqueFd fd_;
};

}  // namespace pellora
