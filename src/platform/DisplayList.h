#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellora {

// One active display as the platform reports it.
struct DisplayInfo {
    std::string id;  // the platform's name for its output, e.g. "card1-DP-1"
    bool builtIn = false;
    std::uint32_t vendor = 0;
    std::uint32_t model = 0;
    std::uint32_t serial = 0;
    std::optional<std::string> name;  // the display's own name, when it reports one
    bool operator==(const DisplayInfo&) const = default;
};

// The active displays and the news that they changed.
class DisplayList {
  public:
    // Change flags, with the values the registry filters on.
    static constexpr std::uint32_t mainDisplayChanged = 0x4;
    static constexpr std::uint32_t displayAdded = 0x10;
    static constexpr std::uint32_t displayRemoved = 0x20;
    static constexpr std::uint32_t desktopShapeChanged = 0x1000;

    virtual ~DisplayList() = default;

    // In the platform's order; nothing when the list cannot be read.
    virtual std::optional<std::vector<DisplayInfo>> activeDisplays() = 0;
    // `handler` gets the change flags of each reconfiguration, on any thread.
    virtual void setReconfigurationHandler(std::function<void(std::uint32_t flags)> handler) = 0;
};

}  // namespace pellora
