// `pellora ctl`: what it accepts, what it asks the running Pellora, and what it prints.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "ScopedLocalZone.h"
#include "app/ControlCommand.h"
#include "app/RemotePolicy.h"

namespace pellora::test {
namespace {

using Verb = ControlCommand::Verb;

// A command line's words, split at spaces; '' is an empty word.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        out.push_back(word == "''" ? "" : word);
    }
    return out;
}

// The numbers' edges (status, snapshot, resume, prefs, --data-dir: SecondLaunchTest).
TEST(ControlCommandTest, ArgumentsAreCheckedBeforeAnythingIsAsked) {
    const struct {
        const char* line;
        Verb verb;
        double value;  // the number or the seconds
    } accepted[] = {{"set 100", Verb::set, 100},
                    {"up 5", Verb::up, 5},
                    {"down 100", Verb::down, 100},
                    {"pause 1.5", Verb::pause, 1.5},
                    {"pause 604800", Verb::pause, 604800}};
    for (const auto& c : accepted) {
        auto parsed = ControlCommand::parse(words(c.line));
        auto* command = std::get_if<ControlCommand>(&parsed);
        ASSERT_TRUE(command) << c.line << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(command->verb, c.verb) << c.line;
        EXPECT_DOUBLE_EQ(command->verb == Verb::pause ? command->seconds : command->number, c.value)
            << c.line;
    }
    for (const char* line : {"status --yaml", "snapshot now", "set 101", "set abc", "set 50.5",
                             "set +5", "set 99999999999999999999999", "set", "set 1 2",
                             "pause 604801", "pause nan", "pause inf", "pause 1e400", "pause 0x10",
                             "pause ''", "mode Adapting", "--data-dir", "", "frobnicate"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(ControlCommand::parse(words(line))))
            << line;
    }
    EXPECT_EQ(std::get<std::string>(ControlCommand::parse({"set", "abc"})),
              "set wants a whole number from 0 to 100, not \"abc\"");
}

// A long word typed in another script is quoted back cut short between characters, never
// inside one: the terminal would show a broken character.
TEST(ControlCommandTest, ALongWordIsQuotedBackCutBetweenCharacters) {
    std::string word = "a";
    for (int i = 0; i < 30; ++i) {
        word += "ж";
    }
    const std::string said = std::get<std::string>(ControlCommand::parse({"mode", word}));
    // 40 bytes hold "a", 19 "ж" and half of the 20th, which is not shown.
    EXPECT_EQ(said, "mode is learning or adapting, not \"" + word.substr(0, 39) + "…\"");
}

// Answers as a running Pellora would, and keeps what it was asked.
struct FakeClient final : RemoteClient {
    using Failure = std::optional<RemoteFailure>;
    RemoteState shown;
    Failure failure;
    std::vector<std::string> asked;
    std::variant<RemoteState, RemoteFailure> state() override {
        asked.push_back("state");
        return failure ? std::variant<RemoteState, RemoteFailure>(*failure) : shown;
    }
    Failure ask(std::string what) {
        asked.push_back(std::move(what));
        return failure;
    }
    Failure snapshotNow() override { return ask("snapshot"); }
    Failure setBrightness(int b) override { return ask("set " + std::to_string(b)); }
    Failure stepBrightness(int d) override { return ask("step " + std::to_string(d)); }
    Failure pause(double s) override { return ask("pause " + std::to_string(s)); }
    Failure setMode(const std::string& m) override { return ask("mode " + m); }
    Failure openPreferences() override { return ask("prefs"); }
};

ControlCommand command(std::vector<std::string> args) {
    return std::get<ControlCommand>(ControlCommand::parse(args));
}

