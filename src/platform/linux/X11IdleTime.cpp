#include "platform/linux/X11IdleTime.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace pellora {

X11IdleTime::X11IdleTime(std::string displayName) : displayName_(std::move(displayName)) {}

X11IdleTime::~X11IdleTime() {
    if (display_) {
        XCloseDisplay(static_cast<Display*>(display_));
    }
}

std::optional<double> X11IdleTime::idleSeconds() {
    if (displayName_.empty()) {
        return std::nullopt;
    }
    if (!tried_) {
        tried_ = true;
        display_ = XOpenDisplay(displayName_.c_str());
    }
    auto* display = static_cast<Display*>(display_);
    if (!display) {
        return std::nullopt;
    }
    int eventBase = 0, errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        return std::nullopt;
    }
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info) {
        return std::nullopt;
    }
    std::optional<double> idle;
    if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info)) {
        idle = double(info->idle) / 1000.0;
    }
    XFree(info);
    return idle;
}

}  // namespace pellora
