#include "platform/linux/I2cBusLocator.h"

#include <algorithm>
#include <iterator>

#include "platform/linux/DeviceNodeName.h"
#include "platform/linux/Edid.h"

namespace pellora {

namespace {

// The device a connector's card belongs to: <device>/drm/cardN/cardN-CONN.
std::optional<std::filesystem::path> cardDevice(const std::filesystem::path& connectorDir) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(connectorDir, error);
    const std::filesystem::path drm = real.parent_path().parent_path();
    if (error || drm.filename() != "drm") {
        return std::nullopt;
    }
    return drm.parent_path();
}

// Whether the adapter of an i2c-dev entry (<adapter>/i2c-dev/i2c-N) sits beneath `device`.
bool adapterBeneath(const std::filesystem::path& entry, const std::filesystem::path& device) {
    std::error_code error;
    const std::filesystem::path adapter =
        std::filesystem::canonical(entry, error).parent_path().parent_path();
    if (error) {
        return false;
    }
    auto [stop, rest] = std::mismatch(device.begin(), device.end(), adapter.begin(), adapter.end());
    return stop == device.end() && rest != adapter.end();
}

}  // namespace

I2cBusLocator::I2cBusLocator(std::filesystem::path i2cClassDir, EdidReader readEdid)
    : i2cClassDir_(std::move(i2cClassDir)), readEdid_(std::move(readEdid)) {}

std::optional<int> I2cBusLocator::busNumber(const std::string& name) {
    return deviceNodeNumber(name, "i2c-");
}

std::optional<I2cBusLocator::Found> I2cBusLocator::busFor(
    const std::filesystem::path& connectorDir) const {
    std::error_code error;
    auto ddc = std::filesystem::read_symlink(connectorDir / "ddc", error);
    if (!error) {
        if (auto n = busNumber(ddc.filename().string())) {
            return Found{*n, "ddc link"};
        }
    }
    for (std::filesystem::directory_iterator it(connectorDir, error), end; !error && it != end;
         it.increment(error)) {
        if (auto n = busNumber(it->path().filename().string())) {
            return Found{*n, "DP-AUX adapter"};
        }
    }

    std::vector<std::uint8_t> wanted = readEdidFile(connectorDir / "edid");
    // Only the card's own buses: a laptop's SMBus (memory SPD at 0x50), touchpad or sensor
    // buses are no display's and get nothing written.
    const std::optional<std::filesystem::path> device = cardDevice(connectorDir);
    if (wanted.size() < 128 || !readEdid_ || !device) {
        return std::nullopt;
    }
    std::vector<int> buses;
    for (std::filesystem::directory_iterator it(i2cClassDir_, error), end; !error && it != end;
         it.increment(error)) {
        if (auto n = busNumber(it->path().filename().string());
            n && adapterBeneath(it->path(), *device)) {
            buses.push_back(*n);
        }
    }
    std::sort(buses.begin(), buses.end());
    for (int bus : buses) {
        auto edid = readEdid_(bus);
        if (edid && edid->size() >= 128 &&
            std::equal(wanted.begin(), wanted.end(), edid->begin())) {
            return Found{bus, "EDID match"};
        }
    }
    return std::nullopt;
}

}  // namespace pellora
