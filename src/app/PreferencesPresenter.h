#pragma once

#include <functional>
#include <memory>

namespace pellora {

class MonitorScope;

// What the preferences window asks of the controller; each holds the controller weakly.
struct PreferencesHooks {
    // The current monitor's scope; nothing when no external monitor is connected.
    std::function<std::shared_ptr<MonitorScope>()> scopeProvider;
    // Holds off automatic brightness for that many seconds.
    std::function<void(double seconds)> onManualOverride;
    // The user chose this brightness with the window's slider: the controller writes it
    // and keeps it as the monitor's manual brightness.
    std::function<void(int brightness)> onUserBrightness;
    // The window wrote this brightness to show an edit of the curve: what the monitor shows
    // now, which the next reading must not take for a change made with its buttons.
    std::function<void(int brightness)> onPreviewBrightness;
    // The user turned "Follow the room closely" on or off.
    std::function<void(bool on)> onFollowRoomClosely;
    // Whether the week's readings still let the close cadence measure at the desk.
    std::function<bool()> closeReadingsLeft;
};

// The preferences window as the controller drives it. Main thread only.
class PreferencesPresenter {
  public:
    virtual ~PreferencesPresenter() = default;

    // Fills every control from the stores for the current monitor.
    virtual void loadInitialState() = 0;
    // Reloads samples, curve, names and status from the stores.
    virtual void refreshSamples() = 0;
    // Rebuilds the monitor's own controls from its capabilities.
    virtual void refreshCapabilities() = 0;
    // The live room-light reading, for the curve editor's marker.
    virtual void setLiveLuma(double luma) = 0;
    // Adapting wrote this brightness: the manual slider shows it.
    virtual void showAppliedBrightness(int brightness) = 0;
    // Brings the window to the front and starts its refresh timer.
    virtual void present() = 0;
};

using PreferencesFactory =
    std::function<std::shared_ptr<PreferencesPresenter>(PreferencesHooks hooks)>;

}  // namespace pellora
