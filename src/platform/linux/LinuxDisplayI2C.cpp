#include "platform/linux/LinuxDisplayI2C.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/Edid.h"
#include "platform/linux/I2cDevChannel.h"

namespace pellora {

namespace {

constexpr char kTag[] = "ddc";
constexpr std::uint8_t kEdidAddress = 0x50;
constexpr std::uint8_t kDdcCiAddress = 0x37;

int openReadWrite(const std::filesystem::path& node) {
    int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

bool isDenied(int error) {
    return error == EACCES || error == EPERM;
}

std::string permissionText(const std::filesystem::path& node) {
    return "Permission denied opening " + node.string() +
           ": add yourself to the i2c group (sudo usermod -aG i2c $USER, then log out and in) "
           "or install a udev uaccess rule for the display adapters' buses alone "
           "(SUBSYSTEM==\"i2c-dev\", ATTRS{class}==\"0x03*\", TAG+=\"uaccess\")";
}

}  // namespace

LinuxDisplayI2C::LinuxDisplayI2C(LogSink& log, Clock& clock, Paths paths, NodeOpener openNode,
                                 I2cBusLock::Wait lockWait)
    : log_(log),
      clock_(clock),
      paths_(std::move(paths)),
      lockWait_(lockWait),
      openNode_(openNode ? std::move(openNode) : NodeOpener(openReadWrite)),
      displays_(paths_.sysfs / "class" / "drm"),
      locator_(paths_.sysfs / "class" / "i2c-dev",
               [this](int bus) -> std::optional<std::vector<std::uint8_t>> {
                   int fd = openBus(nodeFor(bus));
                   if (fd < 0) {
                       if (isDenied(-fd) && edidSearchDenied_++ == 0) {
                           edidSearchDeniedNode_ = nodeFor(bus);
                       }
                       return std::nullopt;
                   }
                   I2cDevChannel channel{UniqueFd(fd)};
                   return readEdid(channel);
               }) {
    status_.text = "No external display has been looked for yet";
}

LinuxDisplayI2C::Status LinuxDisplayI2C::status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

std::optional<std::vector<std::uint8_t>> LinuxDisplayI2C::readEdid(DisplayI2CChannel& channel) {
    // Offset 0 written, then the base block read from there.
    if (channel.write(kEdidAddress, 0x00, {}) != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> edid(edidBlockLength);
    if (channel.read(kEdidAddress, 0x00, edid) != 0) {
        return std::nullopt;
    }
    return edid;
}

int LinuxDisplayI2C::openBus(const std::filesystem::path& node) {
    UniqueFd fd(openNode_(node));
    if (fd.get() < 0) {
        return fd.release();
    }
    if (!I2cBusLock::acquire(fd.get(), clock_, lockWait_)) {
        return -EWOULDBLOCK;
    }
    return fd.release();
}

std::filesystem::path LinuxDisplayI2C::nodeFor(int bus) const {
    return paths_.dev / ("i2c-" + std::to_string(bus));
}

bool LinuxDisplayI2C::i2cDevPresent() const {
    std::error_code error;
    if (!std::filesystem::is_directory(paths_.sysfs / "class" / "i2c-dev", error)) {
        return false;
    }
    for (std::filesystem::directory_iterator it(paths_.dev, error), end; !error && it != end;
         it.increment(error)) {
        if (I2cBusLocator::busNumber(it->path().filename().string())) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<DisplayI2CChannel> LinuxDisplayI2C::open() {
    std::lock_guard lock(mutex_);
    return openLocked();
}

// A bus shared with a kernel driver is logged once, when it is found (heldByDriver).
void LinuxDisplayI2C::report(Status next) {
    std::lock_guard lock(statusMutex_);
    if ((!reported_ || next != status_) && next.reason != Status::Reason::sharedWithDriver) {
        log_.log(next.text, kTag);
    }
    reported_ = true;
    status_ = std::move(next);
}

LinuxDisplayI2C::Status LinuxDisplayI2C::sharedStatus(int bus, const std::string& driver) const {
    const std::string node = nodeFor(bus).string();
    Status shared{Status::Reason::sharedWithDriver,
                  "DDC/CI address 0x37 on " + node + " is held by " +
                      (driver.empty() ? "a kernel driver" : "the " + driver + " kernel driver") +
                      "; using it alongside"};
    if (driver.empty()) {
        shared.problem = "A kernel driver holds DDC/CI address 0x37 on " + node +
                         " and the monitor does not answer alongside it: unload that driver "
                         "(sudo modprobe -r <driver>) or blacklist it";
    } else {
        shared.problem = "The " + driver + " kernel driver holds " + node +
                         " and the monitor does not answer alongside it: unload it (sudo "
                         "modprobe -r " +
                         driver + ") or blacklist it (echo 'blacklist " + driver +
                         "' | sudo tee /etc/modprobe.d/blacklist-" + driver + ".conf)";
    }
    return shared;
}

bool LinuxDisplayI2C::heldByDriver(int bus, std::uint8_t device) {
    if (device != kDdcCiAddress) {
        return false;
    }
    // The client the kernel made for the address, and the driver bound to it.
    const std::string n = std::to_string(bus);
    std::error_code error;
    const std::filesystem::path link = std::filesystem::read_symlink(
        paths_.sysfs / "bus" / "i2c" / "devices" / ("i2c-" + n) / (n + "-0037") / "driver", error);
    const std::string driver = error ? std::string() : link.filename().string();
    Status shared = sharedStatus(bus, driver);
    {
        std::lock_guard lock(statusMutex_);
        if (heldBy_.emplace(bus, driver).second) {
            log_.log(shared.text, kTag);
        }
    }
    report(std::move(shared));
    return true;
}

std::unique_ptr<DisplayI2CChannel> LinuxDisplayI2C::fail(Status::Reason reason, std::string text) {
    report(Status{reason, std::move(text)});
    return nullptr;
}

std::unique_ptr<DisplayI2CChannel> LinuxDisplayI2C::openLocked() {
    using Reason = Status::Reason;
    auto displays = displays_.activeDisplays();
    if (!displays) {
        return fail(Reason::noExternalDisplay, "No external display: the display list (" +
                                                   displays_.drmClassDir().string() +
                                                   ") cannot be read");
    }
    auto external = std::find_if(displays->begin(), displays->end(),
                                 [](const DisplayInfo& d) { return !d.builtIn; });
    if (external == displays->end()) {
        return fail(Reason::noExternalDisplay,
                    "No external display connected (built-in panels are not driven over DDC/CI)");
    }
    if (!i2cDevPresent()) {
        return fail(Reason::i2cDevMissing,
                    "No I2C device nodes (" + (paths_.dev / "i2c-*").string() +
                        "): load the i2c-dev module (sudo modprobe i2c-dev; to keep it: echo "
                        "i2c-dev | sudo tee /etc/modules-load.d/i2c-dev.conf)");
    }

    const std::filesystem::path connector = displays_.connectorDir(*external);
    std::optional<I2cBusLocator::Found> found;
    std::vector<std::uint8_t> connectorEdid;
    if (!matchedConnector_.empty() && matchedConnector_ == external->id) {
        connectorEdid = readEdidFile(connector / "edid");
        if (connectorEdid == matchedEdid_) {
            found = matchedBus_;
        }
    }
    if (!found) {
        matchedConnector_.clear();
        edidSearchDenied_ = 0;
        edidSearchDeniedNode_.clear();
        found = locator_.busFor(connector);
        if (found && found->how == "EDID match") {
            matchedConnector_ = external->id;
            matchedEdid_ = readEdidFile(connector / "edid");
            matchedBus_ = *found;
        }
    }
    if (!found) {
        if (edidSearchDenied_ > 0) {
            // Every bus that could have carried the display's EDID refused us.
            return fail(Reason::permissionDenied, permissionText(edidSearchDeniedNode_));
        }
        return fail(Reason::noBus,
                    "No DDC bus found for " + external->id +
                        " (no ddc link, no DP-AUX adapter, and no I2C bus answering with its "
                        "EDID): a DisplayLink or other USB display adapter, and some docks, carry "
                        "no DDC/CI; plug the monitor into the computer's own video port for "
                        "Pellora to set its brightness");
    }

    const std::filesystem::path node = nodeFor(found->bus);
    int fd = openBus(node);
    if (fd < 0) {
        int error = -fd;
        if (error == EWOULDBLOCK) {
            char waited[32];
            std::snprintf(waited, sizeof waited, "%.1f", lockWait_.timeout);
            return fail(Reason::busBusy, "Another program holds " + node.string() +
                                             " (ddcutil, or a desktop's brightness service): "
                                             "gave up waiting after " +
                                             waited + " s");
        }
        matchedConnector_.clear();
        if (isDenied(error)) {
            return fail(Reason::permissionDenied, permissionText(node));
        }
        return fail(Reason::openFailed, "Cannot open " + node.string() + " for " + external->id +
                                            ": " + std::strerror(error));
    }
    std::optional<std::string> heldBy;
    {
        // The kernel's client for 0x37 goes with its driver (modprobe -r, as the text advises).
        const std::string n = std::to_string(found->bus);
        std::error_code error;
        const bool clientThere = std::filesystem::exists(
            paths_.sysfs / "bus" / "i2c" / "devices" / ("i2c-" + n) / (n + "-0037"), error);
        std::lock_guard lock(statusMutex_);
        if (auto it = heldBy_.find(found->bus); it != heldBy_.end()) {
            if (clientThere) {
                heldBy = it->second;
            } else {
                heldBy_.erase(it);
            }
        }
    }
    report(heldBy ? sharedStatus(found->bus, *heldBy)
                  : Status{Reason::available, "Using " + node.string() + " for " + external->id +
                                                  " (" + found->how + ")"});
    char display[32];
    std::snprintf(display, sizeof display, "%08X-%08X-%08X", external->vendor, external->model,
                  external->serial);
    return std::make_unique<I2cDevChannel>(
        UniqueFd(fd),
        [this, bus = found->bus](std::uint8_t device) { return heldByDriver(bus, device); },
        display);
}

}  // namespace pellora
