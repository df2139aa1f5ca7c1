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
    if (set(qpaPlatform) || set(waylandDisplay)) {
        return std::nullopt;
    }
    // An X display that does not answer (yet) is no reason to end: off screen instead.
    return set(display) ? "xcb;offscreen" : "offscreen";
}

std::optional<std::string> GraphicalSession::offScreenLine(const char* qpaPlatform,
                                                           const char* display,
                                                           const char* /*waylandDisplay*/,
                                                           const std::string& platform) {
    if (set(qpaPlatform) || platform != "offscreen") {
        return std::nullopt;
    }
    const std::string why = set(display)
                                ? "the display " + std::string(display) + " does not answer"
                                : "neither DISPLAY nor WAYLAND_DISPLAY is set";
    return "No graphical session (" + why +
           "): running off screen, with no tray, window or indicator to see; start Pellora "
           "again from within the desktop session";
}

}  // namespace pellora
