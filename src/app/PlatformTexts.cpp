#include "app/PlatformTexts.h"

namespace pellora {

const PlatformTexts& PlatformTexts::linuxDesktop() {
    static const PlatformTexts texts{
        "Reveal samples in file manager",
        "Reveal debug dump in file manager",
        "Re-check camera permission (video group)",
        "Brightness: (built-in display managed by the desktop)",
        "\u26A0\uFE0E Camera permission denied — click for the fix (video group / uaccess)",
        "Executable path: ",
        // Window managers often keep Alt+press for moving windows, so Delete works too.
        "Adaptive curve — anchors learned from your adjustments · drag to move, click to add, "
        "Alt-click or Delete to remove",
    };
    return texts;
}

}  // namespace pellora
