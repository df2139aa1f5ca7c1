#include "platform/linux/LinuxSessionState.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <cstdlib>

namespace pellora {

namespace {

constexpr int kCallTimeoutMs = 500;
const QString kLogind = "org.freedesktop.login1";
const QString kSessionInterface = "org.freedesktop.login1.Session";
const QString kProperties = "org.freedesktop.DBus.Properties";

struct ScreenSaverService {
    const char* service;
    const char* path;
    const char* interface;
};

// Desktops publish the screen saver under either name.
constexpr ScreenSaverService kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
};

std::optional<QVariant> call(QDBusConnection& bus, const QString& service, const QString& path,
                             const QString& interface, const QString& method,
                             const QVariantList& args = {}) {
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
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

LinuxSessionState::LinuxSessionState(const Clock& clock, QDBusConnection systemBus,
                                     QDBusConnection sessionBus, QString sessionId,
                                     std::string x11Display)
    : clock_(clock),
      system_(std::move(systemBus)),
      session_(std::move(sessionBus)),
      sessionId_(std::move(sessionId)),
      x11_(std::move(x11Display)) {
    if (sessionId_.isEmpty()) {
        sessionId_ = QString::fromLocal8Bit(std::getenv("XDG_SESSION_ID"));
    }
}

LinuxSessionState::~LinuxSessionState() = default;

std::optional<double> LinuxSessionState::x11Idle() {
    return x11_.idleSeconds();
}

QString LinuxSessionState::sessionPath() {
    if (!sessionPath_.isEmpty()) {
        return sessionPath_;
    }
    if (!sessionId_.isEmpty()) {
        auto path = call(system_, kLogind, "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "GetSession", {sessionId_});
        if (path && path->canConvert<QDBusObjectPath>()) {
            sessionPath_ = path->value<QDBusObjectPath>().path();
        }
    }
    if (sessionPath_.isEmpty()) {
        // logind resolves "auto" to the caller's own session.
        return "/org/freedesktop/login1/session/auto";
    }
    return sessionPath_;
}

std::optional<bool> LinuxSessionState::logindLockedHint() {
    auto value = call(system_, kLogind, sessionPath(), kProperties, "Get",
                      {kSessionInterface, QString("LockedHint")});
    if (!value || value->typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    return value->toBool();
}

bool LinuxSessionState::isScreenLocked() {
    if (auto locked = logindLockedHint()) {
        logindAnswers_ = true;
        return *locked;
    }
    for (const auto& saver : kScreenSavers) {
        auto active = call(session_, saver.service, saver.path, saver.interface, "GetActive");
        if (active && active->typeId() == QMetaType::Bool) {
            return active->toBool();
        }
    }
    return false;
}

void LinuxSessionState::setLockHandler(std::function<void(bool)> handler) {
    handler_ = std::move(handler);
    if (watching_) {
        return;
    }
    watching_ = true;
    if (logindLockedHint()) {
        logindAnswers_ = true;
        system_.connect(kLogind, sessionPath(), kProperties, "PropertiesChanged", this,
                        SLOT(onLogindPropertiesChanged(QString, QVariantMap, QStringList)));
        return;
    }
    for (const auto& saver : kScreenSavers) {
        session_.connect(saver.service, saver.path, saver.interface, "ActiveChanged", this,
                         SLOT(onScreenSaverActiveChanged(bool)));
    }
}

void LinuxSessionState::onLogindPropertiesChanged(const QString& interface,
                                                  const QVariantMap& changed,
                                                  const QStringList& invalidated) {
    if (interface != kSessionInterface || !handler_) {
        return;
    }
    auto it = changed.find("LockedHint");
    if (it != changed.end()) {
        handler_(it->toBool());
    } else if (invalidated.contains("LockedHint")) {
        if (auto locked = logindLockedHint()) {
            handler_(*locked);
        }
    }
}

void LinuxSessionState::onScreenSaverActiveChanged(bool active) {
    if (handler_) {
        handler_(active);
    }
}

std::optional<double> LinuxSessionState::mutterIdle() {
    auto ms = call(session_, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                   "org.gnome.Mutter.IdleMonitor", "GetIdletime");
    if (!ms || !ms->canConvert<qulonglong>()) {
        return std::nullopt;
    }
    return double(ms->toULongLong()) / 1000.0;
}

std::optional<double> LinuxSessionState::screenSaverIdle() {
    for (const auto& saver : kScreenSavers) {
        if (std::string(saver.service) != "org.freedesktop.ScreenSaver") {
            continue;
        }
        auto seconds =
            call(session_, saver.service, saver.path, saver.interface, "GetSessionIdleTime");
        if (seconds && seconds->canConvert<uint>()) {
            return double(seconds->toUInt());
        }
    }
    return std::nullopt;
}

std::optional<double> LinuxSessionState::logindIdle() {
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
    if (!since || !since->canConvert<qulonglong>() || since->toULongLong() == 0) {
        return std::nullopt;
    }
    double idle = clock_.now() - double(since->toULongLong()) / 1e6;
    return idle > 0 ? idle : 0.0;
}

std::optional<double> LinuxSessionState::idleSeconds() {
    struct Source {
        const char* name;
        std::optional<double> (LinuxSessionState::*read)();
    };
    static constexpr Source kSources[] = {{"mutter", &LinuxSessionState::mutterIdle},
                                          {"screensaver", &LinuxSessionState::screenSaverIdle},
                                          {"x11", &LinuxSessionState::x11Idle},
                                          {"logind", &LinuxSessionState::logindIdle}};
    for (const auto& source : kSources) {
        if (auto idle = (this->*source.read)()) {
            idleSource_ = source.name;
            return idle;
        }
    }
    idleSource_.clear();
    return std::nullopt;
}

}  // namespace pellora
