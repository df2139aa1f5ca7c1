#include "main/GraphicalSession.h"

namespace pellora {

namespace {

bool set(const char* variable) {
    return variable != nullptr && *variable != '\0';
}

}  // namespace

std::optional<std::string> GraphicalSession::platformFor(const char* qpaPlatform,
                                                         const char* display,
                                                         const char* waylandDisplay) {
    if (set(qpaPlatform)) {
        return std::nullopt;
    }
    // A display that does not answer (yet) is no reason to end: off screen instead. Qt aborts
    // when every platform it tries fails, a compositor's socket left in a user manager's
    // environment by an ended session as much as an X server that is not up.
    std::string platforms;
    if (set(waylandDisplay)) {
        platforms += "wayland;";
    }
    if (set(display)) {
        platforms += "xcb;";
    }
    return platforms + "offscreen";
}

std::optional<std::string> GraphicalSession::offScreenLine(const char* qpaPlatform,
                                                           const char* display,
                                                           const char* waylandDisplay,
                                                           const std::string& platform) {
    if (set(qpaPlatform) || platform != "offscreen") {
        return std::nullopt;
    }
    std::string why;
    if (set(display) && set(waylandDisplay)) {
        why = "neither the display " + std::string(display) + " nor the Wayland display " +
              waylandDisplay + " answers";
    } else if (set(waylandDisplay)) {
        why = "the Wayland display " + std::string(waylandDisplay) + " does not answer";
    } else if (set(display)) {
        why = "the display " + std::string(display) + " does not answer";
    } else {
        why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    return "No graphical session (" + why +
           "): running off screen, with no tray, window or indicator to see; start Pellora "
           "again from within the desktop session";
}

}  // namespace pellora
