#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <chrono>

#include "platform/RemoteClient.h"

namespace pellora {

// Asks the Pellora that owns `busName` over org.pellora.Pellora1, each call within what is
// left of one time bound for them all. Any thread, one call at a time.
class DBusRemoteClient final : public RemoteClient {
  public:
    DBusRemoteClient(QString busName, QDBusConnection bus, double boundSeconds);
    // On the user's session bus.
    DBusRemoteClient(QString busName, double boundSeconds);

    std::variant<RemoteState, RemoteFailure> state() override;
    std::optional<RemoteFailure> snapshotNow() override;
    std::optional<RemoteFailure> setBrightness(int brightness) override;
    std::optional<RemoteFailure> stepBrightness(int delta) override;
    std::optional<RemoteFailure> pause(double seconds) override;
    std::optional<RemoteFailure> setMode(const std::string& mode) override;
    std::optional<RemoteFailure> openPreferences() override;

    // What the bus's reply means for the caller: nothing when it is a reply.
    static std::optional<RemoteFailure> failureOf(const QDBusMessage& reply);

  private:
    QDBusMessage call(const QString& interface, const QString& method,
                      const QVariantList& arguments);
    std::optional<RemoteFailure> invoke(const QString& method, const QVariantList& arguments);

    QString busName_;
    QDBusConnection bus_;
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace pellora
