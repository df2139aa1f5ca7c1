#include "platform/linux/DBusRemoteClient.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusVariant>
#include <algorithm>
#include <cmath>

#include "platform/linux/DBusRemoteControl.h"
#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/Pellora1Adaptor.h"

namespace pellora {

namespace {

using Kind = RemoteFailure::Kind;

RemoteFailure failure(Kind kind, std::string message) {
    RemoteFailure f;
    f.kind = kind;
    f.message = std::move(message);
    return f;
}

}  // namespace

DBusRemoteClient::DBusRemoteClient(QString busName, double boundSeconds)
    : DBusRemoteClient(std::move(busName), QDBusConnection::sessionBus(), boundSeconds) {}

DBusRemoteClient::DBusRemoteClient(QString busName, QDBusConnection bus, double boundSeconds)
    : busName_(std::move(busName)),
      bus_(std::move(bus)),
      deadline_(std::chrono::steady_clock::now() +
                std::chrono::milliseconds(
                    static_cast<long long>(std::clamp(boundSeconds, 0.0, 3600.0) * 1000.0))) {}

QDBusMessage DBusRemoteClient::call(const QString& interface, const QString& method,
                                    const QVariantList& arguments) {
    auto request = QDBusMessage::createMethodCall(
        busName_, QString::fromLatin1(DBusSingleInstance::kPath), interface, method);
    request.setArguments(arguments);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline_ - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
        return request.createErrorReply(QDBusError::Timeout, "no time left");
    }
    return bus_.call(request, QDBus::Block, static_cast<int>(std::min<long long>(left, 1 << 30)));
}

std::optional<RemoteFailure> DBusRemoteClient::failureOf(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    const QString name = reply.errorName();
    const std::string message = reply.errorMessage().toStdString();
    if (auto refusal = DBusRemoteControl::refusalNamed(name)) {
        RemoteFailure f = failure(Kind::refused, message);
        f.refusal = *refusal;
        return f;
    }
    const QDBusError::ErrorType type = QDBusError(reply).type();
    if (type == QDBusError::ServiceUnknown || type == QDBusError::Disconnected ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
        return failure(Kind::notRunning, message);
    }
    if (type == QDBusError::NoReply || type == QDBusError::Timeout ||
        type == QDBusError::TimedOut) {
        return failure(Kind::noAnswer, message);
    }
    return failure(Kind::failed, (name + ": ").toStdString() + message);
}

std::optional<RemoteFailure> DBusRemoteClient::invoke(const QString& method,
                                                      const QVariantList& arguments) {
    if (!bus_.isConnected()) {
        return failure(Kind::noBus, "no session bus");
    }
    return failureOf(call(QString::fromLatin1(DBusRemoteControl::kInterface), method, arguments));
}

std::variant<RemoteState, RemoteFailure> DBusRemoteClient::state() {
    if (!bus_.isConnected()) {
        return failure(Kind::noBus, "no session bus");
    }
    const QDBusMessage reply = call("org.freedesktop.DBus.Properties", "GetAll",
                                    {QString::fromLatin1(DBusRemoteControl::kInterface)});
    if (auto f = failureOf(reply)) {
        return *f;
    }
    if (reply.arguments().size() != 1) {
        return failure(Kind::failed, "an answer of another shape");
    }
    QVariantMap values;
    reply.arguments()[0].value<QDBusArgument>() >> values;
    // Each as sent; a member missing or of another type reads as its "unknown".
    auto text = [&](const char* key) { return values.value(key).toString().toStdString(); };
    // Only the type the interface gives it (i, u or d), and finite.
    auto number = [&](const char* key, QMetaType::Type type, double otherwise) {
        const QVariant value = values.value(key);
        const double number = value.toDouble();
        return value.typeId() == type && std::isfinite(number) ? number : otherwise;
    };
    RemoteState state;
    DBusMonitorIdentity monitor;
    if (values.value("Monitor").canConvert<QDBusArgument>()) {
        values.value("Monitor").value<QDBusArgument>() >> monitor;
    }
    state.monitorName = monitor.name.toStdString();
    state.monitorId = monitor.id.toStdString();
    state.luma = number("Luma", QMetaType::Double, 0);
    state.brightness = static_cast<int>(number("Brightness", QMetaType::Int, -1));
    state.mode = text("Mode");
    state.samples = static_cast<long long>(number("Samples", QMetaType::UInt, 0));
    state.nextSnapshot = number("NextSnapshot", QMetaType::Double, -1);
    state.cameraHealth = text("CameraHealth");
    state.monitorAccess = text("MonitorAccess");
    state.pausedUntil = number("PausedUntil", QMetaType::Double, -1);
    return state;
}

std::optional<RemoteFailure> DBusRemoteClient::snapshotNow() {
    return invoke("SnapshotNow", {});
}

std::optional<RemoteFailure> DBusRemoteClient::setBrightness(int brightness) {
    return invoke("SetBrightness", {brightness});
}

std::optional<RemoteFailure> DBusRemoteClient::stepBrightness(int delta) {
    return invoke("StepBrightness", {delta});
}

std::optional<RemoteFailure> DBusRemoteClient::pause(double seconds) {
    return invoke("Pause", {seconds});
}

std::optional<RemoteFailure> DBusRemoteClient::setMode(const std::string& mode) {
    return invoke("SetMode", {QString::fromStdString(mode)});
}

std::optional<RemoteFailure> DBusRemoteClient::openPreferences() {
    return invoke("OpenPreferences", {});
}

}  // namespace pellora
