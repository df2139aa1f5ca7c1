#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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
class LinuxDisplayI2C final : public DisplayI2C {
  public:
    struct Status {
        enum class Reason {
            available,          // the last open found the channel
            noExternalDisplay,  // no external display is active (or DRM cannot be read)
            i2cDevMissing,      // the i2c-dev module is not loaded: no /dev/i2c-* nodes
            noBus,              // no DDC bus could be found for the display's connector
            permissionDenied,   // the bus's node exists but may not be opened
            openFailed,         // the node could not be opened for another reason
            busBusy,            // another program kept the bus locked for the whole wait
        };
        Reason reason = Reason::noExternalDisplay;
        std::string text;  // one sentence naming the cause and, where there is one, the fix
        bool operator==(const Status&) const = default;
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
