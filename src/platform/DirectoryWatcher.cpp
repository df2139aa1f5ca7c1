#include "platform/DirectoryWatcher.h"

#include <QDir>

namespace pellora {

DirectoryWatcher::DirectoryWatcher(std::filesystem::path dir, std::function<void()> onChange)
    : dir_(std::move(dir)), onChange_(std::move(onChange)) {
    // The watcher is a member: its signals, and with them these calls, end with this object.
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_, [this] {
        rewatch();
        onChange_();
    });
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &watcher_, [this] {
        rewatch();
        onChange_();
    });
    rewatch();
}

bool DirectoryWatcher::isWatching() const {
    return !watcher_.directories().isEmpty();
}

void DirectoryWatcher::rewatch() {
    QString dir = QString::fromStdString(dir_.string());
    if (watcher_.directories().isEmpty()) {
        watcher_.addPath(dir);
    }
    // Files replaced by a rename drop out of the watch list; pick up the new ones.
    QStringList files;
    for (const QString& name : QDir(dir).entryList(QDir::Files)) {
        files << QDir(dir).filePath(name);
    }
    QStringList watched = watcher_.files();
    QStringList fresh;
    for (const QString& file : files) {
        if (!watched.contains(file)) {
            fresh << file;
        }
    }
    if (!fresh.isEmpty()) {
        watcher_.addPaths(fresh);
    }
}

}  // namespace pellora
