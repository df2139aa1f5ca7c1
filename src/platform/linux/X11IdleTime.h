#pragma once

#include <optional>
#include <string>

namespace pellora {

// Input idle time from the X server's screen-saver extension. Kept apart so that Xlib's
// macros stay out of Qt code. Blocks on the server: use it off the main thread, from one
// thread at a time.
class X11IdleTime {
  public:
    explicit X11IdleTime(std::string displayName);
    ~X11IdleTime();
    X11IdleTime(const X11IdleTime&) = delete;
    X11IdleTime& operator=(const X11IdleTime&) = delete;

    // Nothing without a display or without the extension. A lost connection is dropped and
    // made again at the next call.
    std::optional<double> idleSeconds();

  private:
    void disconnect();

    std::string displayName_;
    void* display_ = nullptr;
    bool lost_ = false;
};

}  // namespace pellora
