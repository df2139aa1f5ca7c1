// The real program on the simulated desk, on a fast clock, judged by the files it leaves.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>

#include "ProgramRun.h"
#include "TempDir.h"
#include "store/SampleLogger.h"

namespace pellora::test {
namespace {

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The program built with the tests, or the copy PELLORA_TEST_BINARY names (the package's).
std::string binary() {
    const char* other = std::getenv("PELLORA_TEST_BINARY");
    return other != nullptr && *other != '\0' ? other : PELLORA_BINARY;
}

pid_t start(
    const TempDir& dir, std::vector<std::string> arguments,
    const std::function<void()>& display = [] {}) {
    return launchProgram(binary(), std::move(arguments), dir.path(), dir / "err", display);
}

// Waits up to 20 s for `file` to hold `what` `times` times; its text.
std::string waitFor(const std::filesystem::path& file, const std::string& what, std::size_t times) {
    within(20, [&] { return occurrences(readAll(file), what) >= times; });
    return readAll(file);
}

std::vector<std::string> simulate(const TempDir& dir, const char* scale) {
    return {"--simulate", "--time-scale", scale, "--data-dir", dir.path().string()};
}

TEST(ProcessTest, SimulatedDeskRunsTheWholeLoopAndQuitsCleanly) {
    TempDir dir;
    // In a language whose numbers have a decimal comma, which the log must not take up.
    const std::string locale = commaLocaleDir();
    ASSERT_FALSE(locale.empty()) << "localedef could not make de_DE.UTF-8 (scripts/setup-deps)";
    // An hour of the desk passes in a fifth of a second.
    pid_t child = start(dir, simulate(dir, "18000"), [&] {
        ::setenv("LOCPATH", locale.c_str(), 1);
        ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    });
    ASSERT_GT(child, 0);
    auto data = dir.path() / "data" / "Pellora";
    auto log = data / "debug.log";
    waitFor(log, "Sample logged", 3);
    // The process is the program asked for, not some other copy.
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(
        std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe", error), binary(),
        error))
        << error.message();
    ::kill(child, SIGTERM);
    EXPECT_EQ(exitStatusWithin(child, 20), 0) << readAll(dir / "err");

    const std::string text = readAll(log);
    EXPECT_EQ(occurrences(text, "Launching. Bundle=org.pellora.Pellora"), 1u);
    EXPECT_EQ(occurrences(text, "Initial camera authorization status: authorized"), 1u);
    EXPECT_EQ(occurrences(text, "Quitting on SIGTERM"), 1u);
    EXPECT_GE(occurrences(text, "Sample logged"), 3u);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Snapshot OK: luma=\d+\.\d\n)"))) << text;
    auto samples = SampleLogger::decodeLines(
        readAll(data / "monitors" / "000040AC-00000001-00000001" / "samples.jsonl"));
    // Every logged sample is in the file, written before the program ended.
    EXPECT_EQ(samples.size(), occurrences(text, "Sample logged"));
    auto dump = nlohmann::json::parse(readAll(data / "debug.json"), nullptr, false);
    ASSERT_FALSE(dump.is_discarded());
    EXPECT_EQ(dump["monitor"]["name"], "Simulated Monitor");
    EXPECT_EQ(dump["cameraHealth"], "ok");
    // Taken from the controller as it went, with no dump asked for.
    EXPECT_EQ(dump["monitor"]["sampleCount"], samples.size());
}

// Years of samples keep the samples log's queue busy (the window, open for want of a tray, and
// retraining read it): quitting is still prompt and clean.
TEST(ProcessTest, QuitsPromptlyWhileTheSamplesLogIsBusy) {
    TempDir dir;
    auto data = dir.path() / "data" / "Pellora";
    std::string lines;
    for (int i = 300000; i > 0; --i) {
        lines += "{\"t\":" + std::to_string(double(std::time(nullptr)) - i * 600.0) +
                 ",\"luma\":80.0,\"brightness\":50,\"hour\":9,\"userSet\":false}\n";
    }
    writeFile(data / "monitors" / "000040AC-00000001-00000001" / SampleLogger::fileName, lines);
    pid_t child = start(dir, simulate(dir, "3000"));
    waitFor(data / "debug.log", "the menu is in the preferences window", 1);
    std::string text = waitFor(data / "debug.log", "Sample logged", 3);
    ::kill(child, SIGTERM);
    EXPECT_EQ(exitStatusWithin(child, 10), 0) << "still running 10 s after SIGTERM, or failed";
    EXPECT_GE(occurrences(text, "Sample logged"), 3u);
}

// With no display to reach, as when an autostart fires before the session's display is up or
// a user manager keeps the Wayland display of a session that has ended: the version and the
// help need none, and a run says so in one line and goes on off screen.
TEST(ProcessTest, WithoutADisplayItRunsOffScreenAndSaysSo) {
    const struct {
        const char* name;
        const char* display;  // nothing: unset
        const char* wayland;  // nothing: unset
        const char* why;
        const char *option, *says;  // an option that needs no display, and what it prints
    } cases[] = {
        {"no session", nullptr, nullptr, "neither DISPLAY nor WAYLAND_DISPLAY is set", "--version",
         "Pellora "},
        {"a display that does not answer", ":4095", nullptr, "the display :4095 does not answer",
         "--help", "Keeps an external monitor's"},
        {"a Wayland display that does not answer", nullptr, "pellora-no-such-wayland",
         "the Wayland display pellora-no-such-wayland does not answer", "--version", "Pellora "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto display = [&] {
            ::unsetenv("QT_QPA_PLATFORM");
            c.wayland ? ::setenv("WAYLAND_DISPLAY", c.wayland, 1) : ::unsetenv("WAYLAND_DISPLAY");
            c.display ? ::setenv("DISPLAY", c.display, 1) : ::unsetenv("DISPLAY");
        };
        TempDir dir;
        EXPECT_EQ(exitStatusWithin(start(dir, {c.option}, display), 10), 0);
        EXPECT_NE(readAll(dir / "out").find(c.says), std::string::npos);
        pid_t child = start(dir, simulate(dir, "18000"), display);
        const auto log = dir.path() / "data" / "Pellora" / "debug.log";
        waitFor(log, "Sample logged", 1);
        ::kill(child, SIGTERM);
        EXPECT_EQ(exitStatusWithin(child, 10), 0);
        const std::string text = readAll(log);
        EXPECT_EQ(occurrences(text, "No graphical session (" + std::string(c.why) +
                                        "): running off screen"),
                  1u);
        EXPECT_EQ(occurrences(text, "No system tray"), 0u) << "no one is there to see a window";
        EXPECT_GE(occurrences(text, "Sample logged"), 1u);
    }
}

// --time-scale speeds up the desk, not the network: the update check waits its 5 s and gives
// the feed its 15 s on the wall clock (at 600 times the feed would have 25 ms, and the check
// would say it "did not answer within 15 s"). Both are timed on the updater's queue.
TEST(ProcessTest, TheUpdateCheckKeepsRealTimeOnAFastDesk) {
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    pid_t child = start(dir, simulate(dir, "600"));
    ASSERT_GT(child, 0);
    const auto log = dir.path() / "data" / "Pellora" / "debug.log";
    // Minutes of the desk, under a second of the wall.
    std::string text = waitFor(log, "Sample logged", 1);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string checked = "No update feed is configured in this build: nothing to check";
    if (elapsed < 4.0) {
        EXPECT_EQ(occurrences(text, checked), 0u)
            << "the silent check ran " << elapsed << " s (real) after launch";
    }
    text = waitFor(log, checked, 1);
    ::kill(child, SIGTERM);
    EXPECT_EQ(exitStatusWithin(child, 10), 0) << readAll(dir / "err");
    EXPECT_EQ(occurrences(text, checked), 1u);
}

// A mistyped command starts no tray: it is named, with where scripting lives.
TEST(ProcessTest, AnArgumentItDoesNotKnowIsSaidAndStartsNothing) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"stauts"}, "unknown argument \"stauts\" (scripting is `pellora ctl`)"},
        {{"--simulate", "--time-scale", "0"}, "--time-scale wants a number from 1 to 100000"},
        {{"--simualte"}, "Unknown option 'simualte'."},
    };
    for (const auto& [arguments, says] : cases) {
        TempDir dir;
        EXPECT_EQ(exitStatusWithin(start(dir, arguments), 10), 2) << says;
        EXPECT_NE(readAll(dir / "err").find(says), std::string::npos) << readAll(dir / "err");
    }
}

}  // namespace
}  // namespace pellora::test
