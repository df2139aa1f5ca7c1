#include "app/StoredChoices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "store/SettingsStore.h"

namespace pellora {

namespace {

std::optional<double> number(const SettingValue& v) {
    if (auto i = std::get_if<std::int64_t>(&v)) {
        return static_cast<double>(*i);
    }
    if (auto d = std::get_if<double>(&v)) {
        return *d;
    }
    return std::nullopt;
}

// Codes whose write does something at once rather than set a level: degauss, the factory
// resets, auto setup, the input source, saving settings and the power mode. Every brightness
// write would do it again.
bool isActionCode(std::uint8_t code) {
    constexpr std::uint8_t actions[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08,
                                        0x0A, 0x1E, 0x1F, 0x60, 0xB0, 0xD6};
    return std::find(std::begin(actions), std::end(actions), code) != std::end(actions);
}

}  // namespace

StoredChoices::Read<Mode> StoredChoices::mode(const SettingsStore& settings,
                                              const std::string& keyPrefix) {
    // A text read, so a synced value of another type leaves the local text in charge.
    const std::string key = keyPrefix + "mode";
    if (auto text = settings.string(key)) {
        if (auto m = modeFromText(*text)) {
            return {*m, std::nullopt};
        }
    } else if (!settings.value(key)) {
        return {Mode::learning, std::nullopt};
    }
    return {Mode::learning, "Stored " + keyPrefix +
                                "mode is neither \"learning\" nor \"adapting\"; using learning"};
}

StoredChoices::Read<std::uint8_t> StoredChoices::brightnessCode(const SettingsStore& settings,
                                                                const std::string& keyPrefix) {
    auto stored = settings.value(keyPrefix + "brightnessVCP");
    if (!stored) {
        return {defaultBrightnessCode, std::nullopt};
    }
    auto n = number(*stored);
    if (n && *n >= 0 && *n <= 255 && std::floor(*n) == *n) {
        const auto code = static_cast<std::uint8_t>(*n);
        if (!isActionCode(code)) {
            return {code, std::nullopt};
        }
        char text[160];
        std::snprintf(text, sizeof text,
                      "brightnessVCP 0x%02X is a monitor action (a reset, the input, the "
                      "power), not a level; using 0x10",
                      code);
        return {defaultBrightnessCode, "Stored " + keyPrefix + text};
    }
    return {defaultBrightnessCode,
            "Stored " + keyPrefix + "brightnessVCP is not a VCP code (0 to 255); using 0x10"};
}

StoredChoices::Read<SolarCalculator> StoredChoices::location(const SettingsStore& settings) {
    std::string bad;
    auto coordinate = [&](const char* key, double limit) -> std::optional<double> {
        auto stored = settings.value(key);
        if (!stored) {
            return std::nullopt;
        }
        auto n = number(*stored);
        if (n && std::isfinite(*n) && std::fabs(*n) <= limit) {
            return n;
        }
        bad += bad.empty() ? key : std::string(" and ") + key;
        return std::nullopt;
    };
    auto lat = coordinate("userLat", 90.0);
    auto lon = coordinate("userLon", 180.0);
    Read<SolarCalculator> read{SolarCalculator::forStoredLocation(lat, lon), std::nullopt};
    if (!bad.empty()) {
        read.complaint =
            "Stored " + bad + " cannot be used as a location; using the default in its place";
    }
    return read;
}

bool StoredChoices::followRoomClosely(const SettingsStore& settings) {
    return settings.machineBoolean(followRoomCloselyKey);
}

AnchorStore::MorningFade StoredChoices::morningFade(const SettingsStore& settings) {
    return followRoomClosely(settings) ? AnchorStore::MorningFade::heedingChoices
                                       : AnchorStore::MorningFade::fixed;
}

}  // namespace pellora
