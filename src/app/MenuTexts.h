#pragma once

#include <optional>
#include <string>

#include "app/CameraHealth.h"
#include "app/Mode.h"

namespace pellora {

struct PlatformTexts;

// The status menu's state rows and the tray glyph, from the state they show.
struct MenuTexts {
    static constexpr int minSamplesToAdapt = 80;

    static std::string modeRow(Mode mode);
    // `nextSnapshotAt` nothing: no snapshot is scheduled.
    static std::string samplesRow(long long count, std::optional<double> nextSnapshotAt,
                                  const std::string& intervalLabel);

    struct Toggle {
        std::string title;
        bool enabled = false;
    };
    static Toggle toggleRow(Mode mode, long long sampleCount);

    enum class CameraAction { none, enableAccess, snapshotNow };
    struct CameraRow {
        std::optional<std::string> title;  // nothing: the row is hidden
        CameraAction action = CameraAction::none;
        std::optional<std::string> glyph;  // nothing: left to the menu refresh
    };
    static CameraRow cameraRow(CameraHealth health, const std::string& deviceName,
                               const PlatformTexts& texts);

    // The row that says why the monitor cannot be driven, or nothing while it answers.
    // `channelProblem` is the platform's sentence on a channel it cannot open.
    static std::optional<std::string> monitorAccessRow(
        const std::optional<std::string>& channelProblem, int failedReadsInRow, bool everAnswered);

    // The row that says changes are not being saved, from the settings store's reason and
    // what the user can do about it.
    static std::string settingsFileRow(const std::string& problem, const std::string& fix);
    // The samples log would not take the last sample; `problem` says why.
    static std::string samplesFileRow(const std::string& problem);

    // The glyph a refresh shows: idle without a monitor, a warning while a warning row is
    // up, else the sun.
    static const char* glyph(bool hasScope, CameraHealth health, bool monitorProblem);
};

}  // namespace pellora
