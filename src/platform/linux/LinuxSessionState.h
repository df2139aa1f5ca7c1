#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/SessionState.h"
#include "platform/linux/BusNameOwners.h"
#include "platform/linux/SessionProbe.h"

namespace pellora {

// Lock state from logind's LockedHint on the system bus (the desktop's ScreenSaver
// ActiveChanged as fallback); waking from suspend from logind's PrepareForSleep; idle time from
// Mutter's IdleMonitor, the freedesktop ScreenSaver, XScreenSaver and logind's IdleHint, first that
// answers.
//
// The questions are asked on `sessionQueue`, where a slow or silent service may keep them
// waiting; the main thread only ever reads what they found. Made and used on the main
// thread; both queues outlive it.
class LinuxSessionState final : public QObject,
                                public SessionState,
                                public std::enable_shared_from_this<LinuxSessionState> {
    Q_OBJECT
  public:
    // An idle answer comes within this many seconds: from the first source that answers,
    // else empty (the X server has no timeout of its own, so this bounds it).
    static constexpr double kIdleAnswerLimit = SessionProbe::kIdleChainBound + 1.0;

    // `sessionId` names the logind session; empty means $XDG_SESSION_ID, else "auto"
    // (logind's name for the caller's own session). An empty `x11Display` skips XScreenSaver.
    static std::shared_ptr<LinuxSessionState> create(const Clock& clock, Queue& sessionQueue,
                                                     Queue& mainQueue, QDBusConnection systemBus,
                                                     QDBusConnection sessionBus,
                                                     QString sessionId = {},
                                                     std::string x11Display = {});
    // On the machine's system bus and the user's session bus, for this login session and
    // the X display in $DISPLAY (none on Wayland).
    static std::shared_ptr<LinuxSessionState> createForThisSession(const Clock& clock,
                                                                   Queue& sessionQueue,
                                                                   Queue& mainQueue);
    ~LinuxSessionState() override;

    bool isScreenLocked() const override;
    void setLockHandler(std::function<void(bool)> handler) override;
    void setResumeHandler(std::function<void()> handler) override;
    void idleSeconds(std::function<void(std::optional<double>)> answer) override;

    // Which idle source gave the last answer, for diagnostics ("mutter", "screensaver",
    // "x11", "logind"), empty when none.
    const std::string& idleSource() const { return idleSource_; }

  private slots:
    void onLogindPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                   const QStringList& invalidated, const QDBusMessage& message);
    void onScreenSaverActiveChanged(bool active, const QDBusMessage& message);
    void onPrepareForSleep(bool sleeping, const QDBusMessage& message);

  private:
    LinuxSessionState(Queue& sessionQueue, Queue& mainQueue, QDBusConnection systemBus,
                      QDBusConnection sessionBus, std::shared_ptr<SessionProbe> probe);

    void learnLockState();
    void startWatching(const SessionProbe::LockReading& reading);
    void relearnLockState();
    void postNotice(bool locked);
    void noteLockState(bool locked);

    Queue& sessionQueue_;
    Queue& main_;
    QDBusConnection systemBus_;
    QDBusConnection sessionBus_;
    std::shared_ptr<SessionProbe> probe_;
    // Signals are taken only from these names' owners: anyone on a bus may send one.
    BusNameOwners systemOwners_;
    BusNameOwners sessionOwners_;
    std::function<void(bool)> handler_;
    std::function<void()> resumeHandler_;
    bool watchingSleep_ = false;
    SessionProbe::LockSource lockSource_ = SessionProbe::LockSource::none;
    bool known_ = false;
    bool locked_ = false;
    unsigned notices_ = 0;
    std::string idleSource_;
};

}  // namespace pellora
