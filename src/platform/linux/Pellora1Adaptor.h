#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QMetaType>
#include <QString>

#include "platform/RemoteCommands.h"

namespace pellora {

class DBusRemoteControl;
class DBusSingleInstance;

// The Monitor property's value, D-Bus type (ss): name, identifier; both empty when none.
struct DBusMonitorIdentity {
    QString name;
    QString id;
    bool operator==(const DBusMonitorIdentity&) const = default;
};

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMonitorIdentity& monitor);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMonitorIdentity& monitor);

}  // namespace pellora

Q_DECLARE_METATYPE(pellora::DBusMonitorIdentity)

namespace pellora {

// org.pellora.Pellora1 as Qt exports it, on the object that carries it: the properties read
// from the owner's published state, the methods handed to its commands with the reply kept
// for when they answer. Made by DBusRemoteControl, a child of the exported object.
class Pellora1Adaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.pellora.Pellora1")
    Q_PROPERTY(pellora::DBusMonitorIdentity Monitor READ monitor)
    Q_PROPERTY(double Luma READ luma)
    Q_PROPERTY(int Brightness READ brightness)
    Q_PROPERTY(QString Mode READ mode)
    Q_PROPERTY(uint Samples READ samples)
    Q_PROPERTY(double NextSnapshot READ nextSnapshot)
    Q_PROPERTY(QString CameraHealth READ cameraHealth)
    Q_PROPERTY(QString MonitorAccess READ monitorAccess)
    Q_PROPERTY(double PausedUntil READ pausedUntil)
  public:
    Pellora1Adaptor(DBusSingleInstance& exported, DBusRemoteControl& owner);

    DBusMonitorIdentity monitor() const;
    double luma() const;
    int brightness() const;
    QString mode() const;
    uint samples() const;
    double nextSnapshot() const;
    QString cameraHealth() const;
    QString monitorAccess() const;
    double pausedUntil() const;

  public slots:
    void SnapshotNow();
    void SetBrightness(int brightness);
    void StepBrightness(int delta);
    void Pause(double seconds);
    void SetMode(const QString& mode);
    void OpenPreferences();

  private:
    // The reply to the call being handled, sent when the commands answer.
    RemoteReply answerLater();
    // Hands the call to the owner's commands, or refuses it while none serve yet.
    template <typename Call>
    void carryOut(Call call);

    DBusSingleInstance& exported_;
    DBusRemoteControl& owner_;
};

}  // namespace pellora
