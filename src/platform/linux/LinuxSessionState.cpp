#include "platform/linux/LinuxSessionState.h"

#include <QDBusMessage>

#include "platform/WhileAlive.h"

#include <cstdlib>
#include <utility>

namespace pellora {

namespace {

const QString kLogind = "org.freedesktop.login1";
const QString kSessionInterface = "org.freedesktop.login1.Session";
const QString kManagerPath = "/org/freedesktop/login1";
const QString kManagerInterface = "org.freedesktop.login1.Manager";

using IdleAnswer = std::function<void(std::optional<double>)>;

QStringList screenSaverNames() {
    QStringList names;
    for (const auto& saver : SessionProbe::kScreenSavers) {
        names << saver.service;
    }
    return names;
}

}  // namespace

LinuxSessionState::LinuxSessionState(Queue& sessionQueue, Queue& mainQueue,
                                     QDBusConnection systemBus, QDBusConnection sessionBus,
                                     std::shared_ptr<SessionProbe> probe)
    : sessionQueue_(sessionQueue),
      main_(mainQueue),
      systemBus_(std::move(systemBus)),
      sessionBus_(std::move(sessionBus)),
      probe_(std::move(probe)),
      systemOwners_(systemBus_, {kLogind}),
      sessionOwners_(sessionBus_, screenSaverNames()) {}

std::shared_ptr<LinuxSessionState> LinuxSessionState::create(
    const Clock& clock, Queue& sessionQueue, Queue& mainQueue, QDBusConnection systemBus,
    QDBusConnection sessionBus, QString sessionId, std::string x11Display) {
    auto probe = std::make_shared<SessionProbe>(clock, systemBus, sessionBus, std::move(sessionId),
                                                std::move(x11Display));
    std::shared_ptr<LinuxSessionState> state(new LinuxSessionState(
        sessionQueue, mainQueue, std::move(systemBus), std::move(sessionBus), std::move(probe)));
    state->learnLockState();
    return state;
}

// The probe may hold an X connection, whose closing talks to the server: it is let go on its
// own queue, after whatever is still asking there.
std::shared_ptr<LinuxSessionState> LinuxSessionState::createForThisSession(const Clock& clock,
                                                                           Queue& sessionQueue,
                                                                           Queue& mainQueue) {
    const char* display = std::getenv("DISPLAY");
    return create(clock, sessionQueue, mainQueue, QDBusConnection::systemBus(),
                  QDBusConnection::sessionBus(), {}, display ? display : "");
}

LinuxSessionState::~LinuxSessionState() {
    sessionQueue_.post([probe = std::move(probe_)] {});
}

bool LinuxSessionState::isScreenLocked() const {
    PELLORA_ASSERT_ON(main_);
    return locked_;
}

void LinuxSessionState::setLockHandler(std::function<void(bool)> handler) {
    PELLORA_ASSERT_ON(main_);
    handler_ = std::move(handler);
    if (known_) {
        main_.post([weak = weak_from_this()] {
            if (auto self = weak.lock(); self && self->handler_) {
                self->handler_(self->locked_);
            }
        });
    }
}

void LinuxSessionState::setResumeHandler(std::function<void()> handler) {
    PELLORA_ASSERT_ON(main_);
    resumeHandler_ = std::move(handler);
    // A match rule only: nothing is asked of logind, so nothing waits for it.
    if (!watchingSleep_) {
        watchingSleep_ =
            systemBus_.connect(QString(), kManagerPath, kManagerInterface, "PrepareForSleep", this,
                               SLOT(onPrepareForSleep(bool, QDBusMessage)));
    }
}

// The first look also finds which source to listen to: logind when it answers, else the
// screen savers.
void LinuxSessionState::learnLockState() {
    sessionQueue_.post([probe = probe_, weak = weak_from_this(), main = &main_] {
        main->post([reading = probe->lockState(), weak] {
            if (auto self = weak.lock()) {
                self->startWatching(reading);
            }
        });
    });
}

void LinuxSessionState::startWatching(const SessionProbe::LockReading& reading) {
    lockSource_ = reading.source;
    if (lockSource_ == SessionProbe::LockSource::logind) {
        systemBus_.connect(
            QString(), reading.logindSession, "org.freedesktop.DBus.Properties",
            "PropertiesChanged", this,
            SLOT(onLogindPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    } else {
        for (const auto& saver : SessionProbe::kScreenSavers) {
            sessionBus_.connect(QString(), saver.path, saver.interface, "ActiveChanged", this,
                                SLOT(onScreenSaverActiveChanged(bool, QDBusMessage)));
        }
    }
    known_ = true;
    locked_ = reading.locked;
    if (handler_) {
        handler_(locked_);
    }
    // A change between the look and the subscription would otherwise go unseen.
    relearnLockState();
}

// Looks again at the source listened to; the finding counts only if no notice came in the
// meantime, since a notice is newer.
void LinuxSessionState::relearnLockState() {
    if (lockSource_ == SessionProbe::LockSource::none) {
        return;
    }
    sessionQueue_.post([probe = probe_, source = lockSource_, asked = notices_,
                        weak = weak_from_this(), main = &main_] {
        main->post([locked = probe->lockedBy(source), asked, weak] {
            auto self = weak.lock();
            if (self && locked && self->notices_ == asked && *locked != self->locked_) {
                self->noteLockState(*locked);
            }
        });
    });
}

// Handed on through the queue so that a handler may let this object go.
void LinuxSessionState::postNotice(bool locked) {
    main_.post(whileAlive(this, [locked](const auto& self) {
        ++self->notices_;
        self->noteLockState(locked);
    }));
}

void LinuxSessionState::noteLockState(bool locked) {
    locked_ = locked;
    if (handler_) {
        handler_(locked);
    }
}

void LinuxSessionState::onLogindPropertiesChanged(const QString& interface,
                                                  const QVariantMap& changed,
                                                  const QStringList& invalidated,
                                                  const QDBusMessage& message) {
    if (interface != kSessionInterface) {
        return;
    }
    systemOwners_.ifSentBy(message, kLogind, [this, changed, invalidated] {
        auto it = changed.find("LockedHint");
        if (it != changed.end()) {
            if (it->typeId() == QMetaType::Bool) {
                postNotice(it->toBool());
            }
        } else if (invalidated.contains("LockedHint")) {
            relearnLockState();
        }
    });
}

void LinuxSessionState::onScreenSaverActiveChanged(bool active, const QDBusMessage& message) {
    for (const auto& saver : SessionProbe::kScreenSavers) {
        if (message.path() == saver.path && message.interface() == saver.interface) {
            sessionOwners_.ifSentBy(message, saver.service, [this, active] { postNotice(active); });
            return;
        }
    }
}

// True before the machine sleeps, false once it has woken.
void LinuxSessionState::onPrepareForSleep(bool sleeping, const QDBusMessage& message) {
    if (sleeping) {
        return;
    }
    systemOwners_.ifSentBy(message, kLogind, [this] {
        main_.post([weak = weak_from_this()] {
            if (auto self = weak.lock(); self && self->resumeHandler_) {
                self->resumeHandler_();
            }
        });
    });
}

// Whichever comes first answers: the chain's finding or, should the X server never reply,
// nothing at the limit.
void LinuxSessionState::idleSeconds(IdleAnswer answer) {
    PELLORA_ASSERT_ON(main_);
    auto pending = std::make_shared<IdleAnswer>(std::move(answer));
    auto weak = weak_from_this();
    auto finish = [weak, pending](std::optional<double> seconds, std::string source) {
        auto self = weak.lock();
        if (!self || !*pending) {
            return;
        }
        self->idleSource_ = std::move(source);
        std::exchange(*pending, nullptr)(seconds);
    };
    WorkItemPtr limit =
        main_.postAfter(kIdleAnswerLimit, [finish] { finish(std::nullopt, std::string()); });
    // `finish` holds the caller's answer, which belongs to the main thread: the session
    // queue only carries it across and never lets the last reference go there.
    sessionQueue_.post([probe = probe_, main = &main_, limit, finish]() mutable {
        auto reading = probe->idle();
        main->post([reading = std::move(reading), limit, finish = std::move(finish)] {
            limit->cancel();
            finish(reading.seconds, reading.source);
        });
    });
}

}  // namespace pellora
