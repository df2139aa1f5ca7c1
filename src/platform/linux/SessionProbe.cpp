#include "platform/linux/SessionProbe.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <cstdlib>

namespace pellora {

namespace {

const QString kLogind = "org.freedesktop.login1";
const QString kSessionInterface = "org.freedesktop.login1.Session";
const QString kProperties = "org.freedesktop.DBus.Properties";

// The reply's first value, unwrapped from a variant; nothing on an error, a timeout or an
// empty reply. Callers check the type: a service may answer with anything.
std::optional<QVariant> call(QDBusConnection& bus, const QString& service, const QString& path,
                             const QString& interface, const QString& method,
                             const QVariantList& args = {}) {
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    QDBusMessage reply = bus.call(message, QDBus::Block, SessionProbe::kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    QVariant value = reply.arguments().first();
    if (value.canConvert<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

}  // namespace

SessionProbe::SessionProbe(const Clock& clock, QDBusConnection systemBus,
                           QDBusConnection sessionBus, QString sessionId, std::string x11Display)
    : clock_(clock),
      system_(std::move(systemBus)),
      session_(std::move(sessionBus)),
      sessionId_(std::move(sessionId)),
      x11_(std::move(x11Display)) {
    if (sessionId_.isEmpty()) {
        sessionId_ = QString::fromLocal8Bit(std::getenv("XDG_SESSION_ID"));
    }
}

QString SessionProbe::sessionPath() {
    if (!sessionPath_.isEmpty()) {
        return sessionPath_;
    }
    QString id = sessionId_;
    if (id.isEmpty()) {
        // "auto" answers calls, but logind signals the session's changes on its own path.
        auto named = call(system_, kLogind, "/org/freedesktop/login1/session/auto", kProperties,
                          "Get", {kSessionInterface, QString("Id")});
        if (named && named->typeId() == QMetaType::QString) {
            id = named->toString();
        }
    }
    if (!id.isEmpty()) {
        auto path = call(system_, kLogind, "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "GetSession", {id});
        if (path && path->typeId() == qMetaTypeId<QDBusObjectPath>()) {
            sessionPath_ = path->value<QDBusObjectPath>().path();
        }
    }
    if (sessionPath_.isEmpty()) {
        // logind resolves "auto" to the caller's own session.
        return "/org/freedesktop/login1/session/auto";
    }
    return sessionPath_;
}

std::optional<bool> SessionProbe::logindLockedHint() {
    auto value = call(system_, kLogind, sessionPath(), kProperties, "Get",
                      {kSessionInterface, QString("LockedHint")});
    if (!value || value->typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    return value->toBool();
}

std::optional<bool> SessionProbe::screenSaverActive() {
    for (const auto& saver : kScreenSavers) {
        auto active = call(session_, saver.service, saver.path, saver.interface, "GetActive");
        if (active && active->typeId() == QMetaType::Bool) {
            return active->toBool();
        }
    }
    return std::nullopt;
}

SessionProbe::LockReading SessionProbe::lockState() {
    if (auto locked = logindLockedHint()) {
        return LockReading{LockSource::logind, *locked, sessionPath()};
    }
    if (auto active = screenSaverActive()) {
        return LockReading{LockSource::screenSaver, *active, {}};
    }
    return LockReading{};
}

std::optional<bool> SessionProbe::lockedBy(LockSource source) {
    switch (source) {
        case LockSource::logind:
            return logindLockedHint();
        case LockSource::screenSaver:
            return screenSaverActive();
        case LockSource::none:
            break;
    }
    return std::nullopt;
}

std::optional<double> SessionProbe::mutterIdle() {
    auto ms = call(session_, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                   "org.gnome.Mutter.IdleMonitor", "GetIdletime");
    if (!ms || ms->typeId() != QMetaType::ULongLong) {
        return std::nullopt;
    }
    return double(ms->toULongLong()) / 1000.0;
}

std::optional<double> SessionProbe::screenSaverIdle() {
    for (const auto& saver : kScreenSavers) {
        if (std::string(saver.service) != "org.freedesktop.ScreenSaver") {
            continue;
        }
        auto seconds =
            call(session_, saver.service, saver.path, saver.interface, "GetSessionIdleTime");
        if (seconds && seconds->typeId() == QMetaType::UInt) {
            return double(seconds->toUInt());
        }
    }
    return std::nullopt;
}

std::optional<double> SessionProbe::x11Idle() {
    return x11_.idleSeconds();
}

std::optional<double> SessionProbe::logindIdle() {
    auto hint = call(system_, kLogind, sessionPath(), kProperties, "Get",
                     {kSessionInterface, QString("IdleHint")});
    if (!hint || hint->typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    if (!hint->toBool()) {
        return 0.0;
    }
    auto since = call(system_, kLogind, sessionPath(), kProperties, "Get",
                      {kSessionInterface, QString("IdleSinceHint")});
    if (!since || since->typeId() != QMetaType::ULongLong || since->toULongLong() == 0) {
        return std::nullopt;
    }
    double idle = clock_.now() - double(since->toULongLong()) / 1e6;
    return idle > 0 ? idle : 0.0;
}

SessionProbe::IdleReading SessionProbe::idle() {
    struct Source {
        const char* name;
        std::optional<double> (SessionProbe::*read)();
    };
    static constexpr Source kSources[] = {{"mutter", &SessionProbe::mutterIdle},
                                          {"screensaver", &SessionProbe::screenSaverIdle},
                                          {"x11", &SessionProbe::x11Idle},
                                          {"logind", &SessionProbe::logindIdle}};
    for (const auto& source : kSources) {
        if (auto seconds = (this->*source.read)()) {
            return IdleReading{seconds, source.name};
        }
    }
    return IdleReading{};
}

}  // namespace pellora
