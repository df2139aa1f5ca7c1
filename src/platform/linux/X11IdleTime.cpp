#include "platform/linux/X11IdleTime.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace pellora {

namespace {

// When a connection breaks Xlib calls the process's I/O error handler, whose default exits,
// then the display's exit handler, whose default exits too. Servers do go away (an Xwayland
// started on demand exits again), and idle time is not worth dying for: the process handler
// returns, and our displays' exit handler merely notes the loss. Other displays keep the
// default exit handler, so they still end the process as before.
int returnToExitHandler(Display*) {
    return 0;
}

void noteLostConnection(Display*, void* lost) {
    *static_cast<bool*>(lost) = true;
}

}  // namespace

X11IdleTime::X11IdleTime(std::string displayName) : displayName_(std::move(displayName)) {}

X11IdleTime::~X11IdleTime() {
    disconnect();
}

void X11IdleTime::disconnect() {
    if (display_) {
        XCloseDisplay(static_cast<Display*>(display_));
        display_ = nullptr;
    }
}

std::optional<double> X11IdleTime::idleSeconds() {
    if (displayName_.empty()) {
        return std::nullopt;
    }
    if (!display_) {
        display_ = XOpenDisplay(displayName_.c_str());
        if (!display_) {
            return std::nullopt;
        }
        static const auto installed = XSetIOErrorHandler(returnToExitHandler);
        (void)installed;
        lost_ = false;
        XSetIOErrorExitHandler(static_cast<Display*>(display_), noteLostConnection, &lost_);
    }
    auto* display = static_cast<Display*>(display_);
    std::optional<double> idle;
    int eventBase = 0, errorBase = 0;
    if (XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        if (XScreenSaverInfo* info = XScreenSaverAllocInfo()) {
            if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info)) {
                idle = double(info->idle) / 1000.0;
            }
            XFree(info);
        }
    }
    if (lost_) {
        disconnect();
        return std::nullopt;
    }
    return idle;
}

}  // namespace pellora
