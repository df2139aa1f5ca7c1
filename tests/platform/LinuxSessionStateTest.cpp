#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QVariant>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "VirtualClock.h"
#include "platform/linux/LinuxSessionState.h"

namespace pellora::test {
namespace {

const QString kMock = "org.freedesktop.DBus.Mock";

QCoreApplication& app() {
    return qtApp();
}

bool callMock(QDBusConnection& bus, const QString& service, const QString& path,
              const QString& interface, const QString& method, const QVariantList& args) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    auto reply = bus.call(message, QDBus::Block, 5000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.type() == QDBusMessage::ReplyMessage;
}

// Runs the event loop until `done` or half a second has passed.
template <typename F>
bool spinUntil(F done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 500) {
        app().processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

struct SessionBuses : ::testing::Test {
    void SetUp() override {
        app();
        ASSERT_TRUE(system.ok() && session.ok()) << "dbus-daemon could not be started";
    }
    PrivateDBus system;
    PrivateDBus session;
    VirtualClock clock{1718960400.0};
};

TEST_F(SessionBuses, LogindLockedHintGivesStateAndNotices) {
    ASSERT_TRUE(system.startMock({"--system", "--template", "logind"}, "org.freedesktop.login1"));
    auto bus = system.connect("control");
    ASSERT_TRUE(callMock(bus, "org.freedesktop.login1", "/org/freedesktop/login1", kMock,
                         "AddSession",
                         {QString("c7"), QString("seat0"), uint(1000), QString("desk"), true}));

    LinuxSessionState state(clock, system.connect("system"), session.connect("session"), "c7");
    EXPECT_FALSE(state.isScreenLocked());
    std::vector<bool> notices;
    state.setLockHandler([&](bool locked) { notices.push_back(locked); });

    const QString sessionPath = "/org/freedesktop/login1/session/c7";
    ASSERT_TRUE(callMock(bus, "org.freedesktop.login1", sessionPath,
                         "org.freedesktop.login1.Session", "SetLockedHint", {true}));
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 1; }));
    EXPECT_TRUE(notices[0]);
    EXPECT_TRUE(state.isScreenLocked());

    ASSERT_TRUE(callMock(bus, "org.freedesktop.login1", sessionPath,
                         "org.freedesktop.login1.Session", "SetLockedHint", {false}));
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 2; }));
    EXPECT_FALSE(notices[1]);
    EXPECT_FALSE(state.isScreenLocked());
}

TEST_F(SessionBuses, ScreenSaverActiveChangedStandsInWithoutLogind) {
    ASSERT_TRUE(session.startMock({"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                   "org.freedesktop.ScreenSaver"},
                                  "org.freedesktop.ScreenSaver"));
    auto bus = session.connect("control");
    ASSERT_TRUE(callMock(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", kMock,
                         "AddMethod",
                         {QString("org.freedesktop.ScreenSaver"), QString("GetActive"), QString(""),
                          QString("b"), QString("ret = True")}));

    LinuxSessionState state(clock, system.connect("system"), session.connect("session"), "c7");
    EXPECT_TRUE(state.isScreenLocked());
    std::vector<bool> notices;
    state.setLockHandler([&](bool locked) { notices.push_back(locked); });
    ASSERT_TRUE(callMock(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", kMock,
                         "EmitSignal",
                         {QString("org.freedesktop.ScreenSaver"), QString("ActiveChanged"),
                          QString("b"), QVariantList{false}}));
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 1; }));
    EXPECT_FALSE(notices[0]);
}

TEST_F(SessionBuses, NothingAnsweringMeansUnlockedAndNoIdleTime) {
    LinuxSessionState state(clock, system.connect("system"), session.connect("session"), "c7");
    EXPECT_FALSE(state.isScreenLocked());
    EXPECT_EQ(state.idleSeconds(), std::nullopt);
    EXPECT_EQ(state.idleSource(), "");
}

TEST_F(SessionBuses, IdleTimeComesFromTheFirstSourceThatAnswers) {
    ASSERT_TRUE(system.startMock({"--system", "--template", "logind"}, "org.freedesktop.login1"));
    auto systemControl = system.connect("control");
    ASSERT_TRUE(callMock(systemControl, "org.freedesktop.login1", "/org/freedesktop/login1", kMock,
                         "AddSession",
                         {QString("c7"), QString("seat0"), uint(1000), QString("desk"), true}));
    LinuxSessionState state(clock, system.connect("system"), session.connect("session"), "c7");

    // logind alone: not idle.
    EXPECT_EQ(state.idleSeconds(), 0.0);
    EXPECT_EQ(state.idleSource(), "logind");
    // logind saying idle since 120 s ago.
    const QString sessionPath = "/org/freedesktop/login1/session/c7";
    ASSERT_TRUE(callMock(
        systemControl, "org.freedesktop.login1", sessionPath, kMock, "UpdateProperties",
        {QString("org.freedesktop.login1.Session"),
         QVariantMap{
             {"IdleHint", true},
             {"IdleSinceHint", QVariant::fromValue(qulonglong((clock.now() - 120) * 1e6))}}}));
    ASSERT_TRUE(state.idleSeconds().has_value());
    EXPECT_NEAR(*state.idleSeconds(), 120.0, 0.01);

    // The freedesktop screen saver comes before logind.
    ASSERT_TRUE(session.startMock({"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                   "org.freedesktop.ScreenSaver"},
                                  "org.freedesktop.ScreenSaver"));
    auto sessionControl = session.connect("control");
    ASSERT_TRUE(callMock(sessionControl, "org.freedesktop.ScreenSaver",
                         "/org/freedesktop/ScreenSaver", kMock, "AddMethod",
                         {QString("org.freedesktop.ScreenSaver"), QString("GetSessionIdleTime"),
                          QString(""), QString("u"), QString("ret = 42")}));
    EXPECT_EQ(state.idleSeconds(), 42.0);
    EXPECT_EQ(state.idleSource(), "screensaver");

    // Mutter's idle monitor comes first of all, and counts in milliseconds.
    ASSERT_TRUE(
        session.startMock({"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                           "org.gnome.Mutter.IdleMonitor"},
                          "org.gnome.Mutter.IdleMonitor"));
    ASSERT_TRUE(callMock(sessionControl, "org.gnome.Mutter.IdleMonitor",
                         "/org/gnome/Mutter/IdleMonitor/Core", kMock, "AddMethod",
                         {QString("org.gnome.Mutter.IdleMonitor"), QString("GetIdletime"),
                          QString(""), QString("t"), QString("ret = 1500")}));
    EXPECT_EQ(state.idleSeconds(), 1.5);
    EXPECT_EQ(state.idleSource(), "mutter");
}

}  // namespace
}  // namespace pellora::test
