#pragma once

#include <memory>
#include <variant>

#include "platform/AppPaths.h"

class QCoreApplication;
class QTemporaryDir;

namespace pellora {

// What the command line asks of a run: this desktop's hardware, or the simulated desk with its
// folder and time scale.
struct ProgramOptions {
    bool simulated = false;
    double timeScale = 1.0;
    AppPaths paths;
    // A simulated run's folder when none was given; removed with the last copy.
    std::shared_ptr<QTemporaryDir> scratch;

    // Reads the application's arguments. --help and --version are answered (and the process
    // ends) here; wrong arguments are said on stderr and give the exit status instead.
    static std::variant<ProgramOptions, int> parse(const QCoreApplication& app);
};

}  // namespace pellora
