#pragma once

#include <mutex>
#include <string>

#include "platform/SystemLog.h"
#include "platform/UniqueFd.h"

namespace pellora {

// The system log's socket (/dev/log, which journald or a syslog daemon reads); also standard
// error when that is a terminal. Both through non-blocking descriptors of their own: a line
// the journal or the terminal cannot take now (a journal stopped or stuck on its disk, output
// paused with Ctrl-S, a hung emulator) is dropped rather than waited for. syslog(3) would
// wait, and the main thread logs.
class SyslogSystemLog final : public SystemLog {
  public:
    explicit SyslogSystemLog(std::string socketPath = "/dev/log");
    ~SyslogSystemLog() override;
    void write(const std::string& line) override;

  private:
    void connectLocked();

    const std::string socketPath_;
    UniqueFd terminal_;
    std::mutex mutex_;
    UniqueFd journal_;  // guarded by mutex_
    bool stream_ = false;
};

}  // namespace pellora
