#include "ui/TrayIndicator.h"

#include <QSystemTrayIcon>

namespace pellora {

void TrayIndicator::show(int brightness, int delta) {
    // Without a tray the message would have nothing to come from.
    if (icon_ == nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    icon_->showMessage(QStringLiteral("Pellora"), text(brightness, delta), QSystemTrayIcon::NoIcon,
                       kShowMs);
}

QString TrayIndicator::text(int brightness, int delta) {
    QString text = QStringLiteral("Brightness %1").arg(brightness);
    if (delta > 0) {
        text += QStringLiteral(" (+%1)").arg(delta);
    } else if (delta < 0) {
        // A real minus sign, not a hyphen.
        text += QStringLiteral(" (\u2212%1)").arg(-static_cast<long long>(delta));
    }
    return text;
}

}  // namespace pellora
