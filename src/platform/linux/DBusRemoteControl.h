#pragma once

#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <optional>

#include "platform/RemoteControl.h"

namespace pellora {

class DBusSingleInstance;
class Pellora1Adaptor;

// Pellora's scripting interface, org.pellora.Pellora1, on the object and name the single
// instance owns (/org/pellora/Pellora, beside org.freedesktop.Application): read-only
// properties announced with PropertiesChanged, the methods, and errors under
// org.pellora.Pellora1.Error. Made and used on the main thread; `host` outlives it.
class DBusRemoteControl final : public RemoteControl {
  public:
    static constexpr const char* kInterface = "org.pellora.Pellora1";

    explicit DBusRemoteControl(DBusSingleInstance& host);
    ~DBusRemoteControl() override;

    DBusRemoteControl(const DBusRemoteControl&) = delete;
    DBusRemoteControl& operator=(const DBusRemoteControl&) = delete;

    void serve(RemoteCommands& commands) override;
    void publish(const RemoteState& state) override;

    const RemoteState& state() const { return state_; }
    // Nothing until served.
    RemoteCommands* commands() const { return commands_; }

    // "org.pellora.Pellora1.Error.InvalidArgument", ".NoMonitor", ".NotYetAvailable".
    static QString errorName(RemoteRefusal::Kind kind);
    static std::optional<RemoteRefusal::Kind> refusalNamed(const QString& errorName);
    // The properties as D-Bus values, by name.
    static QVariantMap properties(const RemoteState& state);

  private:
    DBusSingleInstance& host_;
    QPointer<Pellora1Adaptor> adaptor_;
    RemoteCommands* commands_ = nullptr;
    RemoteState state_;
};

}  // namespace pellora
