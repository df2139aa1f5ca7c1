#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace pellora::test {

// A dbus-daemon of the test's own, and python3-dbusmock services on it. Both are ended
// with the object.
class PrivateDBus {
  public:
    PrivateDBus();
    ~PrivateDBus();
    PrivateDBus(const PrivateDBus&) = delete;
    PrivateDBus& operator=(const PrivateDBus&) = delete;

    bool ok() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }
    // A connection of its own to this bus (a new name each time).
    QDBusConnection connect(const QString& name);

    // Starts `python3 -m dbusmock` with `arguments` on this bus and waits until `service`
    // appears. For the logind template pass {"--system", "--template", "logind"}.
    bool startMock(const QStringList& arguments, const QString& service);

  private:
    QProcess daemon_;
    QString address_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    QStringList connections_;
};

}  // namespace pellora::test
