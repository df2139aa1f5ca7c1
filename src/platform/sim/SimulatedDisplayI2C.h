#pragma once

#include <memory>
#include <mutex>

#include "platform/DisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace pellora {

// The external display's I2C channel on the simulated desk: the channel of whichever
// simulated monitor is plugged in, none while it is unplugged or absent.
class SimulatedDisplayI2C final : public DisplayI2C {
  public:
    explicit SimulatedDisplayI2C(std::shared_ptr<SimulatedMonitor> monitor = nullptr);

    std::unique_ptr<DisplayI2CChannel> open() override;

    // Another monitor on the cable (or none). Channels already open stay with the old one.
    void setMonitor(std::shared_ptr<SimulatedMonitor> monitor);
    // Opens that found a channel, and opens that found none.
    int opens();
    int failedOpens();

  private:
    std::mutex mutex_;
    std::shared_ptr<SimulatedMonitor> monitor_;
    int opens_ = 0;
    int failedOpens_ = 0;
};

}  // namespace pellora
