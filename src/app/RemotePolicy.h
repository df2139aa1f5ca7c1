#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/Mode.h"
#include "platform/RemoteCommands.h"

namespace pellora {

// What scripts may ask of the controller, what is refused and in which words: plain
// functions of the request and the state it finds.
struct RemotePolicy {
    static constexpr int maxStep = 100;
    // A week: longer is more likely a mistake (milliseconds for seconds) than a wish.
    static constexpr double maxPauseSeconds = 7 * 86400.0;
    // A step within this many seconds of the brightness last read or set goes from that
    // value; a later one reads the monitor first.
    static constexpr double stepFromKnownSeconds = 10.0;
    // `pellora ctl` gives up after 2 s and says nothing answered: a step or set whose read
    // of the monitor comes back later is not carried out.
    static constexpr double answerWithinSeconds = 1.5;

    // Nothing when the request may go ahead.
    // A caller's text, fit to quote back: cut to 40 bytes between characters, in quotes.
    static std::string quoted(std::string_view text);

    static std::optional<RemoteRefusal> brightness(long long value);
    static std::optional<RemoteRefusal> step(long long delta);
    static std::optional<RemoteRefusal> pause(double seconds);
    static std::optional<RemoteRefusal> snapshot(bool cameraGranted, bool screenLocked);
    struct ModeChange {
        std::optional<Mode> to;  // nothing: already in it, or refused
        std::optional<RemoteRefusal> refusal;
    };
    // Adapting is offered, as in the menu, once enough samples are logged; `samples` is
    // nothing while they are still being counted.
    static ModeChange mode(std::string_view asked, Mode current, std::optional<long long> samples);

    static RemoteRefusal noMonitor();
    static RemoteRefusal notAnswering();
    static RemoteRefusal tooLate();
    // Off screen (no display when Pellora started) there is no window to open.
    static RemoteRefusal noWindow();
    // `brightness` moved by `delta` (already checked), kept within 0...100.
    static int stepped(int brightness, long long delta);
};

}  // namespace pellora
