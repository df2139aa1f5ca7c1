#pragma once

#include "platform/Clock.h"

namespace pellora {

// The advisory lock that ddcutil and the programs built on libddcutil (KDE PowerDevil among
// them) take on a bus's /dev/i2c-N node for as long as they use it: flock(LOCK_EX) on the open
// node. Taking it too keeps our exchanges from interleaving with theirs on the wire. It is
// released when the descriptor is closed.
class I2cBusLock {
  public:
    struct Wait {
        double timeout = 1.0;  // clock seconds to wait for a holder to let go
        double poll = 0.01;
    };

    I2cBusLock() = delete;

    // Takes the lock on `fd`, asking again every `wait.poll` while another open file holds
    // it, for at most `wait.timeout`. False when it stayed held. A node that cannot be
    // locked at all counts as free: the lock is only a courtesy between programs.
    static bool acquire(int fd, Clock& clock, Wait wait);
};

}  // namespace pellora
