#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <filesystem>
#include <functional>

namespace pellora {

// Calls back (on the thread that made it) whenever a file in a folder is added, removed,
// replaced or rewritten in place.
class DirectoryWatcher final {
  public:
    DirectoryWatcher(std::filesystem::path dir, std::function<void()> onChange);

    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // False when the folder could not be watched (missing, or no inotify watches left).
    bool isWatching() const;

  private:
    void rewatch();

    std::filesystem::path dir_;
    std::function<void()> onChange_;
    QFileSystemWatcher watcher_;
};

}  // namespace pellora
