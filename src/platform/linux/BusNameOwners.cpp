#include "platform/linux/BusNameOwners.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pellora {

namespace {

const QString kDaemon = QStringLiteral("org.freedesktop.DBus");
const QString kDaemonPath = QStringLiteral("/org/freedesktop/DBus");

}  // namespace

BusNameOwners::BusNameOwners(QDBusConnection bus, QStringList names) : bus_(std::move(bus)) {
    for (const QString& name : names) {
        if (owners_.contains(name)) {
            continue;
        }
        owners_.insert(name, {});
        // The daemon answers and signals in order, so subscribing first and then asking means
        // whichever arrives last is the newest.
        bus_.connect(QString(), kDaemonPath, kDaemon, QStringLiteral("NameOwnerChanged"),
                     QStringList{name}, QString(), this,
                     SLOT(onNameOwnerChanged(QString, QString, QString, QDBusMessage)));
        auto call = QDBusMessage::createMethodCall(kDaemon, kDaemonPath, kDaemon,
                                                   QStringLiteral("GetNameOwner"));
        call << name;
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                         [this, name](QDBusPendingCallWatcher* answer) {
                             answer->deleteLater();
                             QDBusPendingReply<QString> reply = *answer;
                             owners_[name] = reply.isValid() ? reply.value() : QString();
                         });
    }
}

bool BusNameOwners::sentBy(const QDBusMessage& message, const QString& name) const {
    const QString owner = owners_.value(name);
    return !owner.isEmpty() && message.service() == owner;
}

void BusNameOwners::onNameOwnerChanged(const QString& name, const QString& /*from*/,
                                       const QString& to, const QDBusMessage& message) {
    if (message.service() != kDaemon || !owners_.contains(name)) {
        return;
    }
    owners_[name] = to;
}

}  // namespace pellora
