#pragma once

#include <QSocketNotifier>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/DisplayList.h"

struct udev;
struct udev_monitor;

namespace pellora {

// The displays the kernel's DRM drivers drive, read from sysfs: a connector counts as
// active when its "status" is "connected" and its "enabled" is "enabled"; eDP, LVDS and DSI
// panels are built in. Vendor, model and serial come from the connector's EDID.
class DrmDisplayList final : public DisplayList {
  public:
    explicit DrmDisplayList(std::filesystem::path drmClassDir = "/sys/class/drm");
    ~DrmDisplayList() override;

    std::optional<std::vector<DisplayInfo>> activeDisplays() override;
    // Watches udev's "drm" events (needs a Qt event loop; the handler runs on its thread).
    void setChangeHandler(std::function<void(DisplayChange)> handler) override;

    // The sysfs folder of a display from activeDisplays().
    std::filesystem::path connectorDir(const DisplayInfo& display) const;
    const std::filesystem::path& drmClassDir() const { return root_; }

    static bool isBuiltInConnector(std::string_view connectorName);

  private:
    struct UdevDeleter {
        void operator()(struct udev* udev) const;
        void operator()(struct udev_monitor* monitor) const;
    };

    void onUdevEvent();

    std::filesystem::path root_;
    std::function<void(DisplayChange)> handler_;
    std::unique_ptr<struct udev, UdevDeleter> udev_;
    std::unique_ptr<struct udev_monitor, UdevDeleter> monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace pellora
