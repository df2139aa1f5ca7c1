#include "app/RemotePolicy.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/MenuTexts.h"
#include "platform/Utf8Prefix.h"

namespace pellora {

namespace {

using Kind = RemoteRefusal::Kind;

}  // namespace

std::string RemotePolicy::quoted(std::string_view text) {
    const std::string_view kept = utf8Prefix(text, 40);
    return "\"" + std::string(kept) + (kept.size() < text.size() ? "…\"" : "\"");
}

std::optional<RemoteRefusal> RemotePolicy::brightness(long long value) {
    if (value < 0 || value > 100) {
        return RemoteRefusal{Kind::invalidArgument,
                             "Brightness goes from 0 to 100, not " + std::to_string(value)};
    }
    return std::nullopt;
}

std::optional<RemoteRefusal> RemotePolicy::step(long long delta) {
    if (delta < -maxStep || delta > maxStep) {
        return RemoteRefusal{
            Kind::invalidArgument,
            "A brightness step goes from -100 to 100, not " + std::to_string(delta)};
    }
    return std::nullopt;
}

std::optional<RemoteRefusal> RemotePolicy::pause(double seconds) {
    if (std::isfinite(seconds) && seconds >= 0 && seconds <= maxPauseSeconds) {
        return std::nullopt;
    }
    char shown[64];
    std::snprintf(shown, sizeof shown, "%g", seconds);
    return RemoteRefusal{Kind::invalidArgument,
                         std::string("A pause lasts 0 to 604800 seconds (7 days), not ") + shown};
}

std::optional<RemoteRefusal> RemotePolicy::snapshot(bool cameraGranted, bool screenLocked) {
    if (!cameraGranted) {
        return RemoteRefusal{Kind::notYetAvailable,
                             "The camera may not be used yet: see the menu's camera row"};
    }
    if (screenLocked) {
        return RemoteRefusal{Kind::notYetAvailable,
                             "The screen is locked: the room is measured again at unlock"};
    }
    return std::nullopt;
}

RemotePolicy::ModeChange RemotePolicy::mode(std::string_view asked, Mode current,
                                            std::optional<long long> counted) {
    auto wanted = modeFromText(asked);
    if (!wanted) {
        return {std::nullopt,
                RemoteRefusal{Kind::invalidArgument,
                              "The mode is \"learning\" or \"adapting\", not " + quoted(asked)}};
    }
    if (*wanted == current) {
        return {};
    }
    if (*wanted == Mode::adapting && !counted) {
        return {std::nullopt, RemoteRefusal{Kind::notYetAvailable,
                                            "The samples logged are still being counted; ask "
                                            "again in a moment"}};
    }
    const long long samples = counted.value_or(0);
    if (*wanted == Mode::adapting && !MenuTexts::toggleRow(current, samples).enabled) {
        return {std::nullopt,
                RemoteRefusal{
                    Kind::notYetAvailable,
                    "Adapting is offered once " + std::to_string(MenuTexts::minSamplesToAdapt) +
                        " samples are logged; " +
                        std::to_string(MenuTexts::minSamplesToAdapt - samples) + " more to go"}};
    }
    return {wanted, std::nullopt};
}

RemoteRefusal RemotePolicy::noMonitor() {
    return {Kind::noMonitor, "No external monitor is connected"};
}

RemoteRefusal RemotePolicy::notAnswering() {
    return {Kind::noMonitor,
            "The monitor does not answer over DDC/CI, so its brightness is not known"};
}

RemoteRefusal RemotePolicy::tooLate() {
    return {Kind::noMonitor,
            "The monitor's bus was busy and did not answer in time; nothing was changed"};
}

RemoteRefusal RemotePolicy::noWindow() {
    return {Kind::notYetAvailable,
            "Pellora runs off screen (there was no display when it started), so it has no "
            "window to open; start Pellora again from within the desktop session"};
}

int RemotePolicy::stepped(int brightness, long long delta) {
    return static_cast<int>(std::clamp<long long>(brightness + delta, 0, 100));
}

}  // namespace pellora
