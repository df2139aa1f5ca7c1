#include "app/MenuTexts.h"

#include "app/LocalTime.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"

namespace pellora {

std::string MenuTexts::modeRow(Mode mode) {
    return mode == Mode::adapting ? "Mode: Adapting" : "Mode: Learning";
}

std::string MenuTexts::samplesRow(long long count, std::optional<double> nextSnapshotAt,
                                  const std::string& intervalLabel) {
    std::string row = "Samples: " + std::to_string(count);
    if (nextSnapshotAt) {
        row += " · next " + localtime::hoursMinutes(*nextSnapshotAt) + " (" + intervalLabel + ")";
    }
    return row;
}

MenuTexts::Toggle MenuTexts::toggleRow(Mode mode, long long sampleCount) {
    if (mode == Mode::adapting) {
        return {"Back to learning", true};
    }
    if (sampleCount < minSamplesToAdapt) {
        return {"Start adapting (need " + std::to_string(minSamplesToAdapt - sampleCount) +
                    " more samples)",
                false};
    }
    return {"Start adapting", true};
}

MenuTexts::CameraRow MenuTexts::cameraRow(CameraHealth health, const std::string& deviceName,
                                          const PlatformTexts& texts) {
    switch (health) {
        case CameraHealth::ok:
            return {};
        case CameraHealth::needsPermission:
            return {"\U0001F3A5 Enable camera access… (needed to read room light)",
                    CameraAction::enableAccess, StatusMenu::sunGlyph};
        case CameraHealth::permissionDenied:
            return {texts.permissionDeniedRow, CameraAction::enableAccess,
                    StatusMenu::warningGlyph};
        case CameraHealth::noDevice:
            return {
                "\u26A0\uFE0E No camera detected — check it's plugged in. A charge-only "
                "USB-C cable carries power but no video; try a data cable or another port. "
                "Click to retry.",
                CameraAction::snapshotNow, StatusMenu::warningGlyph};
        case CameraHealth::notResponding:
            return {"\u26A0\uFE0E Camera \"" + deviceName +
                        "\" is connected but sending no video — usually a bad or charge-only "
                        "cable, or an underpowered port. Permission is fine. Click to retry.",
                    CameraAction::snapshotNow, StatusMenu::warningGlyph};
    }
    return {};
}

std::optional<std::string> MenuTexts::monitorAccessRow(
    const std::optional<std::string>& channelProblem, int failedReadsInRow, bool everAnswered) {
    if (failedReadsInRow == 0) {
        return std::nullopt;
    }
    if (channelProblem) {
        return "\u26A0\uFE0E Monitor control unavailable — " + *channelProblem +
               ". Click to retry.";
    }
    if (!everAnswered) {
        return std::string(
            "\u26A0\uFE0E Monitor not answering over DDC/CI — turn DDC/CI on in the monitor's "
            "menu, or try another cable, port or dock. Click to retry.");
    }
    // One failed read among good ones is a glitch; after more, a monitor that answered before
    // is asleep or elsewhere, not set up wrong.
    if (failedReadsInRow >= 2) {
        return std::string(
            "\u26A0\uFE0E Monitor stopped answering over DDC/CI — asleep, switched to another "
            "input, or moved away by a KVM switch? The next reading tries again. Click to retry.");
    }
    return std::nullopt;
}

std::string MenuTexts::settingsFileRow(const std::string& problem, const std::string& fix) {
    return "\u26A0\uFE0E Settings not saved — " + problem + ". " + fix + ". Click to show it.";
}

std::string MenuTexts::samplesFileRow(const std::string& problem) {
    return "\u26A0\uFE0E Samples not saved — " + problem +
           ". Free some disk space or give yourself write access to its folder, then restart "
           "Pellora. Click to show it.";
}

const char* MenuTexts::glyph(bool hasScope, CameraHealth health, bool monitorProblem) {
    if (!hasScope) {
        return StatusMenu::idleGlyph;
    }
    bool cameraWarning = health == CameraHealth::permissionDenied ||
                         health == CameraHealth::noDevice || health == CameraHealth::notResponding;
    return monitorProblem || cameraWarning ? StatusMenu::warningGlyph : StatusMenu::sunGlyph;
}

}  // namespace pellora
