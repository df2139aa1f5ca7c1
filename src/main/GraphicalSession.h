#pragma once

#include <optional>
#include <string>

namespace pellora {

// Whether a graphical session can be reached, decided before the Qt application is made: Qt
// aborts when it finds no display, and an autostart that fires before the session's display is
// up would then fail again at every try. Without one the program runs off screen.
struct GraphicalSession {
    // What QT_QPA_PLATFORM is to be for the Qt application, from the environment as it is
    // (each variable may be unset) and whether the Wayland display answers; nothing: Qt's own
    // choice stands. A platform the user named is never overridden.
    static std::optional<std::string> platformFor(const char* qpaPlatform, const char* display,
                                                  const char* waylandDisplay, bool waylandAnswers);
    // Whether a compositor listens on WAYLAND_DISPLAY's socket (under XDG_RUNTIME_DIR unless it
    // is a path), without speaking to it.
    static bool waylandAnswers(const char* waylandDisplay, const char* runtimeDir);
    // The one line that says the program runs off screen when it was not asked to, from the
    // same environment and the platform Qt ended up with. Nothing otherwise.
    static std::optional<std::string> offScreenLine(const char* qpaPlatform, const char* display,
                                                    const char* waylandDisplay,
                                                    const std::string& platform);
};

}  // namespace pellora
