#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/Monitor.h"
#include "platform/DisplayList.h"
#include "platform/Queue.h"

namespace pellora {

class SettingsStore;

// The external monitors and the one being managed: the first external display in the
// platform's order.
class MonitorRegistry : public std::enable_shared_from_this<MonitorRegistry> {
  public:
    // Reads the displays once (no callback can fire yet), then listens for changes.
    // `displays` outlives the registry.
    static std::shared_ptr<MonitorRegistry> create(DisplayList& displays, SettingsStore& settings,
                                                   Queue& mainQueue);
    ~MonitorRegistry();

    MonitorRegistry(const MonitorRegistry&) = delete;
    MonitorRegistry& operator=(const MonitorRegistry&) = delete;

    const std::optional<Monitor>& current() const { return current_; }
    // Runs on the main thread after `current` changed, with the new value.
    void setOnChange(std::function<void(const std::optional<Monitor>&)> callback) {
        onChange_ = std::move(callback);
    }

    // Reads the displays again and updates `current`.
    void refresh();
    // As the latest refresh found them: the display list is read only when it has news.
    std::vector<Monitor> allExternal();

    // The platform's name for the output `monitor` is on (e.g. "card0-DP-1").
    std::optional<std::string> outputName(const Monitor& monitor);
    // The display's own name (its EDID name) for the screen showing `monitor`.
    std::optional<std::string> localizedName(const Monitor& monitor);
    // The user's name, else the display's own, else "Monitor " + the vendor's 8 hex digits.
    // A name longer than this (bytes), which a synced file may hold, is shown cut: it goes
    // into the menu, the window and `pellora ctl status`.
    static constexpr std::size_t maxNameBytes = 128;
    std::string friendlyName(const Monitor& monitor);
    // Stores the name trimmed of white space; an empty name removes the stored one.
    void setFriendlyName(const std::string& name, const Monitor& monitor);

  private:
    MonitorRegistry(DisplayList& displays, SettingsStore& settings, Queue& mainQueue);

    DisplayList& displays_;
    SettingsStore& settings_;
    Queue& main_;
    std::optional<Monitor> current_;
    std::vector<DisplayInfo> displaysSeen_;
    std::function<void(const std::optional<Monitor>&)> onChange_;
};

}  // namespace pellora
