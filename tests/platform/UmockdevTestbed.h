#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/SimulatedMonitor.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace pellora::test {

// A faked kernel for one test, built with umockdev: DRM connectors in sysfs, uevents, and
// i2c-dev nodes whose ioctls, reads and writes reach a simulated monitor. umockdev's preload
// diverts /sys and /dev of this process (and of children that keep LD_PRELOAD and
// UMOCKDEV_DIR), so code under test uses the ordinary paths. I2C_SLAVE(_FORCE) is kept per
// descriptor as the kernel does; umockdev's worker thread serves the clients.
class UmockdevTestbed {
  public:
    // What the programs did on one bus.
    struct Traffic {
        int opens = 0;
        int addressSelects = 0;     // I2C_SLAVE and I2C_SLAVE_FORCE
        int forcedSelects = 0;      // I2C_SLAVE_FORCE
        int combinedTransfers = 0;  // I2C_RDWR ioctls
        std::map<std::uint8_t, int> transfersByAddress;
    };

    UmockdevTestbed();
    ~UmockdevTestbed();
    UmockdevTestbed(const UmockdevTestbed&) = delete;
    UmockdevTestbed& operator=(const UmockdevTestbed&) = delete;

    // Whether this process runs with umockdev's preload library (under umockdev-wrapper).
    static bool preloadActive();
    // The testbed's folder: the value of UMOCKDEV_DIR for child processes.
    std::filesystem::path root() const;

    // Each returns the device's sysfs path ("/sys/devices/...").
    std::string addCard(int card);
    std::string addConnector(const std::string& card, const std::string& name,
                             const std::string& status, const std::string& enabled,
                             const std::vector<std::uint8_t>& edid);
    // Adapter `bus` beneath `parent` (a connector: DP-AUX), with /dev/i2c-N unless `devNode`
    // is false (i2c-dev not loaded); without a `monitor` nothing acknowledges.
    std::string addI2cBus(int bus, const std::string& name, const std::string& parent,
                          std::shared_ptr<SimulatedMonitor> monitor, bool devNode = true);
    // The connector's "ddc" link to an adapter (HDMI and DVI connectors have one).
    void linkDdc(const std::string& connector, const std::string& adapter);

    void setAttribute(const std::string& device, const std::string& name, const std::string& value);
    // Sends a uevent ("add", "remove" or "change") for the device.
    void uevent(const std::string& device, const std::string& action);

    Traffic traffic(int bus) const;
    // `driver` holds `address` on `bus` as ddcci holds 0x37 (sysfs client and driver link, EBUSY
    // for I2C_SLAVE, not _FORCE); unless `answersAlongside`, nothing acknowledges there.
    void holdAddress(int bus, std::uint8_t address, const std::string& driver,
                     bool answersAlongside);
    // Transfers on `bus` move at most `bytes` bytes from now on (short counts).
    void limitTransfers(int bus, int bytes);

  private:
    struct Adapter;

    UMockdevTestbed* testbed_;
    std::map<int, std::unique_ptr<Adapter>> adapters_;
};

}  // namespace pellora::test