TEST(ControlCommandTest, StatusPrintsOneLinePerPropertyOrOneJsonObject) {
    ScopedLocalZone zone("UTC0");
    FakeClient client;
    client.shown = {"DELL U2720Q",
                    "000010AC-0000A0C5-00002A17",
                    104.25,
                    62,
                    "learning",
                    12,
                    1718964000.0,
                    "ok",
                    "",
                    -1};
    auto text = command({"status"}).run(client);
    EXPECT_EQ(text.status, ControlCommand::done);
    EXPECT_EQ(text.out,
              "Monitor: DELL U2720Q (000010AC-0000A0C5-00002A17)\nLuma: 104.2\nBrightness: 62\n"
              "Mode: learning\nSamples: 12\nNextSnapshot: 2024-06-21 10:00:00\nCameraHealth: ok\n"
              "MonitorAccess: ok\nPausedUntil: none\n");
    auto json = nlohmann::json::parse(command({"status", "--json"}).run(client).out);
    EXPECT_EQ(json["Monitor"]["name"], "DELL U2720Q");
    EXPECT_EQ(json["PausedUntil"], -1);
    EXPECT_EQ(json.size(), 9u);

    client.shown = RemoteState{};
    text = command({"status"}).run(client);
    EXPECT_NE(text.out.find("Monitor: none\nLuma: "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Brightness: unknown\n"), std::string::npos) << text.out;
    EXPECT_EQ(nlohmann::json::parse(command({"status", "--json"}).run(client).out)["Monitor"],
              nullptr);
    // A name from the synced settings cannot add a line a status bar would read.
    client.shown.monitorName = "DELL\nBrightness: 100\r";
    client.shown.monitorId = "000010AC-0000A0C5-00002A17";
    EXPECT_NE(command({"status"}).run(client).out.find("DELL Brightness: 100  (000010AC"),
              std::string::npos);
}

TEST(ControlCommandTest, EachCommandAsksOnceAndFailuresSetTheExitStatus) {
    // The other verbs are asked end to end, of the running program, in SecondLaunchTest.
    const std::pair<const char*, const char*> asks[] = {{"up 5", "step 5"},
                                                        {"pause 60", "pause 60.000000"}};
    for (const auto& [line, asked] : asks) {
        FakeClient client;
        EXPECT_EQ(command(words(line)).run(client).status, ControlCommand::done) << line;
        EXPECT_EQ(client.asked, std::vector<std::string>{asked});
    }
    using Kind = RemoteFailure::Kind;
    using Refusal = RemoteRefusal::Kind;
    const auto other = Refusal::invalidArgument;
    const struct {
        Kind kind;
        Refusal refusal;
        const char* message;
        int status;
        std::string err;
    } failures[] = {
        {Kind::notRunning, other, "no owner", 1, "Pellora is not running\n"},
        {Kind::noAnswer, other, "timeout", 1, "Pellora did not answer within 2 s\n"},
        {Kind::noBus, other, "no session bus", 1,
         "pellora ctl: no session bus here to look for Pellora on (DBUS_SESSION_BUS_ADDRESS is "
         "unset or does not answer); run it as the desktop's user, within the session or naming "
         "its bus\n"},
        {Kind::refused, Refusal::noMonitor, "No external monitor is connected", 3,
         "pellora ctl: No external monitor is connected\n"},
        {Kind::refused, other, "Brightness goes from 0 to 100, not 101", 2,
         std::string("pellora ctl: Brightness goes from 0 to 100, not 101\n") +
             ControlCommand::usage + "\n"},
        {Kind::failed, other, "org.freedesktop.DBus.Error.UnknownMethod: …", 3,
         "pellora ctl: org.freedesktop.DBus.Error.UnknownMethod: …\n"},
    };
    for (const auto& f : failures) {
        FakeClient client;
        client.failure = RemoteFailure{f.kind, f.refusal, f.message};
        for (auto args : {std::vector<std::string>{"set", "40"}, {"status"}}) {
            auto result = command(args).run(client);
            EXPECT_EQ(result.status, f.status) << f.err;
            EXPECT_EQ(result.err, f.err);
            EXPECT_EQ(result.out, "");
        }
    }
}

TEST(RemotePolicyTest, ModesAndTheirWords) {
    // Refused before 80 samples: asked end to end in SecondLaunchTest.
    EXPECT_EQ(RemotePolicy::mode("adapting", Mode::learning, 80).to, Mode::adapting);
    EXPECT_EQ(RemotePolicy::mode("learning", Mode::adapting, 0).to, Mode::learning);
    auto same = RemotePolicy::mode("adapting", Mode::adapting, 0);
    EXPECT_FALSE(same.to || same.refusal);
    // Asked before the samples are counted (a login script): not "80 more to go".
    auto early = RemotePolicy::mode("adapting", Mode::learning, std::nullopt);
    ASSERT_TRUE(early.refusal);
    EXPECT_EQ(early.refusal->message,
              "The samples logged are still being counted; ask again in a moment");
    // A caller's text is quoted back cut short, never in the middle of a character.
    auto odd = RemotePolicy::mode(std::string(39, 'x') + "é and more", Mode::learning, 0);
    EXPECT_EQ(odd.refusal->message,
              "The mode is \"learning\" or \"adapting\", not \"" + std::string(39, 'x') + "…\"");
}

}  // namespace
}  // namespace pellora::test
