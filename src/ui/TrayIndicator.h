#pragma once

#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "app/BrightnessIndicator.h"

namespace pellora {

// Tells the brightness just set with a short message from the tray icon. Where no tray
// exists it shows nothing: a message would need an icon to point at.
class TrayIndicator final : public BrightnessIndicator {
  public:
    explicit TrayIndicator(QSystemTrayIcon& icon) : icon_(&icon) {}

    void show(int brightness, int delta) override;

    // "Brightness 63 (+3)", "Brightness 60 (−3)", or "Brightness 63" when nothing moved.
    static QString text(int brightness, int delta);

    static constexpr int kShowMs = 1600;

  private:
    QPointer<QSystemTrayIcon> icon_;
};

}  // namespace pellora
