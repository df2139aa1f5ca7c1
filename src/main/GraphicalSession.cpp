#include "main/GraphicalSession.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "platform/UniqueFd.h"

namespace pellora {

namespace {

bool set(const char* variable) {
    return variable != nullptr && *variable != '\0';
}

}  // namespace

std::optional<std::string> GraphicalSession::platformFor(const char* qpaPlatform,
                                                         const char* display,
                                                         const char* waylandDisplay,
                                                         bool waylandAnswers) {
    if (set(qpaPlatform) || (set(waylandDisplay) && waylandAnswers)) {
        return std::nullopt;
    }
    // A display that does not answer (yet) is no reason to end: off screen instead. Qt aborts
    // when the platform it picks fails, a compositor's socket that a user manager kept from an
    // ended session as much as an X server that is not up.
    return set(display) ? "xcb;offscreen" : "offscreen";
}

bool GraphicalSession::waylandAnswers(const char* waylandDisplay, const char* runtimeDir) {
    if (!set(waylandDisplay)) {
        return false;
    }
    std::string path = waylandDisplay;
    if (path.front() != '/') {
        if (!set(runtimeDir)) {
            return false;  // where Qt would look for it too
        }
        path = std::string(runtimeDir) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return true;  // not ours to judge: Qt decides
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) {
        return true;
    }
    // A socket nobody listens on any more refuses at once; one that is listening takes the
    // connection, or says it is busy.
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    return errno == EAGAIN || errno == EINPROGRESS;
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
