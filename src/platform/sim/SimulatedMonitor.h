#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace pellora {

enum class SimulatedMonitorFault {
    none,
    nullReply,    // every request is answered by the null message
    noReply,      // reads fail with EIO, like a monitor that stopped answering
    floatingBus,  // reads succeed with 0xFF bytes, like an address nobody drives
    garbage,      // reads give noise
    writeNak,     // writes are not acknowledged (ENXIO)
    setNak,       // only Set VCP writes are (a monitor that answers reads but refuses changes)
};

enum class MonitorButton { brightnessUp, brightnessDown, contrastUp, contrastDown };

struct SimulatedMonitorOptions {
    std::string capabilities =
        "(prot(monitor)type(LCD)model(SimMon)cmds(01 02 03 07 0C E3 F3)vcp(02 04 05 08 10 12 "
        "14(05 06 08 0B) 16 18 1A 52 60(0F 11 12) 6B AC AE B2 B6 C6 C8 C9 D6(01 04) DC(00 02 03 "
        "05) DF)mccs_ver(2.2))";
    // Time the monitor needs after a request before its reply can be read.
    double processingSeconds = 0.045;
    // Data bytes per capabilities reply; the standard allows up to 32.
    std::size_t capabilitiesFragment = 32;
    int buttonStep = 1;
    std::uint32_t seed = 0x9E3779B9;  // the noise of the garbage faults
    // The EDID answered at 0x50; empty: nothing answers there.
    std::vector<std::uint8_t> edid;
};

// A DDC/CI monitor at I2C address 0x37 speaking the VESA DDC/CI 1.1 wire protocol with MCCS
// VCP codes: checked request checksums, Get VCP Feature, Set VCP Feature and Capabilities
// Request with their replies, the null message when it has nothing to say, a processing
// delay before replies are ready, front-panel buttons and injectable faults.
//
// The byte-level API (onWrite / read) is the bus as seen by a host adapter: a write carries
// every byte after the device address (for 0x37 that starts with the source address 0x51), a
// read returns what the monitor drives onto the bus. Thread-safe: the bus is used from the
// brightness queue while buttons are pressed from the main thread.
class SimulatedMonitor {
  public:
    struct ReadResult {
        int status = 0;  // 0, or an errno
        std::vector<std::uint8_t> bytes;
    };

    struct Stats {
        int writes = 0;  // bus writes to 0x37 while plugged in, acknowledged or not
        int reads = 0;   // bus reads from 0x37
        int getRequests = 0;
        int setRequests = 0;
        int capabilitiesRequests = 0;
        int checksumErrors = 0;  // requests dropped for a bad checksum or shape
        int earlyReads = 0;      // reads before the reply was ready
        int buttonPresses = 0;
    };

    struct Register {
        std::uint16_t current = 0;
        std::uint16_t max = 0;
        // The values a non-continuous control takes; a Set of any other is ignored, as
        // monitors do. Empty: continuous, capped at `max`.
        std::vector<std::uint16_t> allowed = {};
        bool readOnly = false;
    };

    static constexpr std::uint8_t ddcAddress = 0x37;
    static constexpr std::uint8_t edidAddress = 0x50;

    explicit SimulatedMonitor(const Clock& clock, SimulatedMonitorOptions options = {});

    SimulatedMonitor(const SimulatedMonitor&) = delete;
    SimulatedMonitor& operator=(const SimulatedMonitor&) = delete;

    // The bus.
    int onWrite(std::uint8_t device, std::span<const std::uint8_t> bytes);
    ReadResult read(std::uint8_t device, std::size_t length);

    // The front panel. Brightness buttons also raise the "new control value" flag (0x02).
    void pressButton(MonitorButton button, int times = 1);

    // Registers, as the monitor's own menu would see them.
    std::optional<Register> vcpRegister(std::uint8_t code);
    void defineRegister(std::uint8_t code, std::uint16_t current, std::uint16_t max);
    void removeRegister(std::uint8_t code);
    void setCapabilities(std::string text);

    // Faults. `times` counts the bus operations the fault spoils (reads for the read
    // faults, writes for writeNak, requests for nullReply); 0 keeps it until cleared.
    void setFault(SimulatedMonitorFault fault, int times = 0);
    void setProcessingSeconds(double seconds);
    // Unplugged: every bus operation fails with ENXIO and the host finds no channel.
    void setConnected(bool connected);
    bool isConnected();
    // Pulled out once this many more writes have gone through (an unplug mid-exchange).
    void unplugAfterWrites(int writes);

    Stats stats();
    void resetStats();

  private:
    enum class Pending { none, getReply, capabilitiesReply };

    int acceptWriteLocked(std::span<const std::uint8_t> bytes);
    void handleRequestLocked(std::span<const std::uint8_t> message);
    std::vector<std::uint8_t> replyLocked();
    std::vector<std::uint8_t> noiseLocked(std::size_t length);
    bool faultActiveLocked(SimulatedMonitorFault fault);
    void spendFaultLocked();

    const Clock& clock_;
    const SimulatedMonitorOptions options_;

    std::mutex mutex_;
    std::string capabilities_;
    std::map<std::uint8_t, Register> registers_;
    SimulatedMonitorFault fault_ = SimulatedMonitorFault::none;
    int faultTimes_ = 0;
    double processingSeconds_;
    bool connected_ = true;
    int unplugAfterWrites_ = -1;
    Pending pending_ = Pending::none;
    double requestTime_ = 0;
    std::uint8_t requestCode_ = 0;
    std::uint16_t requestOffset_ = 0;
    std::size_t edidOffset_ = 0;
    std::uint32_t noise_;
    Stats stats_;
};

}  // namespace pellora
