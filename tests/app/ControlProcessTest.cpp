// `pellora ctl` end to end: the program's own client against a running `pellora --simulate`,
// both on a bus of the test's own.

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <nlohmann/json.hpp>

#include "PrivateDBus.h"
#include "ProgramRun.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "platform/linux/DBusSingleInstance.h"

namespace pellora::test {
namespace {

struct Ctl {
    int status = -1;
    std::string out, err;
};

// `pellora ctl` with `arguments`, on `bus`.
Ctl ctl(const PrivateDBus& bus, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("LSAN_OPTIONS", "detect_leaks=0");
    process.setProcessEnvironment(env);
    process.start(PELLORA_BINARY, QStringList{"ctl"} + arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PelloraCtl, ScriptsTheRunningSimulatedDesk) {
    qtApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    TempDir dir;
    const QString dataDir = QString::fromStdString(dir.path().string());
    const auto log = dir.path() / "data" / "Pellora" / "debug.log";
    const QString name = DBusSingleInstance::nameForLock("org.pellora.Pellora",
                                                         dir.path() / "runtime" / "instance.lock");
    QDBusConnection watch = bus.connect("watch");
    pid_t pellora = launchSimulated(dir.path(), bus.address(), dir.path() / "pellora.err");
    ASSERT_GT(pellora, 0);
    const bool up = within(20, [&] {
        return has(readAll(log), "Sample logged") &&
               watch.interface()->isServiceRegistered(name).value();
    });
    auto at = [&](QStringList arguments) {
        return ctl(bus, QStringList{"--data-dir", dataDir} + arguments);
    };
    if (up) {
        Ctl status = at({"status"});
        EXPECT_EQ(status.status, 0) << status.err;
        EXPECT_TRUE(has(status.out, "Monitor: Simulated Monitor (000040AC-00000001-00000001)\n"))
            << status.out;
        EXPECT_TRUE(has(status.out, "Mode: learning\nSamples: 1\n")) << status.out;

        EXPECT_EQ(at({"set", "30"}).status, 0);
        EXPECT_EQ(at({"down", "5"}).status, 0);
        auto json = nlohmann::json::parse(at({"status", "--json"}).out, nullptr, false);
        ASSERT_TRUE(json.is_object());
        EXPECT_EQ(json["Brightness"], 25);
        EXPECT_GT(json["PausedUntil"].get<double>(), 0) << "the slider's 5-minute pause";
        EXPECT_TRUE(within(5, [&] { return has(readAll(log), "user adjust brightness=25"); }));

        for (const QStringList& bad : {QStringList{"set", "abc"}, {"frobnicate"}}) {
            Ctl refused = at(bad);
            EXPECT_EQ(refused.status, 2) << bad.join(' ').toStdString();
            EXPECT_TRUE(has(refused.err, "usage: pellora ctl")) << refused.err;
        }
        Ctl adapting = at({"mode", "adapting"});
        EXPECT_EQ(adapting.status, 3);
        EXPECT_EQ(adapting.err,
                  "pellora ctl: Adapting is offered once 80 samples are logged; 79 more to go\n");
        EXPECT_EQ(at({"resume"}).status, 0);
        EXPECT_TRUE(has(at({"status"}).out, "PausedUntil: none\n"));
        EXPECT_EQ(at({"snapshot"}).status, 0);
        EXPECT_EQ(at({"prefs"}).status, 0);
        EXPECT_TRUE(within(5, [&] {
            std::string text = readAll(log);
            return has(text, "Script asked SnapshotNow") &&
                   has(text, "Script asked OpenPreferences");
        }));
    }
    ::kill(pellora, SIGTERM);
    EXPECT_EQ(exitStatusWithin(pellora, 20), 0);
    ASSERT_TRUE(up) << readAll(dir.path() / "pellora.err");
    Ctl gone = at({"status"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "Pellora is not running\n");
}

// A Pellora that holds its name and never answers: ctl gives up at its bound.
TEST(PelloraCtl, GivesUpOnASilentPelloraWithinTwoSeconds) {
    qtApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(
        bus.startMock({"org.pellora.Pellora", "/org/pellora/Pellora", "org.pellora.Pellora1"},
                      "org.pellora.Pellora"));
    QDBusConnection control = bus.connect("control");
    auto add = QDBusMessage::createMethodCall("org.pellora.Pellora", "/org/pellora/Pellora",
                                              "org.freedesktop.DBus.Mock", "AddMethod");
    add.setArguments({QString(""), QString("SnapshotNow"), QString(""), QString(""),
                      QString("import time; time.sleep(8)")});
    ASSERT_EQ(control.call(add).type(), QDBusMessage::ReplyMessage);
    QElapsedTimer timer;
    timer.start();
    Ctl late = ctl(bus, {"snapshot"});
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.err, "Pellora did not answer within 2 s\n");
    EXPECT_LT(timer.elapsed(), 3000);
}

}  // namespace
}  // namespace pellora::test
