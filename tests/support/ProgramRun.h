#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pellora::test {

// Helpers for tests that run the program itself.

inline std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls every 50 ms for at most `seconds`; whether `done` came true.
template <typename Done>
bool within(double seconds, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The exit status of `child` once it has ended within `seconds`; else it is killed, and -1.
inline int exitStatusWithin(pid_t child, double seconds) {
    int status = 0;
    if (!within(seconds, [&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `pellora --simulate --data-dir dir` on `busAddress`, off screen, its stderr into
// `errors`.
inline pid_t launchSimulated(const std::filesystem::path& dir, const QString& busAddress,
                             const std::filesystem::path& errors) {
    const std::string address = busAddress.toStdString();
    const std::string suppressions = (dir / "lsan.supp").string();
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        // Under LeakSanitizer: fontconfig keeps what it parsed until the process ends.
        ::setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
        if (std::freopen(errors.c_str(), "w", stderr) == nullptr) {
            ::_exit(126);
        }
        ::execl(PELLORA_BINARY, "pellora", "--simulate", "--data-dir", dir.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

}  // namespace pellora::test
