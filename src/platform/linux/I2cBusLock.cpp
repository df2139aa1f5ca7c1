#include "platform/linux/I2cBusLock.h"

#include <sys/file.h>

#include <cerrno>

namespace pellora {

bool I2cBusLock::acquire(int fd, Clock& clock, Wait wait) {
    const double deadline = clock.monotonic() + wait.timeout;
    while (true) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return true;
        }
        if (clock.monotonic() >= deadline) {
            return false;
        }
        clock.sleep(wait.poll);
    }
}

}  // namespace pellora
