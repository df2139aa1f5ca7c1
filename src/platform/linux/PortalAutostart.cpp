#include "platform/linux/PortalAutostart.h"

#include <unistd.h>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Queue.h"

namespace pellora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Background");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

constexpr const char* kOn = "autostart=true\n";
constexpr const char* kOff = "autostart=false\n";

}  // namespace

std::shared_ptr<PortalAutostart> PortalAutostart::create(std::filesystem::path stateFile,
                                                         Queue& work, Queue& main,
                                                         QDBusConnection bus) {
    return std::shared_ptr<PortalAutostart>(
        new PortalAutostart(std::move(bus), std::move(stateFile), work, main));
}

PortalAutostart::PortalAutostart(QDBusConnection bus, std::filesystem::path stateFile, Queue& work,
                                 Queue& main)
    : bus_(std::move(bus)),
      owners_(bus_, {kService}),
      stateFile_(std::move(stateFile)),
      work_(work),
      main_(main) {}

PortalAutostart::~PortalAutostart() {
    stopListening();
    if (pending_ && pending_->timeout) {
        pending_->timeout->cancel();
    }
}

void PortalAutostart::read(std::function<void(State)> done) {
    work_.post([weak = weak_from_this(), file = stateFile_, &main = main_,
                done = std::move(done)]() mutable {
        FileRead read = readWholeFile(file, 64);
        State state;
        state.enabled = read.status == FileRead::Status::ok && read.bytes == kOn;
        if (read.status == FileRead::Status::ok && read.bytes != kOn && read.bytes != kOff) {
            state.problem = "The record of the desktop portal's last answer, " + file.string() +
                            ", holds something else; shown as off";
        } else if (read.status == FileRead::Status::unreadable ||
                   read.status == FileRead::Status::tooLarge) {
            state.problem = "The record of the desktop portal's last answer, " + file.string() +
                            ", cannot be read (" + read.error + "); shown as off";
        }
        main.post([weak, state = std::move(state), done = std::move(done)] {
            if (weak.lock() && done) {
                done(state);
            }
        });
    });
}

void PortalAutostart::setEnabled(bool enabled, std::function<void(Outcome)> done) {
    if (pending_) {
        main_.post([weak = weak_from_this(), done = std::move(done)] {
            if (weak.lock() && done) {
                done({false, false, "The desktop portal has not answered the last request yet"});
            }
        });
        return;
    }
    // The portal names the request after our unique bus name and the token, so the answer's
    // object is known, and listened to, before the call goes out.
    const QString token = QStringLiteral("pellora_%1_%2").arg(::getpid()).arg(++requests_);
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    pending_ = Pending{enabled, {}, std::move(done), nullptr};
    listen(kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);
    pending_->timeout =
        main_.postAfter(kAnswerTimeoutSeconds, [weak = weak_from_this(), request = requests_] {
            auto self = weak.lock();
            if (self && self->pending_ && self->requests_ == request) {
                self->finish({false, false, "The desktop portal gave no answer"});
            }
        });

    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                  QStringLiteral("RequestBackground"));
    QVariantMap options{
        {QStringLiteral("handle_token"), token},
        {QStringLiteral("reason"), QStringLiteral("Pellora keeps your monitor's brightness in "
                                                  "step with the room from the moment you log in")},
        {QStringLiteral("autostart"), enabled},
        {QStringLiteral("dbus-activatable"), false},
    };
    message << QString() << options;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, request = requests_](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         if (!pending_ || requests_ != request) {
                             return;
                         }
                         QDBusPendingReply<QDBusObjectPath> reply = *call;
                         if (reply.isError()) {
                             finish({false, false,
                                     "No desktop portal took the request (" +
                                         reply.error().message().toStdString() + ")"});
                             return;
                         }
                         // An older portal may pick another object for the answer.
                         const QString handle = reply.value().path();
                         if (handle != pending_->handle) {
                             listen(handle);
                         }
                     });
}

void PortalAutostart::listen(const QString& handle) {
    stopListening();
    pending_->handle = handle;
    bus_.connect(QString(), handle, kRequest, QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalAutostart::stopListening() {
    if (pending_ && !pending_->handle.isEmpty()) {
        bus_.disconnect(QString(), pending_->handle, kRequest, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        pending_->handle.clear();
    }
}

void PortalAutostart::onResponse(uint response, const QVariantMap& results,
                                 const QDBusMessage& message) {
    owners_.ifSentBy(message, kService, [this, response, results, handle = message.path()] {
        if (pending_ && pending_->handle == handle) {
            answered(response, results);
        }
    });
}

void PortalAutostart::answered(uint response, const QVariantMap& results) {
    const bool wanted = pending_->enabled;
    if (response == 1) {
        finish({false, false, "The request to the desktop portal was cancelled"});
        return;
    }
    if (response != 0) {
        finish({false, false, "The desktop portal refused the request"});
        return;
    }
    const bool autostart = results.value(QStringLiteral("autostart")).toBool();
    if (wanted && !autostart) {
        finish({false, false, "The desktop did not allow Pellora to start at login"});
        return;
    }
    // Kept, so later runs show what the portal last agreed to.
    // Should the record fail, the portal's answer still stands; only later runs show off.
    work_.post([file = stateFile_, autostart] {
        if (ensureDirectory(file.parent_path())) {
            writeFileAtomically(file, autostart ? kOn : kOff);
        }
    });
    finish({true, autostart,
            autostart ? "The desktop portal will start Pellora at login"
                      : "The desktop portal will no longer start Pellora at login"});
}

void PortalAutostart::finish(Outcome outcome) {
    stopListening();
    auto done = std::move(pending_->done);
    if (pending_->timeout) {
        pending_->timeout->cancel();
    }
    pending_.reset();
    if (done) {
        done(std::move(outcome));
    }
}

}  // namespace pellora
