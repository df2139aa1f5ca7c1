#include "platform/sim/SimulatedDisplayI2C.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace pellora {

namespace {

class SimulatedChannel final : public DisplayI2CChannel {
  public:
    explicit SimulatedChannel(std::shared_ptr<SimulatedMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    int write(std::uint8_t device, std::uint8_t dataAddress,
              std::span<const std::uint8_t> bytes) override {
        std::vector<std::uint8_t> message;
        message.reserve(bytes.size() + 1);
        message.push_back(dataAddress);
        message.insert(message.end(), bytes.begin(), bytes.end());
        return monitor_->onWrite(device, message);
    }

    int read(std::uint8_t device, std::uint8_t /*dataAddress*/,
             std::span<std::uint8_t> buffer) override {
        // An I2C read carries no data address; the monitor answers whoever asked last.
        SimulatedMonitor::ReadResult result = monitor_->read(device, buffer.size());
        if (result.status != 0) {
            return result.status;
        }
        std::size_t n = std::min(buffer.size(), result.bytes.size());
        std::copy_n(result.bytes.begin(), n, buffer.begin());
        return n == buffer.size() ? 0 : EIO;
    }

    // Each simulated monitor is a monitor of its own.
    std::string display() const override {
        char text[32];
        std::snprintf(text, sizeof text, "simulated %p", static_cast<const void*>(monitor_.get()));
        return text;
    }

  private:
    std::shared_ptr<SimulatedMonitor> monitor_;
};

}  // namespace

SimulatedDisplayI2C::SimulatedDisplayI2C(std::shared_ptr<SimulatedMonitor> monitor)
    : monitor_(std::move(monitor)) {}

std::unique_ptr<DisplayI2CChannel> SimulatedDisplayI2C::open() {
    std::lock_guard lock(mutex_);
    if (!monitor_ || !monitor_->isConnected()) {
        ++failedOpens_;
        return nullptr;
    }
    ++opens_;
    return std::make_unique<SimulatedChannel>(monitor_);
}

void SimulatedDisplayI2C::setMonitor(std::shared_ptr<SimulatedMonitor> monitor) {
    std::lock_guard lock(mutex_);
    monitor_ = std::move(monitor);
}

int SimulatedDisplayI2C::opens() {
    std::lock_guard lock(mutex_);
    return opens_;
}

int SimulatedDisplayI2C::failedOpens() {
    std::lock_guard lock(mutex_);
    return failedOpens_;
}

}  // namespace pellora
