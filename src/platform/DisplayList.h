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

// News that the set of displays may have changed. A backend reports only what can change
// which displays are active or how they are arranged; a mere mode change is not news.
enum class DisplayChange {
    added,    // a display appeared
    removed,  // a display went away
    changed,  // a display's connection, identity or arrangement changed
};

// The active displays and the news that they changed.
class DisplayList {
  public:
    virtual ~DisplayList() = default;

    // In the platform's order; nothing when the list cannot be read.
    virtual std::optional<std::vector<DisplayInfo>> activeDisplays() = 0;
    // `handler` gets each change, on any thread; an empty handler stops the news.
    virtual void setChangeHandler(std::function<void(DisplayChange)> handler) = 0;
};

}  // namespace pellora
