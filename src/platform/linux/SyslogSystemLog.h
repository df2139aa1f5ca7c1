#pragma once

#include "platform/SystemLog.h"

namespace pellora {

// syslog(3), which journald collects; also standard error when that is a terminal.
class SyslogSystemLog final : public SystemLog {
  public:
    SyslogSystemLog();
    ~SyslogSystemLog() override;
    void write(const std::string& line) override;

  private:
    bool toTerminal_;
};

}  // namespace pellora
