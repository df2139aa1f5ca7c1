#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace pellora {

// An open I2C channel to the external display. Statuses are 0 on success, else a
// platform error number (errno on Linux) that callers only log.
class DisplayI2CChannel {
  public:
    virtual ~DisplayI2CChannel() = default;
    // One I2C write to `device` (7-bit address): `dataAddress`, then `bytes`.
    virtual int write(std::uint8_t device, std::uint8_t dataAddress,
                      std::span<const std::uint8_t> bytes) = 0;
    // One I2C read of `buffer.size()` bytes from `device`; `dataAddress` is the host's
    // address the reply is for.
    virtual int read(std::uint8_t device, std::uint8_t dataAddress,
                     std::span<std::uint8_t> buffer) = 0;
    // Which monitor the channel reaches, as far as the platform can tell (for a display: its
    // vendor, product and serial); empty when it cannot.
    virtual std::string display() const { return {}; }
};

// Finds the external display's channel. Opened afresh for every exchange and released when
// the exchange ends, so a replugged monitor is found again without bookkeeping.
class DisplayI2C {
  public:
    virtual ~DisplayI2C() = default;
    // Nothing when there is no external display or its channel cannot be opened.
    virtual std::unique_ptr<DisplayI2CChannel> open() = 0;
};

}  // namespace pellora
