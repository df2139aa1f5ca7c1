#pragma once

#include <unistd.h>

namespace pellora {

// Owns one file descriptor and closes it exactly once: when destroyed, reset or replaced.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Gives up ownership without closing.
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held, if any, and takes `fd`. A close interrupted by a signal is
    // not retried: Linux has released the descriptor either way.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

}  // namespace pellora
