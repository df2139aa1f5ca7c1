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

// A faked kernel for one test, built with umockdev: DRM cards and connectors in sysfs,
// I2C adapters with their i2c-dev nodes (/dev/i2c-N, char major 89) whose ioctls, reads and
// writes reach a simulated monitor, and uevents. The umockdev preload library diverts /sys and
// /dev of this process (and of children that keep its LD_PRELOAD and UMOCKDEV_DIR) into the
// testbed, so code under test uses the ordinary paths.
//
// The i2c-dev emulation answers I2C_SLAVE(_FORCE) (the address kept per open descriptor, as
// the kernel does), I2C_FUNCS (plain I2C), I2C_TIMEOUT, I2C_RETRIES and I2C_RDWR; read() and
// write() are single transfers. It runs on umockdev's worker thread, which serves every client
// while the test thread is blocked in a system call or waiting for a child.
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
    // An I2C adapter numbered `bus` beneath `parent` (a connector: a DP-AUX adapter), with its
    // node /dev/i2c-N unless `devNode` is false (i2c-dev not loaded). `monitor` answers on it;
    // without one no device acknowledges.
    std::string addI2cBus(int bus, const std::string& name, const std::string& parent,
                          std::shared_ptr<SimulatedMonitor> monitor, bool devNode = true);
    // The connector's "ddc" link to an adapter (HDMI and DVI connectors have one).
    void linkDdc(const std::string& connector, const std::string& adapter);

    void setAttribute(const std::string& device, const std::string& name, const std::string& value);
    // Sends a uevent ("add", "remove" or "change") for the device.
    void uevent(const std::string& device, const std::string& action);

    Traffic traffic(int bus) const;
    // A kernel driver named `driver` holds `address` on `bus`, as the ddcci driver holds 0x37:
    // the client's folder and its driver link in sysfs, EBUSY for I2C_SLAVE at that address
    // (I2C_SLAVE_FORCE takes it). Unless `answersAlongside`, nothing acknowledges there.
    void holdAddress(int bus, std::uint8_t address, const std::string& driver,
                     bool answersAlongside);
    // Transfers on `bus` move at most `bytes` bytes from now on, like an adapter that stops
    // early (a read or write then returns a short count).
    void limitTransfers(int bus, int bytes);

  private:
    struct Adapter;

    UMockdevTestbed* testbed_;
    std::map<int, std::unique_ptr<Adapter>> adapters_;
};

}  // namespace pellora::test
