// The real program on the simulated desk, on a fast clock, judged by the files it leaves.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

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

TEST(ProcessTest, SimulatedDeskRunsTheWholeLoopAndQuitsCleanly) {
    TempDir dir;
    // Under LeakSanitizer: fontconfig keeps what it parsed until the process ends.
    auto suppressions = dir.path() / "lsan.supp";
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("LSAN_OPTIONS", ("suppressions=" + suppressions.string()).c_str(), 1);
        // An hour of the desk passes in a fifth of a second.
        ::execl(PELLORA_BINARY, "pellora", "--simulate", "--time-scale", "18000", "--data-dir",
                dir.path().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto data = dir.path() / "data" / "Pellora";
    auto log = data / "debug.log";
    // Polls the files the program writes; it is done once three samples are logged.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = readAll(log);
        if (occurrences(text, "Sample logged") >= 3) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
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
    // Taken from the controller as it went, with no dump asked for.
    EXPECT_EQ(dump["monitor"]["sampleCount"], samples.size());
}

}  // namespace
}  // namespace pellora::test
