#include "main/ProgramOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

namespace pellora {

std::variant<ProgramOptions, int> ProgramOptions::parse(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Keeps an external monitor's brightness in step with the light in the room.\n"
        "`pellora ctl` asks the running one (run it alone for its commands).");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption simulate("simulate", "Use the built-in simulated monitor and camera.");
    QCommandLineOption dataDir("data-dir", "With --simulate: keep all files under <dir>.", "dir");
    QCommandLineOption timeScale("time-scale", "With --simulate: run the clock <n> times faster.",
                                 "n", "1");
    parser.addOptions({simulate, dataDir, timeScale});
    parser.process(app);

    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        std::fprintf(stderr, "pellora: unknown argument \"%s\" (scripting is `pellora ctl`)\n",
                     extra.first().toLocal8Bit().constData());
        return 2;
    }
    ProgramOptions options;
    options.simulated = parser.isSet(simulate);
    if (parser.isSet(timeScale)) {
        bool ok = false;
        options.timeScale = parser.value(timeScale).toDouble(&ok);
        if (!ok || !(options.timeScale >= 1.0 && options.timeScale <= 100000.0)) {
            std::fprintf(stderr, "pellora: --time-scale wants a number from 1 to 100000\n");
            return 2;
        }
    }
    if (!options.simulated && (parser.isSet(dataDir) || parser.isSet(timeScale))) {
        std::fprintf(stderr, "pellora: --data-dir and --time-scale go with --simulate\n");
        return 2;
    }
    options.paths = AppPaths::fromEnvironment();
    if (options.simulated) {
        QString root = parser.value(dataDir);
        if (root.isEmpty()) {
            options.scratch =
                std::make_shared<QTemporaryDir>(QDir::tempPath() + "/pellora-sim-XXXXXX");
            root = options.scratch->path();
        }
        options.paths = AppPaths::underRoot(root.toStdString());
    }
    return options;
}

}  // namespace pellora
