#pragma once

#include <QDBusConnection>
#include <functional>
#include <memory>

#include "platform/OnScreenDisplay.h"

namespace pellora {

// Plasma's on-screen display, the one its own brightness keys show: plasmashell's
// org.kde.osdService. Elsewhere (GNOME, no Plasma running) every request answers false.
// Made and used on the main thread.
class KdeOnScreenDisplay final : public OnScreenDisplay,
                                 public std::enable_shared_from_this<KdeOnScreenDisplay> {
  public:
    // Plasma answers at once or not at all; a hung shell must not hold the indicator back
    // for long.
    static constexpr int kCallTimeoutMs = 1000;

    static std::shared_ptr<KdeOnScreenDisplay> create(
        QDBusConnection bus = QDBusConnection::sessionBus());

    // `done` runs once, from the event loop, unless this object is gone by then.
    void showBrightness(int percent, std::function<void(bool shown)> done) override;

  private:
    explicit KdeOnScreenDisplay(QDBusConnection bus) : bus_(std::move(bus)) {}

    QDBusConnection bus_;
};

}  // namespace pellora
