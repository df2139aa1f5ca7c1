#pragma once

#include <functional>

namespace pellora {

// The desktop's own on-screen display, where it lets programs show a value in it (a
// Wayland client cannot place a window of its own at the top of the screen). Called on the
// main thread; never waits.
class OnScreenDisplay {
  public:
    virtual ~OnScreenDisplay() = default;

    // Shows `percent` (0 to 100) as the screen's brightness. `done` runs later on the main
    // queue: false when the desktop offers no such display or the request failed.
    virtual void showBrightness(int percent, std::function<void(bool shown)> done) = 0;
};

}  // namespace pellora
