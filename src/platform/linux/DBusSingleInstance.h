#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/SingleInstance.h"

namespace pellora {

class LogSink;

// The running Pellora on the session bus: it owns a well-known name and answers
// org.freedesktop.Application there, as desktop launchers and GApplication do; a later
// launch calls Activate on that name and exits. Made and used on the main thread.
class DBusSingleInstance final : public QObject,
                                 // Qt keeps the call being handled here for this object's
                                 // adaptors too.
                                 public QDBusContext,
                                 public SingleInstance,
                                 public std::enable_shared_from_this<DBusSingleInstance> {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    static constexpr const char* kPath = "/org/pellora/Pellora";
    static constexpr const char* kInterface = "org.freedesktop.Application";
    // The longest a launch waits for the running one.
    static constexpr double kMaxWaitSeconds = 2.0;

    // `log` (may be null) hears what fails; it outlives this object.
    static std::shared_ptr<DBusSingleInstance> create(
        QString busName, LogSink* log, QDBusConnection bus = QDBusConnection::sessionBus());
    ~DBusSingleInstance() override;

    DBusSingleInstance(const DBusSingleInstance&) = delete;
    DBusSingleInstance& operator=(const DBusSingleInstance&) = delete;

    void serve(std::function<void()> onActivate) override;
    bool activateRunning(double timeoutSeconds) override;

    // What the running one made of a later launch's call.
    enum class Answer {
        none,            // nothing answered in time
        broughtForward,  // it shows itself
        givingWay,       // it cannot show itself, and ends so that the launch may run instead
    };
    Answer ask(double timeoutSeconds);
    // The process that owns the name now, if any does.
    std::optional<quint32> ownerPid(double timeoutSeconds);
    // This run cannot show itself (it runs off screen): a later launch is answered that it
    // gives way, and the name is let go before `onActivate` runs, which is to end the run.
    void giveWay() { givesWay_ = true; }
    static constexpr const char* kGivingWay = "org.pellora.Pellora.Error.GivingWay";

    // Whether the bus granted the name (known some time after `serve`).
    bool ownsName() const { return owned_; }
    // Whether the object is on the bus (from `serve` on), with any interfaces added to it
    // as Qt adaptors (children of this object).
    bool exported() const { return exported_; }
    QDBusConnection bus() const { return bus_; }

    // The name for an instance lock other than the user's own (a run with its own data
    // folder): one per lock file, so runs over different folders do not meet, and runs
    // over the same folder find each other.
    static QString nameForLock(const QString& applicationId, const std::filesystem::path& lock);

  public slots:
    // org.freedesktop.Application. Pellora opens no files and has no actions of its own to
    // run: each of these brings it forward.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameter,
                                     const QVariantMap& platformData);

  private:
    DBusSingleInstance(QString busName, LogSink* log, QDBusConnection bus);

    void activated();
    void report(const QString& message) const;

    const QString busName_;
    LogSink* const log_;
    QDBusConnection bus_;
    std::function<void()> onActivate_;
    bool exported_ = false;
    bool owned_ = false;
    bool givesWay_ = false;
};

}  // namespace pellora
