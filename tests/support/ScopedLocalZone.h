#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace pellora::test {

// Sets the process's local time zone (TZ) for one test and puts the old one back.
class ScopedLocalZone {
  public:
    explicit ScopedLocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedLocalZone() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedLocalZone(const ScopedLocalZone&) = delete;
    ScopedLocalZone& operator=(const ScopedLocalZone&) = delete;

  private:
    std::optional<std::string> saved_;
};

}  // namespace pellora::test
