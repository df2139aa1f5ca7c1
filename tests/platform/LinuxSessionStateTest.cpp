#include "platform/linux/LinuxSessionState.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

const QString kMock = "org.freedesktop.DBus.Mock";
const QString kLogind = "org.freedesktop.login1";
const QString kSession = "/org/freedesktop/login1/session/c7";
const QString kScreenSaver = "org.freedesktop.ScreenSaver";
const QString kScreenSaverPath = "/org/freedesktop/ScreenSaver";

struct SessionBuses : ::testing::Test {
    void SetUp() override {
        qtApp();
        ASSERT_TRUE(system.ok() && session.ok()) << "dbus-daemon could not be started";
    }

    bool call(PrivateDBus& bus, const QString& service, const QString& path,
              const QString& interface, const QString& method, const QVariantList& args) {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        auto reply = bus.connect("control").call(message, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.type() == QDBusMessage::ReplyMessage;
    }
    // logind with session c7 on the system bus.
    bool startLogind() {
        return system.startMock({"--system", "--template", "logind"}, kLogind) &&
               call(system, kLogind, "/org/freedesktop/login1", kMock, "AddSession",
                    {QString("c7"), QString("seat0"), uint(1000), QString("desk"), true});
    }
    // A mocked session service whose `method` returns `value` of D-Bus type `signature`.
    bool startSessionService(const QString& service, const QString& path, const QString& method,
                             const QString& signature, const QString& value) {
        return session.startMock({service, path, service}, service) &&
               call(session, service, path, kMock, "AddMethod",
                    {service, method, QString(""), signature, "ret = " + value});
    }
    std::unique_ptr<LinuxSessionState> makeState() {
        return std::make_unique<LinuxSessionState>(clock, system.connect("system"),
                                                   session.connect("session"), "c7");
    }
    // Runs the event loop until `count` notices came or half a second has passed.
    bool noticesReach(std::size_t count) {
        QElapsedTimer timer;
        timer.start();
        while (notices.size() < count && timer.elapsed() < 500) {
            qtApp().processEvents(QEventLoop::AllEvents, 20);
        }
        return notices.size() == count;
    }

    PrivateDBus system;
    PrivateDBus session;
    VirtualClock clock;
    std::vector<bool> notices;
};

TEST_F(SessionBuses, LogindLockedHintGivesStateAndNotices) {
    ASSERT_TRUE(startLogind());
    auto state = makeState();
    EXPECT_FALSE(state->isScreenLocked());
    state->setLockHandler([&](bool locked) { notices.push_back(locked); });
    for (bool locked : {true, false}) {
        ASSERT_TRUE(
            call(system, kLogind, kSession, kLogind + ".Session", "SetLockedHint", {locked}));
        ASSERT_TRUE(noticesReach(locked ? 1 : 2));
        EXPECT_EQ(notices.back(), locked);
        EXPECT_EQ(state->isScreenLocked(), locked);
    }
}

TEST_F(SessionBuses, ScreenSaverActiveChangedStandsInWithoutLogind) {
    ASSERT_TRUE(startSessionService(kScreenSaver, kScreenSaverPath, "GetActive", "b", "True"));
    auto state = makeState();
    EXPECT_TRUE(state->isScreenLocked());
    state->setLockHandler([&](bool locked) { notices.push_back(locked); });
    ASSERT_TRUE(call(session, kScreenSaver, kScreenSaverPath, kMock, "EmitSignal",
                     {kScreenSaver, QString("ActiveChanged"), QString("b"), QVariantList{false}}));
    ASSERT_TRUE(noticesReach(1));
    EXPECT_FALSE(notices[0]);
}

TEST_F(SessionBuses, IdleTimeComesFromTheFirstSourceThatAnswers) {
    auto state = makeState();
    EXPECT_FALSE(state->isScreenLocked());  // nothing answers: unlocked, no idle time
    EXPECT_EQ(state->idleSeconds(), std::nullopt);
    EXPECT_EQ(state->idleSource(), "");

    ASSERT_TRUE(startLogind());
    EXPECT_EQ(state->idleSeconds(), 0.0);  // logind alone: not idle
    EXPECT_EQ(state->idleSource(), "logind");
    ASSERT_TRUE(call(system, kLogind, kSession, kMock, "UpdateProperties",
                     {kLogind + ".Session",
                      QVariantMap{{"IdleHint", true},
                                  {"IdleSinceHint",
                                   QVariant::fromValue(qulonglong((clock.now() - 120) * 1e6))}}}));
    EXPECT_NEAR(state->idleSeconds().value_or(-1), 120.0, 0.01);

    // The freedesktop screen saver comes before logind.
    ASSERT_TRUE(
        startSessionService(kScreenSaver, kScreenSaverPath, "GetSessionIdleTime", "u", "42"));
    EXPECT_EQ(state->idleSeconds(), 42.0);
    EXPECT_EQ(state->idleSource(), "screensaver");

    // Mutter's idle monitor comes first of all, and counts in milliseconds.
    ASSERT_TRUE(startSessionService("org.gnome.Mutter.IdleMonitor",
                                    "/org/gnome/Mutter/IdleMonitor/Core", "GetIdletime", "t",
                                    "1500"));
    EXPECT_EQ(state->idleSeconds(), 1.5);
    EXPECT_EQ(state->idleSource(), "mutter");
}

// Xlib would end the process when the server goes away; the idle time just goes missing
// until a server is back under the same name.
TEST(LinuxSessionStateX11, ServerThatGoesAwayCostsOnlyTheAnswer) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        GTEST_SKIP() << "no Xvfb";
    }
    qtApp();
    QProcess server;
    auto startServer = [&](QStringList display) {
        server.start("Xvfb", display + QStringList{"-displayfd", "1", "-nolisten", "tcp"});
        server.waitForReadyRead(5000);
        return QString::fromUtf8(server.readLine()).trimmed();
    };
    QString number = startServer({});
    ASSERT_FALSE(number.isEmpty());
    X11IdleTime x11(":" + number.toStdString());
    EXPECT_GE(x11.idleSeconds().value_or(-1), 0.0);
    server.terminate();
    server.waitForFinished(5000);
    EXPECT_EQ(x11.idleSeconds(), std::nullopt);
    EXPECT_EQ(x11.idleSeconds(), std::nullopt);
    ASSERT_EQ(startServer({":" + number}), number);
    EXPECT_GE(x11.idleSeconds().value_or(-1), 0.0);
    server.terminate();
    server.waitForFinished(5000);
}

}  // namespace
}  // namespace pellora::test
