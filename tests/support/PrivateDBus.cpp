#include "PrivateDBus.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

namespace pellora::test {

PrivateDBus::PrivateDBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QElapsedTimer timer;
    timer.start();
    while (daemon_.waitForStarted(5000) && !daemon_.canReadLine() && timer.elapsed() < 5000) {
        daemon_.waitForReadyRead(100);
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateDBus::~PrivateDBus() {
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

QDBusConnection PrivateDBus::connect(const QString& name) {
    QString unique = name + "-" + QString::number(connections_.size()) + "-" +
                     QString::number(reinterpret_cast<quintptr>(this));
    connections_ << unique;
    return QDBusConnection::connectToBus(address_, unique);
}

bool PrivateDBus::startMock(const QStringList& arguments, const QString& service) {
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

}  // namespace pellora::test
