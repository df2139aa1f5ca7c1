#pragma once

#include <string>

namespace pellora {

// The operating system's log, which gets a copy of every debug-log line at once.
class SystemLog {
  public:
    virtual ~SystemLog() = default;
    // `line` is text, never a format.
    virtual void write(const std::string& line) = 0;
};

}  // namespace pellora
