#pragma once

#include "platform/SystemLog.h"
#include "platform/UniqueFd.h"

namespace pellora {

// syslog(3), which journald collects; also standard error when that is a terminal, through a
// non-blocking descriptor of its own: a line the terminal cannot take now (output paused with
// Ctrl-S, a hung emulator) is dropped rather than waited for.
class SyslogSystemLog final : public SystemLog {
  public:
    SyslogSystemLog();
    ~SyslogSystemLog() override;
    void write(const std::string& line) override;

  private:
    UniqueFd terminal_;
};

}  // namespace pellora
