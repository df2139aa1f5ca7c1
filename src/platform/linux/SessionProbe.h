#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/linux/X11IdleTime.h"

namespace pellora {

// The blocking half of LinuxSessionState: the questions to logind, the screen savers, Mutter
// and the X server. Each D-Bus call waits at most kCallTimeoutMs. Used on one queue only.
class SessionProbe {
  public:
    static constexpr int kCallTimeoutMs = 500;
    // The longest the idle chain's D-Bus calls can take together (six calls at most).
    static constexpr double kIdleChainBound = 6 * kCallTimeoutMs / 1000.0;

    struct ScreenSaverService {
        const char* service;
        const char* path;
        const char* interface;
    };
    // Desktops publish the screen saver under either name.
    static constexpr ScreenSaverService kScreenSavers[] = {
        {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
         "org.freedesktop.ScreenSaver"},
        {"org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    };

    enum class LockSource { none, logind, screenSaver };
    struct LockReading {
        LockSource source = LockSource::none;
        bool locked = false;    // unlocked when no source answered
        QString logindSession;  // the session's object path, when logind answered
    };
    struct IdleReading {
        std::optional<double> seconds;
        std::string source;  // "mutter", "screensaver", "x11", "logind"; empty when none
    };

    // `sessionId` names the logind session; empty means $XDG_SESSION_ID, else logind's
    // "auto" (the caller's own session). An empty `x11Display` skips XScreenSaver.
    SessionProbe(const Clock& clock, QDBusConnection systemBus, QDBusConnection sessionBus,
                 QString sessionId, std::string x11Display);

    // logind's LockedHint, else the first screen saver's GetActive.
    LockReading lockState();
    // The lock state from the one source named; nothing when it does not answer.
    std::optional<bool> lockedBy(LockSource source);
    // The first of Mutter's IdleMonitor, the freedesktop ScreenSaver, XScreenSaver and
    // logind's IdleHint that answers.
    IdleReading idle();

  private:
    QString sessionPath();
    std::optional<bool> logindLockedHint();
    std::optional<bool> screenSaverActive();
    std::optional<double> mutterIdle();
    std::optional<double> screenSaverIdle();
    std::optional<double> x11Idle();
    std::optional<double> logindIdle();

    const Clock& clock_;
    QDBusConnection system_;
    QDBusConnection session_;
    QString sessionId_;
    QString sessionPath_;
    X11IdleTime x11_;
};

}  // namespace pellora
