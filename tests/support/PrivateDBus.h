#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>
#include <memory>
#include <vector>

namespace pellora::test {

// A dbus-daemon of the test's own, and python3-dbusmock services on it, ended with the object.
class PrivateDBus {
  public:
    PrivateDBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QElapsedTimer timer;
        timer.start();
        while (daemon_.waitForStarted(5000) && !daemon_.canReadLine() && timer.elapsed() < 5000) {
            daemon_.waitForReadyRead(100);
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateDBus() {
        for (const auto& name : connections_) {
            QDBusConnection::disconnectFromBus(name);
        }
        for (auto& mock : mocks_) {
            mock->kill();
            mock->waitForFinished(2000);
        }
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
    PrivateDBus(const PrivateDBus&) = delete;
    PrivateDBus& operator=(const PrivateDBus&) = delete;

    bool ok() const { return !address_.isEmpty(); }
    qint64 daemonPid() const { return daemon_.processId(); }
    const QString& address() const { return address_; }
    // A connection of its own to this bus (a new name each time).
    QDBusConnection connect(const QString& name) {
        QString unique = name + "-" + QString::number(connections_.size()) + "-" +
                         QString::number(reinterpret_cast<quintptr>(this));
        connections_ << unique;
        return QDBusConnection::connectToBus(address_, unique);
    }

    // Starts `python3 -m dbusmock` with `arguments` on this bus and waits until `service`
    // appears. For the logind template pass {"--system", "--template", "logind"}.
    bool startMock(const QStringList& arguments, const QString& service) {
        auto mock = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
        mock->setProcessEnvironment(env);
        mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The distribution's python has dbusmock; a python on PATH may not.
        mock->start("/usr/bin/python3", QStringList{"-m", "dbusmock"} + arguments);
        QProcess& process = *mocks_.emplace_back(std::move(mock));
        QDBusConnection probe = connect("probe");
        QElapsedTimer timer;
        timer.start();
        while (process.waitForStarted(5000) && timer.elapsed() < 10000) {
            if (probe.interface() && probe.interface()->isServiceRegistered(service)) {
                return true;
            }
            QThread::msleep(20);
        }
        return false;
    }

  private:
    QProcess daemon_;
    QString address_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    QStringList connections_;
};

}  // namespace pellora::test
