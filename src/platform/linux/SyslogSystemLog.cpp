#include "platform/linux/SyslogSystemLog.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

namespace pellora {

SyslogSystemLog::SyslogSystemLog() : toTerminal_(isatty(STDERR_FILENO) == 1) {
    openlog("pellora", LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
    closelog();
}

void SyslogSystemLog::write(const std::string& line) {
    // The line goes in as an argument of a constant format, never as the format itself.
    syslog(LOG_INFO, "%s", line.c_str());
    if (toTerminal_) {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fputc('\n', stderr);
    }
}

}  // namespace pellora
