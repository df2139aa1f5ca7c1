#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellora {

// Finds the I2C bus that carries a DRM connector's DDC lines: the connector's "ddc" link,
// else the DP-AUX adapter registered beneath it ("i2c-N"), else the bus whose EDID at
// address 0x50 matches the connector's, among the buses of the connector's own graphics card.
class I2cBusLocator {
  public:
    // Reads the 128-byte EDID base block at 0x50 on bus N; nothing when it cannot.
    using EdidReader = std::function<std::optional<std::vector<std::uint8_t>>(int bus)>;

    I2cBusLocator(std::filesystem::path i2cClassDir, EdidReader readEdid);

    struct Found {
        int bus = -1;
        std::string how;  // "ddc link", "DP-AUX adapter" or "EDID match", for the debug log
    };
    std::optional<Found> busFor(const std::filesystem::path& connectorDir) const;

    // "i2c-7" → 7.
    static std::optional<int> busNumber(const std::string& name);

  private:
    std::filesystem::path i2cClassDir_;
    EdidReader readEdid_;
};

}  // namespace pellora
