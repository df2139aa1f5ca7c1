#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

namespace pellora {

// Which connection owns each of some well-known names on a bus, learnt without waiting.
// Qt's QDBusConnection::connect() with a well-known name asks the bus daemon for the name's
// owner and waits for the answer on the calling thread; signals are therefore subscribed
// from any sender and checked here instead. Made and used on the main thread.
class BusNameOwners final : public QObject {
    Q_OBJECT
  public:
    BusNameOwners(QDBusConnection bus, QStringList names);

    // Runs `accepted` if `message` came from the connection that owns `name`: at once, or,
    // while the owner is still being asked (Qt may hand over a signal before that answer),
    // once it is known.
    void ifSentBy(const QDBusMessage& message, const QString& name, std::function<void()> accepted);

  private slots:
    void onNameOwnerChanged(const QString& name, const QString& from, const QString& to,
                            const QDBusMessage& message);

  private:
    struct Owner {
        QString owner;
        bool known = false;
        std::vector<std::pair<QString, std::function<void()>>> waiting;  // sender, then
    };
    void ask(const QString& name);
    void learn(const QString& name, const QString& owner);

    QDBusConnection bus_;
    QHash<QString, Owner> owners_;
};

}  // namespace pellora
