#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/DisplayI2C.h"
#include "platform/UniqueFd.h"

namespace pellora {

// A DisplayI2CChannel over an open i2c-dev node (/dev/i2c-N): the device address is chosen
// with I2C_SLAVE, then each write or read is one plain I2C transfer (one START, one STOP),
// which is what DDC/CI asks for. Owns the descriptor (and with it any lock taken on it).
class I2cDevChannel final : public DisplayI2CChannel {
  public:
    // Asked when a kernel driver holds `device` (I2C_SLAVE answers EBUSY): true to talk to it
    // alongside the driver (I2C_SLAVE_FORCE, as ddcutil's --force-slave-address does).
    using HeldAddress = std::function<bool(std::uint8_t device)>;

    // `display` names the monitor on the bus (see DisplayI2CChannel::display).
    explicit I2cDevChannel(UniqueFd fd, HeldAddress onHeld = {}, std::string display = {});

    // One transfer of `dataAddress` followed by `bytes`. 0, an errno, or EIO when the
    // adapter took fewer bytes than given.
    int write(std::uint8_t device, std::uint8_t dataAddress,
              std::span<const std::uint8_t> bytes) override;
    // One transfer filling `buffer`; `dataAddress` is not sent (a read has none on the wire).
    // EIO when fewer bytes came back than asked for.
    int read(std::uint8_t device, std::uint8_t dataAddress,
             std::span<std::uint8_t> buffer) override;

    std::string display() const override { return display_; }

    int fd() const { return fd_.get(); }

  private:
    int selectDevice(std::uint8_t device);

    UniqueFd fd_;
    HeldAddress onHeld_;
    std::string display_;
    int selected_ = -1;
};

}  // namespace pellora
