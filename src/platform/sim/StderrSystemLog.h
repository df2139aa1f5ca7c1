#pragma once

#include <cstdio>

#include "platform/SystemLog.h"

namespace pellora {

// The simulated desktop's system log: standard error.
class StderrSystemLog final : public SystemLog {
  public:
    void write(const std::string& line) override {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fputc('\n', stderr);
    }
};

}  // namespace pellora
