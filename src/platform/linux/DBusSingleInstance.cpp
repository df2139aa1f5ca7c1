#include "platform/linux/DBusSingleInstance.h"

#include <QCryptographicHash>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <algorithm>
#include <system_error>

#include "platform/LogSink.h"

namespace pellora {

namespace {

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// RequestName's flag and answers (the D-Bus specification's values).
constexpr quint32 kDoNotQueue = 4;
constexpr quint32 kPrimaryOwner = 1;
constexpr quint32 kAlreadyOwner = 4;
constexpr int kRequestTimeoutMs = 5000;

// A launch's wait for the bus, in the milliseconds Qt takes: never none, never past the bound.
int waitMs(double seconds) {
    return static_cast<int>(std::clamp(seconds, 0.001, DBusSingleInstance::kMaxWaitSeconds) *
                            1000.0);
}

}  // namespace

std::shared_ptr<DBusSingleInstance> DBusSingleInstance::create(QString busName, LogSink* log,
                                                               QDBusConnection bus) {
    return std::shared_ptr<DBusSingleInstance>(
        new DBusSingleInstance(std::move(busName), log, std::move(bus)));
}

DBusSingleInstance::DBusSingleInstance(QString busName, LogSink* log, QDBusConnection bus)
    : busName_(std::move(busName)), log_(log), bus_(std::move(bus)) {}

DBusSingleInstance::~DBusSingleInstance() {
    if (exported_) {
        bus_.unregisterObject(QString::fromLatin1(kPath));
    }
    if (owned_) {
        // Not waited for: the bus lets the name go with the connection in any case.
        auto release =
            QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, "ReleaseName");
        release << busName_;
        bus_.asyncCall(release);
    }
}

void DBusSingleInstance::serve(std::function<void()> onActivate) {
    onActivate_ = std::move(onActivate);
    if (!bus_.isConnected()) {
        report("No session bus; a second launch cannot reach this one");
        return;
    }
    exported_ = bus_.registerObject(
        QString::fromLatin1(kPath), this,
        QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAdaptors);
    if (!exported_) {
        report("Cannot export " + QString::fromLatin1(kPath) + " on the session bus");
        return;
    }
    auto request =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, "RequestName");
    request << busName_ << kDoNotQueue;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(request, kRequestTimeoutMs));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [weak = weak_from_this()](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            auto self = weak.lock();
            if (!self) {
                return;
            }
            const QDBusPendingReply<quint32> reply = *call;
            if (reply.isError()) {
                self->report("Cannot own " + self->busName_ + ": " + reply.error().message());
            } else if (reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner) {
                self->owned_ = true;
            } else {
                self->report(self->busName_ +
                             " belongs to another process; a second launch "
                             "cannot reach this one");
            }
        });
}

bool DBusSingleInstance::activateRunning(double timeoutSeconds) {
    return ask(timeoutSeconds) == Answer::broughtForward;
}

DBusSingleInstance::Answer DBusSingleInstance::ask(double timeoutSeconds) {
    if (!bus_.isConnected()) {
        return Answer::none;
    }
    auto call = QDBusMessage::createMethodCall(busName_, QString::fromLatin1(kPath),
                                               QString::fromLatin1(kInterface), "Activate");
    call << QVariantMap{};
    // Turns the event loop while waiting, so that the one answering may even be this
    // process (the tests); nothing else is running yet in a launch that is about to exit.
    const QDBusMessage reply = bus_.call(call, QDBus::BlockWithGui, waitMs(timeoutSeconds));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return Answer::broughtForward;
    }
    return reply.errorName() == QLatin1String(kGivingWay) ? Answer::givingWay : Answer::none;
}

std::optional<quint32> DBusSingleInstance::ownerPid(double timeoutSeconds) {
    if (!bus_.isConnected()) {
        return std::nullopt;
    }
    auto call = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                               "GetConnectionUnixProcessID");
    call << busName_;
    const QDBusReply<quint32> reply = bus_.call(call, QDBus::Block, waitMs(timeoutSeconds));
    if (!reply.isValid()) {
        return std::nullopt;
    }
    return reply.value();
}

QString DBusSingleInstance::nameForLock(const QString& applicationId,
                                        const std::filesystem::path& lock) {
    // The same file however it was named (relative, through a link).
    std::error_code error;
    std::filesystem::path full = std::filesystem::weakly_canonical(lock, error);
    if (error) {
        full = std::filesystem::absolute(lock, error);
        if (error) {
            full = lock;
        }
    }
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(full.native()),
                                                       QCryptographicHash::Sha256);
    // A name element may not start with a digit; 64 bits keep different folders apart.
    return applicationId + QStringLiteral(".Lock_") + QString::fromLatin1(digest.toHex().left(16));
}

void DBusSingleInstance::Activate(const QVariantMap& /*platformData*/) {
    activated();
}

void DBusSingleInstance::Open(const QStringList& /*uris*/, const QVariantMap& /*platformData*/) {
    activated();
}

void DBusSingleInstance::ActivateAction(const QString& /*name*/, const QVariantList& /*parameter*/,
                                        const QVariantMap& /*platformData*/) {
    activated();
}

void DBusSingleInstance::activated() {
    if (givesWay_ && calledFromDBus()) {
        sendErrorReply(QString::fromLatin1(kGivingWay),
                       "This Pellora runs off screen and ends, so that the new launch runs");
        // Let go at once, behind the answer: the launch takes the name as soon as it has
        // the lock, which this process holds until its very end.
        if (owned_) {
            auto release =
                QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, "ReleaseName");
            release << busName_;
            bus_.call(release, QDBus::Block, kRequestTimeoutMs);
            owned_ = false;
        }
    }
    if (onActivate_) {
        // A copy: the handler may serve again and replace itself.
        auto handler = onActivate_;
        handler();
    }
}

void DBusSingleInstance::report(const QString& message) const {
    if (log_ != nullptr) {
        log_->log(message.toStdString(), "app");
    }
}

}  // namespace pellora
