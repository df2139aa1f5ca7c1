#pragma once

#include <functional>
#include <string>

namespace pellora {

// The rows of the status menu, top to bottom.
enum class MenuItemId {
    monitor,
    luma,
    brightness,
    mode,
    samples,
    lastSample,
    camera,
    monitorAccess,
    settingsFile,
    toggleMode,
    snapshot,
    preview,
    preferences,
    updates,
    startAtLogin,
    revealSamples,
    cameraAccess,
    cameraDiagnostics,
    cameraReset,
    revealDump,
    probe,
    quit,
};

// One row as a view shows it. A row without an action is an information row.
struct MenuRow {
    MenuItemId id = MenuItemId::monitor;
    std::string title;
    bool enabled = true;
    bool hidden = false;
    // Used with the platform's command modifier (Ctrl on Linux); 0 for none.
    char shortcut = 0;
    bool separatorBefore = false;
    std::function<void()> action;
    // A row with a check mark, shown when `checked`.
    bool checkable = false;
    bool checked = false;
};

}  // namespace pellora
