#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace pellora {

// Which connection owns each of some well-known names on a bus, learnt without waiting.
// Qt's QDBusConnection::connect() with a well-known name asks the bus daemon for the name's
// owner and waits for the answer on the calling thread; signals are therefore subscribed
// from any sender and checked here instead. Made and used on the main thread.
class BusNameOwners final : public QObject {
    Q_OBJECT
  public:
    BusNameOwners(QDBusConnection bus, QStringList names);

    // Whether `message` came from the connection that owns `name` now.
    bool sentBy(const QDBusMessage& message, const QString& name) const;

  private slots:
    void onNameOwnerChanged(const QString& name, const QString& from, const QString& to,
                            const QDBusMessage& message);

  private:
    QDBusConnection bus_;
    QHash<QString, QString> owners_;
};

}  // namespace pellora
