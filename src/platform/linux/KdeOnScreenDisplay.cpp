#include "platform/linux/KdeOnScreenDisplay.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QThread>
#include <algorithm>

namespace pellora {

std::shared_ptr<KdeOnScreenDisplay> KdeOnScreenDisplay::create(QDBusConnection bus) {
    return std::shared_ptr<KdeOnScreenDisplay>(new KdeOnScreenDisplay(std::move(bus)));
}

void KdeOnScreenDisplay::showBrightness(int percent, std::function<void(bool shown)> done) {
    // The answer comes through the event loop of the calling thread.
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.plasmashell"), QStringLiteral("/org/kde/osdService"),
        QStringLiteral("org.kde.osdService"), QStringLiteral("brightnessChanged"));
    message << std::clamp(percent, 0, 100);
    // A bus that is not there, or a call that cannot be sent, still ends here as an error.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [weak = weak_from_this(), done = std::move(done)](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            if (!weak.lock() || !done) {
                return;
            }
            done(!call->isError());
        });
}

}  // namespace pellora
