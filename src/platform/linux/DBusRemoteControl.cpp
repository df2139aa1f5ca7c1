#include "platform/linux/DBusRemoteControl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QStringList>
#include <algorithm>

#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/Pellora1Adaptor.h"

namespace pellora {

namespace {

const QString kErrorPrefix = QStringLiteral("org.pellora.Pellora1.Error.");

}  // namespace

DBusRemoteControl::DBusRemoteControl(DBusSingleInstance& host) : host_(host) {
    qDBusRegisterMetaType<DBusMonitorIdentity>();
    // A child of the exported object, which is how Qt puts a second interface on it.
    adaptor_ = new Pellora1Adaptor(host, *this);
}

DBusRemoteControl::~DBusRemoteControl() {
    // Gone already when the exported object went first.
    delete adaptor_.data();
}

void DBusRemoteControl::serve(RemoteCommands& commands) {
    commands_ = &commands;
}

void DBusRemoteControl::publish(const RemoteState& state) {
    const QVariantMap before = properties(state_);
    const QVariantMap after = properties(state);
    state_ = state;
    QVariantMap changed;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (before.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    if (changed.isEmpty() || !host_.exported()) {
        return;
    }
    auto signal = QDBusMessage::createSignal(QString::fromLatin1(DBusSingleInstance::kPath),
                                             QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kInterface) << changed << QStringList{};
    host_.bus().send(signal);
}

QString DBusRemoteControl::errorName(RemoteRefusal::Kind kind) {
    switch (kind) {
        case RemoteRefusal::Kind::invalidArgument:
            return kErrorPrefix + "InvalidArgument";
        case RemoteRefusal::Kind::noMonitor:
            return kErrorPrefix + "NoMonitor";
        case RemoteRefusal::Kind::notYetAvailable:
            return kErrorPrefix + "NotYetAvailable";
    }
    return kErrorPrefix + "InvalidArgument";
}

std::optional<RemoteRefusal::Kind> DBusRemoteControl::refusalNamed(const QString& name) {
    for (auto kind : {RemoteRefusal::Kind::invalidArgument, RemoteRefusal::Kind::noMonitor,
                      RemoteRefusal::Kind::notYetAvailable}) {
        if (name == errorName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

QVariantMap DBusRemoteControl::properties(const RemoteState& s) {
    return {
        {"Monitor", QVariant::fromValue(DBusMonitorIdentity{QString::fromStdString(s.monitorName),
                                                            QString::fromStdString(s.monitorId)})},
        {"Luma", s.luma},
        {"Brightness", s.brightness},
        {"Mode", QString::fromStdString(s.mode)},
        {"Samples", uint(std::clamp<long long>(s.samples, 0, 0xFFFFFFFFLL))},
        {"NextSnapshot", s.nextSnapshot},
        {"CameraHealth", QString::fromStdString(s.cameraHealth)},
        {"MonitorAccess", QString::fromStdString(s.monitorAccess)},
        {"PausedUntil", s.pausedUntil},
    };
}

}  // namespace pellora
