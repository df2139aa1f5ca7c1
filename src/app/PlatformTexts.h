#pragma once

#include <string>

namespace pellora {

// The texts that name a platform's own places and tools, kept together so that each
// desktop's counterparts live in one spot. Everything else the program says is the same
// everywhere.
struct PlatformTexts {
    std::string revealSamplesTitle;
    std::string revealDumpTitle;
    std::string cameraResetTitle;
    // The brightness row while no external monitor is in scope.
    std::string builtInBrightness;
    // The camera row while access is refused.
    std::string permissionDeniedRow;
    // Logged at launch before the program's location.
    std::string locationLabel;
    // The preferences window's header over the curve editor, naming the removal gesture.
    std::string curveEditorHeader;

    // The Linux desktop's.
    static const PlatformTexts& linuxDesktop();
};

}  // namespace pellora
