// One Pellora per user: the running one answers on the session bus, a second launch asks it
// to show its window and exits, and `pellora ctl` scripts it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <nlohmann/json.hpp>
#include <regex>

#include "PrivateDBus.h"
#include "ProgramRun.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "platform/InstanceLock.h"
#include "platform/LogSink.h"
#include "platform/linux/DBusSingleInstance.h"

namespace pellora::test {
namespace {

const QString kName = "org.pellora.Pellora";

struct Lines : LogSink {
    std::vector<std::string> lines;
    void log(std::string_view message, std::string_view) override { lines.emplace_back(message); }
};

TEST(DBusSingleInstance, TheRunningOneAnswersEveryApplicationCall) {
    qtApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    Lines log;
    int activations = 0;
    auto running = DBusSingleInstance::create(kName, &log, bus.connect("running"));
    running->serve([&activations] { ++activations; });
    ASSERT_TRUE(runEventsUntil([&] { return running->ownsName(); }, 5000));

    // A second launch's call is the program's test below. The desktop's launcher may also open
    // files or run actions: each brings Pellora forward.
    QDBusConnection launcher = bus.connect("launcher");
    const std::pair<QString, QVariantList> calls[] = {
        {"Activate", {QVariantMap{{"desktop-startup-id", "x"}}}},
        {"Open", {QStringList{"file:///tmp/a"}, QVariantMap{}}},
        {"ActivateAction", {"preferences", QVariantList{}, QVariantMap{}}},
    };
    for (const auto& [method, arguments] : calls) {
        auto call = QDBusMessage::createMethodCall(kName, DBusSingleInstance::kPath,
                                                   DBusSingleInstance::kInterface, method);
        call.setArguments(arguments);
        const QDBusMessage reply = launcher.call(call, QDBus::BlockWithGui, 2000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }
    EXPECT_EQ(activations, 3);

    // A second one over the same bus name cannot have it, and says so.
    auto rival = DBusSingleInstance::create(kName, &log, bus.connect("rival"));
    rival->serve([] { ADD_FAILURE() << "the rival was activated"; });
    ASSERT_TRUE(runEventsUntil([&] { return !log.lines.empty(); }, 5000));
    EXPECT_FALSE(rival->ownsName());
    EXPECT_NE(log.lines[0].find("belongs to another process"), std::string::npos);

    // Once the running one is gone, nothing answers.
    running.reset();
    ASSERT_TRUE(runEventsUntil(
        [&] { return !launcher.interface()->isServiceRegistered(kName).value(); }, 5000));
    EXPECT_FALSE(DBusSingleInstance::create(kName, nullptr, bus.connect("third"))
                     ->activateRunning(DBusSingleInstance::kMaxWaitSeconds));
}

TEST(DBusSingleInstance, WithoutABusNothingIsServedAndNothingAnswers) {
    qtApp();
    Lines log;
    auto none = DBusSingleInstance::create(
        kName, &log, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere"));
    none->serve([] {});
    EXPECT_FALSE(none->activateRunning(DBusSingleInstance::kMaxWaitSeconds));
    EXPECT_EQ(log.lines, std::vector<std::string>{"No session bus; a second launch cannot reach "
                                                  "this one"});
    QDBusConnection::disconnectFromBus("nowhere");
}

TEST(DBusSingleInstance, NameOfALockIsValidAndOnePerLockFile) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "a" / "runtime");
    const QString name = DBusSingleInstance::nameForLock(kName, dir.path() / "a/runtime/x.lock");
    // Bus name elements: letters, digits, '_' or '-', never starting with a digit.
    EXPECT_TRUE(
        QRegularExpression(R"(^org\.pellora\.Pellora\.Lock_[0-9a-f]{16}$)").match(name).hasMatch())
        << name.toStdString();
    EXPECT_EQ(DBusSingleInstance::nameForLock(kName, dir.path() / "a/../a/runtime/./x.lock"), name);
    EXPECT_NE(DBusSingleInstance::nameForLock(kName, dir.path() / "b/runtime/x.lock"), name);
}

struct Ctl {
    int status = -1;
    std::string out, err;
};

// `pellora ctl` with `arguments`, on `bus`, in a language whose numbers have a decimal comma
// (which what it prints for scripts must not take up).
Ctl ctl(const PrivateDBus& bus, std::vector<std::string> arguments) {
    const std::string address = bus.address().toStdString();
    const std::string locale = commaLocaleDir();
    arguments.insert(arguments.begin(), "ctl");
    TempDir dir;  // its own: the running Pellora's output goes to the test's
    pid_t child = launchProgram(PELLORA_BINARY, arguments, dir.path(), dir / "err", [&] {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        ::setenv("LOCPATH", locale.c_str(), 1);
        ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    });
    const int status = exitStatusWithin(child, 10);
    return {status, readFile(dir / "out"), readFile(dir / "err")};
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A bus and a home of the test's own, and where a Pellora run in that home logs and is named.
struct SecondLaunch : ::testing::Test {
    QCoreApplication& app = qtApp();  // first: the bus's connections need it
    PrivateDBus bus;
    TempDir dir;
    const std::filesystem::path log = dir.path() / "data" / "Pellora" / "debug.log";
    const std::filesystem::path lockFile = dir.path() / "runtime" / "instance.lock";
    const QString name = DBusSingleInstance::nameForLock(kName, lockFile);
    void SetUp() override { ASSERT_TRUE(bus.ok()); }
};

// One running `pellora --simulate` on a bus of the test's own: a second launch brings it
// forward and exits, then `pellora ctl` scripts it, and says so once it is gone.
TEST_F(SecondLaunch, AsksTheRunningOneForItsWindowAndCtlScriptsIt) {
    QDBusConnection watch = bus.connect("watch");
    pid_t first = launchSimulated(dir.path(), bus.address(), dir.path() / "first.err");
    ASSERT_GT(first, 0);
    const bool up = within(20, [&] {
        return has(readAll(log), "Sample logged") &&
               watch.interface()->isServiceRegistered(name).value();
    });
    auto at = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--data-dir", dir.path().string()});
        return ctl(bus, arguments);
    };
    if (up) {
        pid_t second = launchSimulated(dir.path(), bus.address(), dir.path() / "second.err");
        EXPECT_EQ(exitStatusWithin(second, 3), 0);
        EXPECT_TRUE(has(readAll(dir.path() / "second.err"),
                        "Pellora is already running (pid " + std::to_string(first) +
                            "); brought it forward, this launch exits"))
            << readAll(dir.path() / "second.err");
        EXPECT_TRUE(within(5, [&] { return has(readAll(log), "Activated by a second launch"); }));

        Ctl status = at({"status"});
        EXPECT_EQ(status.status, 0) << status.err;
        EXPECT_TRUE(has(status.out, "Monitor: Simulated Monitor (000040AC-00000001-00000001)\n"))
            << status.out;
        EXPECT_TRUE(has(status.out, "Mode: learning\nSamples: 1\n")) << status.out;
        EXPECT_TRUE(std::regex_search(status.out, std::regex(R"(\nLuma: \d+\.\d\n)")))
            << status.out;
        EXPECT_FALSE(commaLocaleDir().empty()) << "no de_DE.UTF-8 (scripts/setup-deps)";
        EXPECT_EQ(at({"set", "30"}).status, 0);
        EXPECT_EQ(at({"down", "5"}).status, 0);
        auto json = nlohmann::json::parse(at({"status", "--json"}).out, nullptr, false);
        ASSERT_TRUE(json.is_object());
        EXPECT_EQ(json["Brightness"], 25);
        EXPECT_GT(json["PausedUntil"].get<double>(), 0) << "the slider's 5-minute pause";
        EXPECT_TRUE(within(5, [&] { return has(readAll(log), "user adjust brightness=25"); }));
        for (auto bad : {std::vector<std::string>{"set", "abc"}, {"frobnicate"}}) {
            Ctl refused = at(bad);
            EXPECT_EQ(refused.status, 2) << bad[0];
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
    ::kill(first, SIGTERM);
    EXPECT_EQ(exitStatusWithin(first, 20), 0);
    ASSERT_TRUE(up) << readAll(dir.path() / "first.err");
    // The second launch wrote nothing of its own into the running one's files.
    EXPECT_EQ(readAll(log).find("Launching. Bundle"), readAll(log).rfind("Launching. Bundle"));
    Ctl gone = at({"status"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "Pellora is not running\n");
}

TEST_F(SecondLaunch, WhenNothingAnswersItSaysPelloraIsRunningAndExits) {
    std::filesystem::create_directories(lockFile.parent_path());
    // This process holds the lock and answers nothing on the bus.
    auto held = InstanceLock::acquire(lockFile);
    ASSERT_EQ(held.outcome(), InstanceLock::Outcome::acquired);

    pid_t second = launchSimulated(dir.path(), bus.address(), dir.path() / "second.err");
    EXPECT_EQ(exitStatusWithin(second, 3), 0);
    EXPECT_TRUE(has(
        readAll(dir.path() / "second.err"),
        "Pellora is already running (pid " + std::to_string(::getpid()) + "); this launch exits"))
        << readAll(dir.path() / "second.err");
    EXPECT_FALSE(std::filesystem::exists(log));
}

// A Pellora that keeps its lock in another place (a version from before the lock moved, still
// running across an upgrade) owns the desktop's name: a launch of this version meets it there.
TEST_F(SecondLaunch, ARunWhoseLockIsElsewhereIsMetByItsName) {
    int activations = 0;
    auto running = DBusSingleInstance::create(kName, nullptr, bus.connect("running"));
    running->serve([&activations] { ++activations; });
    ASSERT_TRUE(runEventsUntil([&] { return running->ownsName(); }, 5000));

    const std::string address = bus.address().toStdString();
    const std::string home = dir.path().string();
    pid_t second = launchProgram(PELLORA_BINARY, {}, dir.path(), dir.path() / "second.err", [&] {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            ::unsetenv(variable);
        }
    });
    int status = -1;
    bool ended = false;
    runEventsUntil([&] { return ended = ended || ::waitpid(second, &status, WNOHANG) == second; },
                   5000);
    if (!ended) {
        ::kill(second, SIGTERM);
        exitStatusWithin(second, 20);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "both run, over the same files";
    EXPECT_EQ(activations, 1);
    EXPECT_TRUE(has(readAll(dir.path() / "second.err"),
                    "Pellora is already running (pid " + std::to_string(::getpid()) +
                        "); brought it forward, this launch exits"))
        << readAll(dir.path() / "second.err");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / ".local/share/Pellora/debug.log"));
}

// An autostart that fired before the display was up runs off screen, with nothing to bring
// forward or open: starting Pellora again from the desktop, as its log line says to, must give
// a Pellora that shows itself, not "brought it forward" and nothing on screen.
TEST_F(SecondLaunch, AnOffScreenRunGivesWayToALaunchThatCanShowItself) {
    QDBusConnection watch = bus.connect("watch");
    const std::string address = bus.address().toStdString();
    pid_t first = launchProgram(PELLORA_BINARY, {"--simulate", "--data-dir", dir.path().string()},
                                dir.path(), dir.path() / "first.err", [&] {
                                    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
                                    ::unsetenv("QT_QPA_PLATFORM");
                                    ::unsetenv("DISPLAY");
                                    ::unsetenv("WAYLAND_DISPLAY");
                                });
    ASSERT_GT(first, 0);
    const bool up = within(20, [&] {
        return has(readAll(log), "running off screen") &&
               watch.interface()->isServiceRegistered(name).value();
    });
    pid_t second = -1;
    if (up) {
        // There is no window to open: a script must not be told done.
        EXPECT_TRUE(within(10, [&] {
            return ctl(bus, {"--data-dir", dir.path().string(), "status"}).status == 0;
        }));
        Ctl prefs = ctl(bus, {"--data-dir", dir.path().string(), "prefs"});
        EXPECT_EQ(prefs.status, 3);
        EXPECT_TRUE(has(prefs.err, "off screen")) << prefs.err;
        // The launcher's entry, from within the session.
        second = launchSimulated(dir.path(), bus.address(), dir.path() / "second.err");
        EXPECT_EQ(exitStatusWithin(first, 15), 0) << "the off-screen run is still there";
        first = -1;
        EXPECT_FALSE(has(readAll(dir.path() / "second.err"), "brought it forward"))
            << readAll(dir.path() / "second.err");
        EXPECT_TRUE(within(10, [&] {
            const std::string text = readAll(log);
            return text.find("Launching. Bundle") != text.rfind("Launching. Bundle") &&
                   watch.interface()->isServiceRegistered(name).value();
        })) << readAll(dir.path() / "second.err");
        if (::waitpid(second, nullptr, WNOHANG) != 0) {
            ADD_FAILURE() << "the second launch ended";
            second = -1;
        }
    }
    for (pid_t child : {first, second}) {
        if (child > 0) {
            ::kill(child, SIGTERM);
            EXPECT_EQ(exitStatusWithin(child, 20), 0);
        }
    }
    ASSERT_TRUE(up) << readAll(dir.path() / "first.err");
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
    commaLocaleDir();  // made once, before the clock starts
    QElapsedTimer timer;
    timer.start();
    Ctl late = ctl(bus, {"snapshot"});
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.err, "Pellora did not answer within 2 s\n");
    EXPECT_LT(timer.elapsed(), 3000);
}

}  // namespace
}  // namespace pellora::test
