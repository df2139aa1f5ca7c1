#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/LoginItem.h"
#include "platform/WorkItem.h"
#include "platform/linux/BusNameOwners.h"

namespace pellora {

class Queue;

// Start at login from inside a Flatpak or snap sandbox, which cannot see the desktop's
// autostart folder: the desktop portal's Background request with `autostart`, answered
// through a Request object's Response signal (the desktop may ask the user first). The
// portal cannot be asked what it did earlier, so the last answer is kept in `stateFile`
// (read and written on `work`). Made and used on the main thread.
class PortalAutostart final : public QObject,
                              public LoginItem,
                              public std::enable_shared_from_this<PortalAutostart> {
    Q_OBJECT
  public:
    static constexpr int kCallTimeoutMs = 5000;
    // The desktop may show the user a question; they may take their time over it.
    static constexpr double kAnswerTimeoutSeconds = 300.0;

    static std::shared_ptr<PortalAutostart> create(
        std::filesystem::path stateFile, Queue& work, Queue& main,
        QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalAutostart() override;

    void read(std::function<void(State)> done) override;
    // One request at a time: another while one waits for its answer fails at once.
    void setEnabled(bool enabled, std::function<void(Outcome)> done) override;

  private slots:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);

  private:
    struct Pending {
        bool enabled = false;
        QString handle;
        std::function<void(Outcome)> done;
        WorkItemPtr timeout;
    };

    PortalAutostart(QDBusConnection bus, std::filesystem::path stateFile, Queue& work, Queue& main);

    void listen(const QString& handle);
    void stopListening();
    void answered(uint response, const QVariantMap& results);
    void finish(Outcome outcome);

    QDBusConnection bus_;
    // An answer counts only from the portal: anyone on the bus may send a Response.
    BusNameOwners owners_;
    const std::filesystem::path stateFile_;
    Queue& work_;
    Queue& main_;
    std::optional<Pending> pending_;
    int requests_ = 0;
};

}  // namespace pellora
