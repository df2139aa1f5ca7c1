#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DisplayI2C.h"
#include "platform/LogSink.h"
#include "platform/UniqueFd.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/I2cBusLocator.h"
#include "platform/linux/I2cBusLock.h"

namespace pellora {

// Where the kernel's device folders are (other places in tests).
struct LinuxDevicePaths {
    std::filesystem::path sysfs = "/sys";
    std::filesystem::path dev = "/dev";
};

// The external display's I2C channel on Linux: the first external display the DRM drivers
// list, the I2C bus carrying its DDC lines, and that bus's i2c-dev node opened read-write and
// locked the way ddcutil locks it, so that a channel is ours alone from open to close.
// When the channel cannot be had, why is written once to the log (tag "ddc") with the
// fix, and again only when the reason changes; status() keeps it for the user interface.
// A monitor whose DDC/CI address the ddcci kernel driver holds is talked to alongside it.
class LinuxDisplayI2C final : public DisplayI2C {
  public:
    struct Status {
        enum class Reason {
            available,          // the last open found the channel
            sharedWithDriver,   // found, but a kernel driver holds the DDC/CI address
            noExternalDisplay,  // no external display is active (or DRM cannot be read)
            i2cDevMissing,      // the i2c-dev module is not loaded: no /dev/i2c-* nodes
            noBus,              // no DDC bus could be found for the display's connector
            permissionDenied,   // the bus's node exists but may not be opened
            openFailed,         // the node could not be opened for another reason
            busBusy,            // another program kept the bus locked for the whole wait
        };
        Status() = default;
        Status(Reason reason, std::string text, std::string problem = {})
            : reason(reason), text(std::move(text)), problem(std::move(problem)) {}

        Reason reason = Reason::noExternalDisplay;
        std::string text;  // one sentence naming the cause and, where there is one, the fix
        // What the monitor row says should exchanges fail: for a bus shared with a kernel
        // driver, the driver and how to let the bus go; empty where `text` says it.
        std::string problem;
        bool operator==(const Status&) const = default;

        // What the monitor row names as the cause when exchanges fail: nothing while the
        // channel is ours alone (the monitor itself is then not answering).
        std::optional<std::string> whyUnanswered() const {
            if (reason == Reason::available) {
                return std::nullopt;
            }
            return problem.empty() ? text : problem;
        }
    };

    using Paths = LinuxDevicePaths;
    // Opens a device node read-write; the descriptor, or -errno.
    using NodeOpener = std::function<int(const std::filesystem::path&)>;

    // `clock` times the wait for a bus another program holds.
    LinuxDisplayI2C(LogSink& log, Clock& clock, Paths paths = {}, NodeOpener openNode = {},
                    I2cBusLock::Wait lockWait = {});

    std::unique_ptr<DisplayI2CChannel> open() override;

    // The outcome of the latest open (any thread). Before the first: noExternalDisplay.
    Status status() const;

    // Reads the 128-byte EDID base block at 0x50 on an open channel.
    static std::optional<std::vector<std::uint8_t>> readEdid(DisplayI2CChannel& channel);

  private:
    std::unique_ptr<DisplayI2CChannel> openLocked();
    void report(Status next);
    std::unique_ptr<DisplayI2CChannel> fail(Status::Reason reason, std::string text);
    bool i2cDevPresent() const;
    // The node opened and locked; -errno, or -EWOULDBLOCK when the lock stayed held.
    int openBus(const std::filesystem::path& node);
    std::filesystem::path nodeFor(int bus) const;
    // A kernel driver holds the DDC/CI address on `bus`: noted (and logged once), and used
    // alongside it.
    bool heldByDriver(int bus, std::uint8_t device);
    Status sharedStatus(int bus, const std::string& driver) const;

    LogSink& log_;
    Clock& clock_;
    const Paths paths_;
    const I2cBusLock::Wait lockWait_;
    NodeOpener openNode_;
    DrmDisplayList displays_;
    I2cBusLocator locator_;

    // One open at a time: it holds the search state below, and may wait for the bus.
    std::mutex mutex_;
    // Apart, so that status() never waits for an open.
    mutable std::mutex statusMutex_;
    Status status_;
    bool reported_ = false;
    // Buses whose DDC/CI address a kernel driver holds, with the driver's name (guarded by
    // statusMutex_: learnt during exchanges, read by opens).
    std::map<int, std::string> heldBy_;
    // Errors met while looking for the connector's EDID on the buses, for the report.
    int edidSearchDenied_ = 0;
    std::filesystem::path edidSearchDeniedNode_;
    // The bus found by EDID matching, kept while the connector and its EDID stay the same:
    // matching reads every bus, too slow to repeat for each exchange.
    std::string matchedConnector_;
    std::vector<std::uint8_t> matchedEdid_;
    I2cBusLocator::Found matchedBus_;
};

}  // namespace pellora
