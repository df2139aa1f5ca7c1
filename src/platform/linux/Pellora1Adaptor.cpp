#include "platform/linux/Pellora1Adaptor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <algorithm>
#include <limits>

#include "platform/linux/DBusRemoteControl.h"
#include "platform/linux/DBusSingleInstance.h"

namespace pellora {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMonitorIdentity& monitor) {
    argument.beginStructure();
    argument << monitor.name << monitor.id;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMonitorIdentity& monitor) {
    argument.beginStructure();
    argument >> monitor.name >> monitor.id;
    argument.endStructure();
    return argument;
}

Pellora1Adaptor::Pellora1Adaptor(DBusSingleInstance& exported, DBusRemoteControl& owner)
    : QDBusAbstractAdaptor(&exported), exported_(exported), owner_(owner) {}

DBusMonitorIdentity Pellora1Adaptor::monitor() const {
    const RemoteState& s = owner_.state();
    return {QString::fromStdString(s.monitorName), QString::fromStdString(s.monitorId)};
}

double Pellora1Adaptor::luma() const {
    return owner_.state().luma;
}

int Pellora1Adaptor::brightness() const {
    return owner_.state().brightness;
}

QString Pellora1Adaptor::mode() const {
    return QString::fromStdString(owner_.state().mode);
}

uint Pellora1Adaptor::samples() const {
    return uint(std::clamp<long long>(owner_.state().samples, 0, std::numeric_limits<uint>::max()));
}

double Pellora1Adaptor::nextSnapshot() const {
    return owner_.state().nextSnapshot;
}

QString Pellora1Adaptor::cameraHealth() const {
    return QString::fromStdString(owner_.state().cameraHealth);
}

QString Pellora1Adaptor::monitorAccess() const {
    return QString::fromStdString(owner_.state().monitorAccess);
}

double Pellora1Adaptor::pausedUntil() const {
    return owner_.state().pausedUntil;
}

// Qt gives an adaptor's call to the object it adapts.
RemoteReply Pellora1Adaptor::answerLater() {
    const QDBusContext& call = exported_;
    call.setDelayedReply(true);
    return [bus = call.connection(), request = call.message()](RemoteOutcome outcome) {
        bus.send(outcome ? request.createErrorReply(DBusRemoteControl::errorName(outcome->kind),
                                                    QString::fromStdString(outcome->message))
                         : request.createReply());
    };
}

template <typename Call>
void Pellora1Adaptor::carryOut(Call call) {
    RemoteReply reply = answerLater();
    if (RemoteCommands* commands = owner_.commands()) {
        call(*commands, std::move(reply));
    } else {
        reply(RemoteRefusal{RemoteRefusal::Kind::notYetAvailable,
                            "Pellora is still starting; ask again in a moment"});
    }
}

void Pellora1Adaptor::SnapshotNow() {
    carryOut([](RemoteCommands& c, RemoteReply r) { c.remoteSnapshotNow(std::move(r)); });
}

void Pellora1Adaptor::SetBrightness(int brightness) {
    carryOut([brightness](RemoteCommands& c, RemoteReply r) {
        c.remoteSetBrightness(brightness, std::move(r));
    });
}

void Pellora1Adaptor::StepBrightness(int delta) {
    carryOut(
        [delta](RemoteCommands& c, RemoteReply r) { c.remoteStepBrightness(delta, std::move(r)); });
}

void Pellora1Adaptor::Pause(double seconds) {
    carryOut([seconds](RemoteCommands& c, RemoteReply r) { c.remotePause(seconds, std::move(r)); });
}

void Pellora1Adaptor::SetMode(const QString& mode) {
    carryOut([mode = mode.toStdString()](RemoteCommands& c, RemoteReply r) {
        c.remoteSetMode(mode, std::move(r));
    });
}

void Pellora1Adaptor::OpenPreferences() {
    carryOut([](RemoteCommands& c, RemoteReply r) { c.remoteOpenPreferences(std::move(r)); });
}

}  // namespace pellora
