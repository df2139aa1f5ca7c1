#include "platform/linux/I2cBusLocator.h"

#include <algorithm>
#include <iterator>

#include "platform/linux/DeviceNodeName.h"
#include "platform/linux/Edid.h"

namespace pellora {

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
    if (wanted.size() < 128 || !readEdid_) {
        return std::nullopt;
    }
    std::vector<int> buses;
    for (std::filesystem::directory_iterator it(i2cClassDir_, error), end; !error && it != end;
         it.increment(error)) {
        if (auto n = busNumber(it->path().filename().string())) {
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
