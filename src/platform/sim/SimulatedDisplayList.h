#pragma once

#include <mutex>

#include "platform/DisplayList.h"

namespace pellora {

// The simulated desk's displays; plugging and unplugging sends change news the way a real
// desktop does.
class SimulatedDisplayList final : public DisplayList {
  public:
    std::optional<std::vector<DisplayInfo>> activeDisplays() override {
        std::lock_guard lock(mutex_);
        if (failing_) {
            return std::nullopt;
        }
        return displays_;
    }
    void setChangeHandler(std::function<void(DisplayChange)> handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }

    void plug(DisplayInfo display) {
        {
            std::lock_guard lock(mutex_);
            displays_.push_back(std::move(display));
        }
        notify(DisplayChange::added);
    }
    void unplug(const std::string& id) {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(displays_, [&](const DisplayInfo& d) { return d.id == id; });
        }
        notify(DisplayChange::removed);
    }
    // Makes the list unreadable, as when the platform call fails.
    void setFailing(bool failing) {
        std::lock_guard lock(mutex_);
        failing_ = failing;
    }
    void notify(DisplayChange change) {
        std::function<void(DisplayChange)> handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        if (handler) {
            handler(change);
        }
    }

  private:
    std::mutex mutex_;
    std::vector<DisplayInfo> displays_;
    bool failing_ = false;
    std::function<void(DisplayChange)> handler_;
};

}  // namespace pellora
