#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/Mode.h"
#include "model/AnchorStore.h"
#include "solar/SolarCalculator.h"

namespace pellora {

class SettingsStore;

// The controller's reads of what the user stored (here or on another machine), each with
// its default when absent and, when the stored value cannot be used, the line that says so.
struct StoredChoices {
    template <typename T>
    struct Read {
        T value;
        std::optional<std::string> complaint;
    };

    static constexpr std::uint8_t defaultBrightnessCode = 0x10;

    // "<prefix>mode": "adapting" or "learning"; anything else is learning.
    static Read<Mode> mode(const SettingsStore& settings, const std::string& keyPrefix);
    // "<prefix>brightnessVCP": a whole number 0 to 255 that names no action, else 0x10.
    static Read<std::uint8_t> brightnessCode(const SettingsStore& settings,
                                             const std::string& keyPrefix);
    // "userLat" and "userLon", each replaced by its default when absent or unusable.
    static Read<SolarCalculator> location(const SettingsStore& settings);

    // This machine's "followRoomClosely": measure every 10 minutes while the user is at the
    // desk. Off when absent.
    static constexpr const char* followRoomCloselyKey = "followRoomClosely";
    static bool followRoomClosely(const SettingsStore& settings);
    // The curve is applied and shown heeding the user's morning choices while the room is
    // followed closely, with the morning fade alone otherwise.
    static AnchorStore::MorningFade morningFade(const SettingsStore& settings);
};

}  // namespace pellora
