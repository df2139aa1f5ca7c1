// The real program on the simulated desk, on a fast clock, judged by the files it leaves.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "TempDir.h"
#include "store/SampleLogger.h"

namespace pellora::test {
namespace {

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Starts `pellora --simulate` over `dir` on a clock `timeScale` times faster, off screen.
pid_t launch(const TempDir& dir, const char* timeScale) {
    // Under LeakSanitizer: fontconfig keeps what it parsed until the process ends.
    auto suppressions = dir.path() / "lsan.supp";
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("LSAN_OPTIONS", ("suppressions=" + suppressions.string()).c_str(), 1);
        ::execl(PELLORA_BINARY, "pellora", "--simulate", "--time-scale", timeScale, "--data-dir",
                dir.path().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

// Polls `file` until it holds `what` `times` times or `seconds` have passed; its text.
std::string waitFor(const std::filesystem::path& file, const std::string& what, std::size_t times,
                    int seconds = 20) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = readAll(file);
        if (occurrences(text, what) >= times) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

TEST(ProcessTest, SimulatedDeskRunsTheWholeLoopAndQuitsCleanly) {
    TempDir dir;
    // An hour of the desk passes in a fifth of a second.
    pid_t child = launch(dir, "18000");
    ASSERT_GE(child, 0);
    auto data = dir.path() / "data" / "Pellora";
    auto log = data / "debug.log";
    // It is done once three samples are logged.
    std::string text = waitFor(log, "Sample logged", 3);
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    text = readAll(log);
    EXPECT_EQ(occurrences(text, "Launching. Bundle=org.pellora.Pellora"), 1u);
    EXPECT_EQ(occurrences(text, "Initial camera authorization status: authorized"), 1u);
    EXPECT_EQ(occurrences(text, "Quitting on SIGTERM"), 1u);
    EXPECT_GE(occurrences(text, "Sample logged"), 3u);
    auto samples = SampleLogger::decodeLines(
        readAll(data / "monitors" / "000040AC-00000001-00000001" / "samples.jsonl"));
    // Every logged sample is in the file, written before the program ended.
    EXPECT_EQ(samples.size(), occurrences(text, "Sample logged"));
    auto dump = nlohmann::json::parse(readAll(data / "debug.json"), nullptr, false);
    ASSERT_FALSE(dump.is_discarded());
    EXPECT_EQ(dump["monitor"]["name"], "Simulated Monitor");
    EXPECT_EQ(dump["cameraHealth"], "ok");
}

// Years of samples keep the samples log's queue busy: the window, open for want of a tray,
// reads the log at every refresh, and retraining reads it too. Quitting then is still prompt
// and clean.
TEST(ProcessTest, QuitsPromptlyWhileTheSamplesLogIsBusy) {
    TempDir dir;
    auto data = dir.path() / "data" / "Pellora";
    const double now = double(std::time(nullptr));
    constexpr int kSamples = 300000;
    std::string lines;
    lines.reserve(kSamples * 80);
    for (int i = kSamples; i > 0; --i) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "{\"t\":%.1f,\"luma\":80.0,\"brightness\":50,\"hour\":9,\"userSet\":false}\n",
                      now - i * 600.0);
        lines += line;
    }
    writeFile(data / "monitors" / "000040AC-00000001-00000001" / SampleLogger::fileName, lines);
    pid_t child = launch(dir, "3000");
    ASSERT_GE(child, 0);
    waitFor(data / "debug.log", "the menu is in the preferences window", 1);
    std::string text = waitFor(data / "debug.log", "Sample logged", 3);
    ::kill(child, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 200 && ended == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = ::waitpid(child, &status, WNOHANG);
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "still running 10 s after SIGTERM";
    }
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(occurrences(text, "Sample logged"), 3u);
}

}  // namespace
}  // namespace pellora::test
