// One Pellora per user: the running one answers on the session bus, a second launch asks it
// to show its window and exits. The bus class on a bus of the test's own, then the program.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QRegularExpression>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

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

    // A second launch, from its own connection.
    EXPECT_TRUE(DBusSingleInstance::create(kName, nullptr, bus.connect("second"))
                    ->activateRunning(DBusSingleInstance::kMaxWaitSeconds));
    EXPECT_EQ(activations, 1);
    // The desktop's launcher may open files or run actions: each brings Pellora forward.
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
    EXPECT_EQ(activations, 4);

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

TEST(SecondLaunch, AsksTheRunningOneForItsWindowAndExits) {
    qtApp();
    // The program's own bus, so that the test needs no desktop session around it.
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    TempDir dir;
    const auto log = dir.path() / "data" / "Pellora" / "debug.log";
    const QString name =
        DBusSingleInstance::nameForLock(kName, dir.path() / "runtime" / "instance.lock");
    QDBusConnection watch = bus.connect("watch");

    pid_t first = launchSimulated(dir.path(), bus.address(), dir.path() / "first.err");
    ASSERT_GT(first, 0);
    const bool up = within(20, [&] {
        return readAll(log).find("Launching.") != std::string::npos &&
               watch.interface()->isServiceRegistered(name).value();
    });
    if (up) {
        pid_t second = launchSimulated(dir.path(), bus.address(), dir.path() / "second.err");
        EXPECT_EQ(exitStatusWithin(second, 3), 0);
        EXPECT_NE(readAll(dir.path() / "second.err")
                      .find("Pellora is already running (pid " + std::to_string(first) +
                            "); brought it forward, this launch exits"),
                  std::string::npos)
            << readAll(dir.path() / "second.err");
        EXPECT_TRUE(within(5, [&] {
            return readAll(log).find("Activated by a second launch") != std::string::npos;
        }));
    }
    ::kill(first, SIGTERM);
    EXPECT_EQ(exitStatusWithin(first, 20), 0);
    ASSERT_TRUE(up) << readAll(dir.path() / "first.err");
    // The second launch wrote nothing of its own into the running one's files.
    EXPECT_EQ(readAll(log).find("Launching. Bundle"), readAll(log).rfind("Launching. Bundle"));
}

TEST(SecondLaunch, WhenNothingAnswersItSaysPelloraIsRunningAndExits) {
    qtApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "runtime");
    // This process holds the lock and answers nothing on the bus.
    auto held = InstanceLock::acquire(dir.path() / "runtime" / "instance.lock");
    ASSERT_EQ(held.outcome(), InstanceLock::Outcome::acquired);

    pid_t second = launchSimulated(dir.path(), bus.address(), dir.path() / "second.err");
    EXPECT_EQ(exitStatusWithin(second, 3), 0);
    EXPECT_NE(readAll(dir.path() / "second.err")
                  .find("Pellora is already running (pid " + std::to_string(::getpid()) +
                        "); this launch exits"),
              std::string::npos)
        << readAll(dir.path() / "second.err");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Pellora" / "debug.log"));
}

}  // namespace
}  // namespace pellora::test
