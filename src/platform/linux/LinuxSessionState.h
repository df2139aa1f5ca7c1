#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/SessionState.h"
#include "platform/linux/X11IdleTime.h"

namespace pellora {

// Lock state from logind's LockedHint on the system bus (the desktop's ScreenSaver
// ActiveChanged as fallback); idle time from Mutter's IdleMonitor, the freedesktop
// ScreenSaver, XScreenSaver and logind's IdleHint, first that answers.
class LinuxSessionState final : public QObject, public SessionState {
    Q_OBJECT
  public:
    // `sessionId` names the logind session; empty means $XDG_SESSION_ID, else "auto"
    // (logind's name for the caller's own session). An empty `x11Display` skips XScreenSaver.
    LinuxSessionState(const Clock& clock, QDBusConnection systemBus, QDBusConnection sessionBus,
                      QString sessionId = {}, std::string x11Display = {});
    ~LinuxSessionState() override;

    bool isScreenLocked() override;
    void setLockHandler(std::function<void(bool)> handler) override;
    std::optional<double> idleSeconds() override;

    // Which idle source answered last, for diagnostics ("mutter", "screensaver", "x11",
    // "logind"), empty when none.
    const std::string& idleSource() const { return idleSource_; }

  private slots:
    void onLogindPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                   const QStringList& invalidated);
    void onScreenSaverActiveChanged(bool active);

  private:
    QString sessionPath();
    std::optional<bool> logindLockedHint();
    std::optional<double> mutterIdle();
    std::optional<double> screenSaverIdle();
    std::optional<double> x11Idle();
    std::optional<double> logindIdle();

    const Clock& clock_;
    QDBusConnection system_;
    QDBusConnection session_;
    QString sessionId_;
    QString sessionPath_;
    std::function<void(bool)> handler_;
    bool watching_ = false;
    bool logindAnswers_ = false;
    std::string idleSource_;
    X11IdleTime x11_;
};

}  // namespace pellora
