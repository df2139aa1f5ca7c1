#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

namespace pellora::test {

inline std::string readAll(const std::filesystem::path& file) {
    return readFile(file);
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

// A folder holding a German locale, whose numbers have a decimal comma, for a child's LOCPATH
// (with LC_ALL=de_DE.UTF-8): a program's own texts and logs must not take it up. Made once,
// with localedef and the locales package; empty if it could not be.
inline const std::string& commaLocaleDir() {
    static TempDir dir;
    static const std::string made =
        std::system(("localedef -i de_DE -f UTF-8 '" + (dir.path() / "de_DE.UTF-8").string() +
                     "' >/dev/null 2>&1")
                        .c_str()) == 0
            ? dir.path().string()
            : "";
    return made;
}

// Runs `program` with `arguments`, its stdout into dir/out and its stderr into `errors`, off
// screen unless `environment` (run in the child) sets up another display.
inline pid_t launchProgram(
    const std::string& program, std::vector<std::string> arguments,
    const std::filesystem::path& dir, const std::filesystem::path& errors,
    const std::function<void()>& environment = [] {}) {
    const std::string suppressions = (dir / "lsan.supp").string();
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        environment();
        // Under LeakSanitizer: fontconfig keeps what it parsed until the process ends.
        ::setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
        if (std::freopen((dir / "out").c_str(), "w", stdout) == nullptr ||
            std::freopen(errors.c_str(), "w", stderr) == nullptr) {
            ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>("pellora")};
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

// Runs `pellora --simulate --data-dir dir` on `busAddress`, off screen, stderr into `errors`.
inline pid_t launchSimulated(const std::filesystem::path& dir, const QString& busAddress,
                             const std::filesystem::path& errors) {
    const std::string address = busAddress.toStdString();
    return launchProgram(PELLORA_BINARY, {"--simulate", "--data-dir", dir.string()}, dir, errors,
                         [&] { ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1); });
}

}  // namespace pellora::test
