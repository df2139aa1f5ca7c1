// Pellora's entry: builds the process-wide services and runs the event loop.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <memory>

#include "platform/AppPaths.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/linux/SyslogSystemLog.h"
#include "platform/sim/StderrSystemLog.h"
#include "store/DebugLog.h"
#include "store/SettingsStore.h"

#ifndef PELLORA_VERSION
#define PELLORA_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kApplicationId = "org.pellora.Pellora";

void quitOnSignal(int) {
    QCoreApplication::quit();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Pellora");
    QCoreApplication::setApplicationVersion(PELLORA_VERSION);
    QCoreApplication::setOrganizationDomain("pellora.org");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Keeps an external monitor's brightness in step with the light in the room.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption simulate("simulate", "Use the built-in simulated monitor and camera.");
    QCommandLineOption dataDir("data-dir", "With --simulate: keep all files under <dir>.", "dir");
    QCommandLineOption timeScale("time-scale", "With --simulate: run the clock <n> times faster.",
                                 "n", "1");
    parser.addOptions({simulate, dataDir, timeScale});
    parser.process(app);

    bool simulated = parser.isSet(simulate);
    double scale = 1.0;
    if (parser.isSet(timeScale)) {
        bool ok = false;
        scale = parser.value(timeScale).toDouble(&ok);
        if (!ok || !(scale >= 1.0 && scale <= 100000.0)) {
            std::fprintf(stderr, "pellora: --time-scale wants a number from 1 to 100000\n");
            return 2;
        }
    }
    if (!simulated && (parser.isSet(dataDir) || parser.isSet(timeScale))) {
        std::fprintf(stderr, "pellora: --data-dir and --time-scale go with --simulate\n");
        return 2;
    }

    std::unique_ptr<QTemporaryDir> scratch;
    pellora::AppPaths paths = pellora::AppPaths::fromEnvironment();
    if (simulated) {
        QString root = parser.value(dataDir);
        if (root.isEmpty()) {
            scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/pellora-sim-XXXXXX");
            root = scratch->path();
        }
        paths = pellora::AppPaths::underRoot(root.toStdString());
    }

    pellora::SystemClock clock(scale);
    pellora::QtMainQueue mainQueue(clock);
    pellora::SerialQueue logQueue("pellora.debug-log", clock);
    std::unique_ptr<pellora::SystemLog> systemLog;
    if (simulated) {
        systemLog = std::make_unique<pellora::StderrSystemLog>();
    } else {
        systemLog = std::make_unique<pellora::SyslogSystemLog>();
    }

    auto log = std::make_shared<pellora::DebugLog>(clock, logQueue, paths.dataDir, *systemLog);
    pellora::DebugLog::installShared(log);
    auto settings = pellora::SettingsStore::open(paths, clock, mainQueue, log.get());
    settings->watchCloudFolder();
    pellora::SettingsStore::installShared(settings);

    log->log(std::string("Launching. Bundle=") + kApplicationId, "app");
    log->log("Data folder " + paths.dataDir.string() + ", settings " + paths.configDir.string() +
                 ", synced settings " + paths.syncDir.string(),
             "app");

    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGTERM, quitOnSignal);
    int status = app.exec();
    // Let the log finish its queue before the process goes.
    logQueue.sync([] {});
    pellora::SettingsStore::installShared(nullptr);
    pellora::DebugLog::installShared(nullptr);
    return status;
}
