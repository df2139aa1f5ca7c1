#pragma once

#include <mutex>

#include "platform/DisplayList.h"

namespace pellora {

// The simulated desk's displays; plugging and unplugging sends reconfiguration flags the
// way a real desktop does.
class SimulatedDisplayList final : public DisplayList {
  public:
    std::optional<std::vector<DisplayInfo>> activeDisplays() override {
        std::lock_guard lock(mutex_);
        if (failing_) {
            return std::nullopt;
        }
        return displays_;
    }
    void setReconfigurationHandler(std::function<void(std::uint32_t)> handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }

    void plug(DisplayInfo display) {
        {
            std::lock_guard lock(mutex_);
            displays_.push_back(std::move(display));
        }
        notify(displayAdded);
    }
    void unplug(const std::string& id) {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(displays_, [&](const DisplayInfo& d) { return d.id == id; });
        }
        notify(displayRemoved);
    }
    // Makes the list unreadable, as when the platform call fails.
    void setFailing(bool failing) {
        std::lock_guard lock(mutex_);
        failing_ = failing;
    }
    void notify(std::uint32_t flags) {
        std::function<void(std::uint32_t)> handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        if (handler) {
            handler(flags);
        }
    }

  private:
    std::mutex mutex_;
    std::vector<DisplayInfo> displays_;
    bool failing_ = false;
    std::function<void(std::uint32_t)> handler_;
};

}  // namespace pellora
