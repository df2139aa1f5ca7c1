#pragma once

#include <string_view>

namespace pellora {

// Where code below the stores reports what happened, one line per event under a tag naming
// the area ("ddc", "camera", ...). The debug log is the one the program installs.
class LogSink {
  public:
    virtual ~LogSink() = default;
    // Callable from any thread; returns at once.
    virtual void log(std::string_view message, std::string_view tag) = 0;
};

}  // namespace pellora
