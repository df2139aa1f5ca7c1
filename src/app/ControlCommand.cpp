#include "app/ControlCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/RemotePolicy.h"

namespace pellora {

namespace {

using Verb = ControlCommand::Verb;

// A whole decimal number, all of `text` and nothing else.
std::optional<long long> wholeNumber(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> decimalNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (text.empty() || error != std::errc() || at != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The argument, quoted for a message as a script's texts are.
std::string shown(const std::string& text) {
    return RemotePolicy::quoted(text);
}

std::string localTime(double seconds) {
    if (seconds < 0 || !std::isfinite(seconds) || seconds > 253402300799.0) {
        return "none";
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
    return out;
}

std::string formatted(const char* pattern, double value) {
    char out[64];
    std::snprintf(out, sizeof out, pattern, value);
    return out;
}

ControlCommand::Result failed(const RemoteFailure& failure) {
    using Kind = RemoteFailure::Kind;
    switch (failure.kind) {
        case Kind::notRunning:
            return {ControlCommand::notRunning, "", "Pellora is not running\n"};
        case Kind::noBus:
            return {ControlCommand::notRunning, "",
                    "pellora ctl: no session bus here to look for Pellora on "
                    "(DBUS_SESSION_BUS_ADDRESS is unset or does not answer); run it as the "
                    "desktop's user, within the session or naming its bus\n"};
        case Kind::noAnswer:
            return {ControlCommand::notRunning, "", "Pellora did not answer within 2 s\n"};
        case Kind::refused:
            if (failure.refusal == RemoteRefusal::Kind::invalidArgument) {
                return {ControlCommand::badArgument, "",
                        "pellora ctl: " + failure.message + "\n" + ControlCommand::usage + "\n"};
            }
            return {ControlCommand::refused, "", "pellora ctl: " + failure.message + "\n"};
        case Kind::failed:
            break;
    }
    return {ControlCommand::refused, "", "pellora ctl: " + failure.message + "\n"};
}

}  // namespace

std::variant<ControlCommand, std::string> ControlCommand::parse(
    const std::vector<std::string>& args) {
    ControlCommand command;
    std::size_t i = 0;
    if (i < args.size() && args[i] == "--data-dir") {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            return std::string("--data-dir wants a folder");
        }
        command.dataDir = args[i + 1];
        i += 2;
    }
    if (i >= args.size()) {
        return std::string("a command is wanted");
    }
    const std::string& verb = args[i++];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    auto takes = [&](std::size_t n) -> std::optional<std::string> {
        if (rest.size() != n) {
            return verb + (n == 0 ? " takes no argument" : " takes one argument");
        }
        return std::nullopt;
    };
    const struct {
        const char* name;
        Verb verb;
    } plain[] = {{"snapshot", Verb::snapshot}, {"resume", Verb::resume}, {"prefs", Verb::prefs}};
    for (const auto& p : plain) {
        if (verb == p.name) {
            if (auto wrong = takes(0)) {
                return *wrong;
            }
            command.verb = p.verb;
            return command;
        }
    }
    if (verb == "status") {
        command.verb = Verb::status;
        if (rest.size() == 1 && rest[0] == "--json") {
            command.json = true;
        } else if (!rest.empty()) {
            return std::string("status takes only --json");
        }
        return command;
    }
    if (verb == "set" || verb == "up" || verb == "down") {
        if (auto wrong = takes(1)) {
            return *wrong;
        }
        auto n = wholeNumber(rest[0]);
        if (!n || *n < 0 || *n > 100) {
            return verb + " wants a whole number from 0 to 100, not " + shown(rest[0]);
        }
        command.verb = verb == "set" ? Verb::set : verb == "up" ? Verb::up : Verb::down;
        command.number = static_cast<int>(*n);
        return command;
    }
    if (verb == "pause") {
        if (auto wrong = takes(1)) {
            return *wrong;
        }
        auto seconds = decimalNumber(rest[0]);
        if (!seconds || RemotePolicy::pause(*seconds)) {
            return "pause wants seconds from 0 to 604800 (7 days), not " + shown(rest[0]);
        }
        command.verb = Verb::pause;
        command.seconds = *seconds;
        return command;
    }
    if (verb == "mode") {
        if (auto wrong = takes(1)) {
            return *wrong;
        }
        if (rest[0] != "learning" && rest[0] != "adapting") {
            return "mode is learning or adapting, not " + shown(rest[0]);
        }
        command.verb = Verb::mode;
        command.mode = rest[0];
        return command;
    }
    return "no command " + shown(verb);
}

ControlCommand::Result ControlCommand::run(RemoteClient& client) const {
    std::optional<RemoteFailure> failure;
    switch (verb) {
        case Verb::status: {
            auto answer = client.state();
            if (auto* f = std::get_if<RemoteFailure>(&answer)) {
                return failed(*f);
            }
            const auto& state = std::get<RemoteState>(answer);
            return {done, json ? statusJson(state) : statusText(state), ""};
        }
        case Verb::snapshot:
            failure = client.snapshotNow();
            break;
        case Verb::set:
            failure = client.setBrightness(number);
            break;
        case Verb::up:
            failure = client.stepBrightness(number);
            break;
        case Verb::down:
            failure = client.stepBrightness(-number);
            break;
        case Verb::pause:
            failure = client.pause(seconds);
            break;
        case Verb::resume:
            failure = client.pause(0);
            break;
        case Verb::mode:
            failure = client.setMode(mode);
            break;
        case Verb::prefs:
            failure = client.openPreferences();
            break;
    }
    return failure ? failed(*failure) : Result{};
}

std::string ControlCommand::statusText(const RemoteState& s) {
    std::string out;
    auto line = [&out](const char* key, std::string value) {
        // Names come from the settings and the monitor: no line break of theirs splits a line.
        std::replace_if(
            value.begin(), value.end(),
            [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
        out += std::string(key) + ": " + value + "\n";
    };
    line("Monitor", s.monitorId.empty() ? "none" : s.monitorName + " (" + s.monitorId + ")");
    line("Luma", formatted("%.1f", s.luma));
    line("Brightness", s.brightness < 0 ? "unknown" : std::to_string(s.brightness));
    line("Mode", s.mode.empty() ? "none" : s.mode);
    line("Samples", std::to_string(s.samples));
    line("NextSnapshot", localTime(s.nextSnapshot));
    line("CameraHealth", s.cameraHealth);
    line("MonitorAccess", s.monitorAccess.empty() ? "ok" : s.monitorAccess);
    line("PausedUntil", localTime(s.pausedUntil));
    return out;
}

std::string ControlCommand::statusJson(const RemoteState& s) {
    nlohmann::json monitor = nullptr;
    if (!s.monitorId.empty()) {
        monitor = {{"name", s.monitorName}, {"id", s.monitorId}};
    }
    nlohmann::json status = {
        {"Monitor", monitor},
        {"Luma", s.luma},
        {"Brightness", s.brightness},
        {"Mode", s.mode},
        {"Samples", s.samples},
        {"NextSnapshot", s.nextSnapshot},
        {"CameraHealth", s.cameraHealth},
        {"MonitorAccess", s.monitorAccess},
        {"PausedUntil", s.pausedUntil},
    };
    return status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace pellora
