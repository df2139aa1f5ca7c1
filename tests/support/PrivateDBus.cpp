#include "PrivateDBus.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

namespace pellora::test {

PrivateDBus::PrivateDBus() {
    daemon_.setProgram("dbus-daemon");
    daemon_.setArguments({"--session", "--nofork", "--print-address=1"});
    daemon_.start();
    if (!daemon_.waitForStarted(5000)) {
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && !daemon_.canReadLine()) {
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
    mock->setProgram("/usr/bin/python3");
    mock->setArguments(QStringList{"-m", "dbusmock"} + arguments);
    mock->start();
    if (!mock->waitForStarted(5000)) {
        return false;
    }
    QDBusConnection probe = connect("probe");
    QElapsedTimer timer;
    timer.start();
    bool up = false;
    while (timer.elapsed() < 10000 && mock->state() == QProcess::Running) {
        if (probe.interface() && probe.interface()->isServiceRegistered(service)) {
            up = true;
            break;
        }
        QThread::msleep(20);
    }
    mocks_.push_back(std::move(mock));
    return up;
}

}  // namespace pellora::test
