#include "platform/linux/SyslogSystemLog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

namespace pellora {

SyslogSystemLog::SyslogSystemLog() {
    // A file description of our own, so that O_NONBLOCK does not reach the terminal's other
    // users (the shell shares standard error's).
    if (isatty(STDERR_FILENO) == 1) {
        terminal_.reset(::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    }
    openlog("pellora", LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
    closelog();
}

void SyslogSystemLog::write(const std::string& line) {
    // The line goes in as an argument of a constant format, never as the format itself.
    syslog(LOG_INFO, "%s", line.c_str());
    if (terminal_) {
        // One write, so that lines logged at once from two threads do not interleave.
        const std::string whole = line + '\n';
        while (::write(terminal_.get(), whole.data(), whole.size()) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace pellora
