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
    QCommandLineOption simulate("simulate", "Use the built-in simulated monitor and camera.");
    QCommandLineOption dataDir("data-dir", "With --simulate: keep all files under <dir>.", "dir");
    QCommandLineOption timeScale("time-scale", "With --simulate: run the clock <n> times faster.",
                                 "n", "1");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({simulate, dataDir, timeScale});
    // Not process(): it exits 1 on an unknown option, where every other bad argument exits 2.
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "pellora: %s See pellora --help.\n",
                     parser.errorText().toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet(help)) {
        parser.showHelp(0);
    }
    if (parser.isSet(version)) {
        parser.showVersion();
    }

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
