#include "platform/linux/BusNameOwners.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

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
        // Subscribed before asking, so no change goes unseen; a change seen before the answer
        // is newer than it (or the same).
        bus_.connect(QString(), kDaemonPath, kDaemon, QStringLiteral("NameOwnerChanged"),
                     QStringList{name}, QString(), this,
                     SLOT(onNameOwnerChanged(QString, QString, QString, QDBusMessage)));
        ask(name);
    }
}

void BusNameOwners::ask(const QString& name) {
    auto call = QDBusMessage::createMethodCall(kDaemon, kDaemonPath, kDaemon,
                                               QStringLiteral("GetNameOwner"));
    call << name;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, name](QDBusPendingCallWatcher* answer) {
                         answer->deleteLater();
                         QDBusPendingReply<QString> reply = *answer;
                         if (owners_[name].known) {
                             return;
                         }
                         const auto error = reply.error().type();
                         if (error == QDBusError::NoReply || error == QDBusError::Timeout) {
                             ask(name);  // a daemon that was slow to answer still knows
                         } else {
                             learn(name, reply.isValid() ? reply.value() : QString());
                         }
                     });
}

void BusNameOwners::ifSentBy(const QDBusMessage& message, const QString& name,
                             std::function<void()> accepted) {
    auto it = owners_.find(name);
    if (it == owners_.end()) {
        return;
    }
    if (!it->known) {
        it->waiting.emplace_back(message.service(), std::move(accepted));
    } else if (!it->owner.isEmpty() && message.service() == it->owner) {
        accepted();
    }
}

void BusNameOwners::learn(const QString& name, const QString& owner) {
    Owner& entry = owners_[name];
    entry.owner = owner;
    entry.known = true;
    auto waiting = std::exchange(entry.waiting, {});
    // What runs may let this object go, with the one that owns it.
    QPointer<BusNameOwners> alive(this);
    for (auto& [sender, accepted] : waiting) {
        if (!owner.isEmpty() && sender == owner) {
            accepted();
            if (!alive) {
                return;
            }
        }
    }
}

void BusNameOwners::onNameOwnerChanged(const QString& name, const QString& /*from*/,
                                       const QString& to, const QDBusMessage& message) {
    if (message.service() != kDaemon || !owners_.contains(name)) {
        return;
    }
    learn(name, to);
}

}  // namespace pellora
