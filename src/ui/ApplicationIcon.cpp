#include "ui/ApplicationIcon.h"

namespace pellora {

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/pellora/icons/org.pellora.Pellora-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace pellora
