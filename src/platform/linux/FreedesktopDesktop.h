#pragma once

#include <QDBusConnection>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/Desktop.h"

namespace pellora {

// The file manager named by the freedesktop FileManager1 interface (Nautilus, Dolphin,
// Nemo, Thunar, Caja…), asked over D-Bus to show a file selected; where none answers, the
// file's folder is opened as the desktop opens folders. Made and used on the main thread.
class FreedesktopDesktop final : public Desktop,
                                 public std::enable_shared_from_this<FreedesktopDesktop> {
  public:
    // A file manager started by the call itself may take a few seconds to answer.
    static constexpr int kCallTimeoutMs = 10000;

    static std::shared_ptr<FreedesktopDesktop> create(
        QDBusConnection bus = QDBusConnection::sessionBus());

    // `done` runs once, from the event loop, unless this object is gone by then.
    void revealFile(const std::filesystem::path& file,
                    std::function<void(bool opened)> done) override;

    // "file://" and the absolute path's bytes, percent-encoded as they are: a name that is
    // not UTF-8 still names the same file.
    static QString fileUri(const std::filesystem::path& path);

  private:
    explicit FreedesktopDesktop(QDBusConnection bus) : bus_(std::move(bus)) {}

    static bool openFolder(const std::filesystem::path& file);

    QDBusConnection bus_;
};

}  // namespace pellora
