// Pellora's entry: builds the process-wide services and runs the event loop.

#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <memory>

#include "platform/AppPaths.h"
#include "platform/InstanceLock.h"
#include "platform/QtMainQueue.h"
#include "platform/QuitSignals.h"
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

}  // namespace

int main(int argc, char** argv) {
    // A peer that goes away (an X server, a bus) must fail our write with EPIPE, not end us.
    std::signal(SIGPIPE, SIG_IGN);
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
    std::unique_ptr<pellora::SystemLog> systemLog;
    if (simulated) {
        systemLog = std::make_unique<pellora::StderrSystemLog>();
    } else {
        systemLog = std::make_unique<pellora::SyslogSystemLog>();
    }

    // Two instances would each rewrite the files from their own memory and lose each
    // other's changes. A second launch is no error: what was asked for is running.
    auto instance = pellora::InstanceLock::acquire(paths.runtimeDir / "instance.lock");
    if (instance.outcome() == pellora::InstanceLock::Outcome::heldElsewhere) {
        std::string holder = instance.detail().empty() ? "" : " (pid " + instance.detail() + ")";
        // Only the system log: debug.log belongs to the running instance.
        std::string line = pellora::DebugLog::composeLine(
            clock.now(), "app", "Pellora is already running" + holder + "; this launch exits");
        systemLog->write(line);
        if (!simulated && !isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return 0;
    }

    pellora::QtMainQueue mainQueue(clock);
    pellora::SerialQueue logQueue("pellora.debug-log", clock);
    auto log = std::make_shared<pellora::DebugLog>(clock, logQueue, paths.dataDir, *systemLog);
    pellora::DebugLog::installShared(log);
    if (instance.outcome() == pellora::InstanceLock::Outcome::unavailable) {
        log->log(
            "No instance lock (" + instance.detail() + "); a second Pellora would not be stopped",
            "app");
    }
    // Declared after the log: its work logs, and it is drained before the log goes.
    pellora::SerialQueue settingsQueue("pellora.settings", clock);
    auto settings = pellora::SettingsStore::open(paths, clock, mainQueue, settingsQueue, log.get());
    settings->watchCloudFolder();
    pellora::SettingsStore::installShared(settings);

    log->log(std::string("Launching. Bundle=") + kApplicationId, "app");
    log->log("Data folder " + paths.dataDir.string() + ", settings " + paths.configDir.string() +
                 ", synced settings " + paths.syncDir.string(),
             "app");

    auto quitSignals = pellora::QuitSignals::install([&log](int signal) {
        log->log(std::string("Quitting on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"), "app");
        QCoreApplication::quit();
    });
    if (!quitSignals) {
        log->log("Cannot catch SIGINT and SIGTERM; changes not yet written are lost on them",
                 "app");
    }
    int status = app.exec();
    // Everything still pending goes to disk before the process does.
    settings->flush();
    log->flush();
    pellora::SettingsStore::installShared(nullptr);
    pellora::DebugLog::installShared(nullptr);
    settings.reset();
    return status;
}
