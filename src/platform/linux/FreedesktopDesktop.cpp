#include "platform/linux/FreedesktopDesktop.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <system_error>

namespace pellora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");

std::filesystem::path absolutePath(const std::filesystem::path& path) {
    std::error_code error;
    auto full = std::filesystem::absolute(path, error);
    return error ? path : full;
}

}  // namespace

std::shared_ptr<FreedesktopDesktop> FreedesktopDesktop::create(QDBusConnection bus) {
    return std::shared_ptr<FreedesktopDesktop>(new FreedesktopDesktop(std::move(bus)));
}

void FreedesktopDesktop::revealFile(const std::filesystem::path& file,
                                    std::function<void(bool opened)> done) {
    // The answer comes through the event loop of the calling thread.
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    auto message = QDBusMessage::createMethodCall(kService, kPath, kService, "ShowItems");
    // No startup id: the file manager raises its window as it would for any request.
    message << QStringList{fileUri(file)} << QString();
    // A call that cannot even be sent still ends here, from the event loop.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [weak = weak_from_this(), file, done = std::move(done)](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            if (!weak.lock() || !done) {
                return;
            }
            done(!call->isError() || openFolder(file));
        });
}

QString FreedesktopDesktop::fileUri(const std::filesystem::path& path) {
    const QByteArray bytes = QByteArray::fromStdString(absolutePath(path).native());
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

bool FreedesktopDesktop::openFolder(const std::filesystem::path& file) {
    // Opening a URL needs the GUI side of Qt (the desktop's launcher, the portal).
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl(fileUri(absolutePath(file).parent_path())));
}

}  // namespace pellora
