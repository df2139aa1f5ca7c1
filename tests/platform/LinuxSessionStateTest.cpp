#include "platform/linux/LinuxSessionState.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <future>
#include <thread>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "VirtualClock.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/UniqueFd.h"

namespace pellora::test {
namespace {

const QString kMock = "org.freedesktop.DBus.Mock";
const QString kLogind = "org.freedesktop.login1";
const QString kSession = "/org/freedesktop/login1/session/c7";
const QString kScreenSaver = "org.freedesktop.ScreenSaver";
const QString kScreenSaverPath = "/org/freedesktop/ScreenSaver";

struct SessionBuses : ::testing::Test {
    PrivateDBus system, session;
    VirtualClock clock;
    std::unique_ptr<ManualQueue> sessionQueue = clock.makeQueue("pellora.session");
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    std::vector<bool> notices;

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
    bool setLockedHint(bool locked) {
        return call(system, kLogind, kSession, kLogind + ".Session", "SetLockedHint", {locked});
    }
    // A session service whose `method` returns `ret` as the python `code` sets it.
    bool sessionService(const QString& service, const QString& path, const QString& method,
                        const QString& signature, const QString& code, bool started = false) {
        return (started || session.startMock({service, path, service}, service)) &&
               call(session, service, path, kMock, "AddMethod",
                    {service, method, QString(""), signature, code});
    }
    std::shared_ptr<LinuxSessionState> watched() {
        auto state =
            LinuxSessionState::create(clock, *sessionQueue, *main, system.connect("system"),
                                      session.connect("session"), "c7");
        state->setLockHandler([this](bool locked) {
            EXPECT_TRUE(main->isCurrent());
            notices.push_back(locked);
        });
        return state;
    }
    bool noticesReach(std::size_t count) {
        return runEventsUntil([&] { return notices.size() >= count; }, 2000,
                              [&] { clock.runPending(); }) &&
               notices.size() == count;
    }
    // The idle time, checked to come on the main queue and not inline.
    std::optional<double> idle(LinuxSessionState& state) {
        std::optional<std::optional<double>> answer;
        state.idleSeconds([&](std::optional<double> seconds) {
            EXPECT_TRUE(main->isCurrent() && !sessionQueue->isCurrent());
            answer = seconds;
        });
        EXPECT_FALSE(answer) << "answered inline";
        EXPECT_TRUE(
            runEventsUntil([&] { return answer.has_value(); }, 2000, [&] { clock.runPending(); }));
        return answer.value_or(std::nullopt);
    }
};

// logind's LockedHint gives the state and its changes; its PrepareForSleep(false), said once
// the machine is awake, runs the resume handler on main.
TEST_F(SessionBuses, LogindWakeAndLockedHintReachMainUntilTheServiceIsGone) {
    ASSERT_TRUE(startLogind());
    ASSERT_TRUE(setLockedHint(true));
    auto state = watched();
    int resumes = 0;
    state->setResumeHandler([&] {
        EXPECT_TRUE(main->isCurrent());
        ++resumes;
    });
    EXPECT_FALSE(state->isScreenLocked());  // not known yet
    ASSERT_TRUE(noticesReach(1));           // the state found at start comes first
    EXPECT_TRUE(notices[0] && state->isScreenLocked());
    for (bool locked : {false, true}) {
        ASSERT_TRUE(setLockedHint(locked));
        ASSERT_TRUE(noticesReach(notices.size() + 1));
        EXPECT_TRUE(notices.back() == locked && state->isScreenLocked() == locked);
    }
    for (bool sleeping : {true, false}) {
        ASSERT_TRUE(call(system, kLogind, "/org/freedesktop/login1", kMock, "EmitSignal",
                         {kLogind + ".Manager", QString("PrepareForSleep"), QString("b"),
                          QVariantList{sleeping}}));
    }
    ASSERT_TRUE(runEventsUntil([&] { return resumes > 0; }, 2000, [&] { clock.runPending(); }));
    EXPECT_EQ(resumes, 1);
    // Answers that arrive once their asker is gone reach nobody.
    auto gone = watched();
    gone->idleSeconds([&](std::optional<double>) { notices.push_back(true); });
    sessionQueue->sync([] {});  // both looks are done; their answers wait on main
    gone.reset();
    clock.advance(LinuxSessionState::kIdleAnswerLimit);
    EXPECT_EQ(notices.size(), 3u) << "neither the wake nor the gone asker is a lock notice";
}

// Started outside a login session's environment (no XDG_SESSION_ID, as under a systemd user
// unit), logind is asked through its "auto" alias of the caller's session, but announces that
// session's changes under its own path.
TEST_F(SessionBuses, WithoutASessionIdTheLockIsStillHeard) {
    ASSERT_TRUE(startLogind());
    ASSERT_TRUE(call(system, kLogind, "/org/freedesktop/login1", kMock, "AddSession",
                     {QString("auto"), QString("seat0"), uint(1000), QString("desk"), true}));
    ASSERT_TRUE(call(system, kLogind, "/org/freedesktop/login1/session/auto", kMock,
                     "UpdateProperties",
                     {kLogind + ".Session", QVariantMap{{"Id", QString("c7")}}}));
    const QByteArray saved = qgetenv("XDG_SESSION_ID");
    qunsetenv("XDG_SESSION_ID");
    auto state = LinuxSessionState::create(clock, *sessionQueue, *main, system.connect("system"),
                                           session.connect("session"), "");
    if (!saved.isNull()) {
        qputenv("XDG_SESSION_ID", saved);
    }
    state->setLockHandler([this](bool locked) { notices.push_back(locked); });
    ASSERT_TRUE(noticesReach(1));
    sessionQueue->sync([] {});  // the second look, after subscribing, is done
    clock.runPending();
    ASSERT_TRUE(setLockedHint(true));
    EXPECT_TRUE(noticesReach(2) && state->isScreenLocked()) << "the lock went unheard";
}

// Subscribing waits for no answer of the bus daemon (Qt asks it for the owner of a name given
// to connect(), on the calling thread); and a signal counts only from logind, since anyone on
// the bus may send one.
TEST_F(SessionBuses, SubscribingWaitsForNoDaemonAndOnlyLogindIsHeeded) {
    ASSERT_TRUE(startLogind());
    auto state = watched();
    sessionQueue->sync([] {});  // the look is done: subscribing waits on main
    const auto daemon = pid_t(system.daemonPid());
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    std::promise<void> resumed;
    std::thread unstop([&, done = resumed.get_future()] {
        done.wait_for(std::chrono::seconds(3));
        ::kill(daemon, SIGCONT);
    });
    QElapsedTimer timer;
    timer.start();
    int resumes = 0;
    state->setResumeHandler([&] { ++resumes; });
    main->sync([] {});
    const qint64 subscribing = timer.elapsed();
    resumed.set_value();
    unstop.join();
    EXPECT_LT(subscribing, 500) << "main waited for the stopped bus daemon";
    ASSERT_TRUE(noticesReach(1));

    auto stranger = system.connect("stranger");
    auto lie = QDBusMessage::createSignal(kSession, "org.freedesktop.DBus.Properties",
                                          "PropertiesChanged");
    lie << kLogind + ".Session" << QVariantMap{{"LockedHint", true}} << QStringList{};
    auto wake = QDBusMessage::createSignal("/org/freedesktop/login1", kLogind + ".Manager",
                                           "PrepareForSleep");
    wake << false;
    auto takeover = QDBusMessage::createSignal("/org/freedesktop/DBus", "org.freedesktop.DBus",
                                               "NameOwnerChanged");
    takeover << kLogind << QString() << stranger.baseService();
    ASSERT_TRUE(stranger.send(takeover) && stranger.send(lie) && stranger.send(wake));
    // Answered after both went out on the same connection, so both have been passed on.
    ASSERT_TRUE(stranger.interface()->serviceOwner(kLogind).isValid());
    ASSERT_TRUE(setLockedHint(true));
    ASSERT_TRUE(noticesReach(2)) << notices.size() << " notices";
    EXPECT_TRUE(notices[1] && state->isScreenLocked());
    EXPECT_EQ(resumes, 0);
}

TEST_F(SessionBuses, ScreenSaverActiveChangedStandsInWithoutLogind) {
    ASSERT_TRUE(sessionService(kScreenSaver, kScreenSaverPath, "GetActive", "b", "ret = True"));
    auto state = watched();
    ASSERT_TRUE(noticesReach(1));
    EXPECT_TRUE(notices[0]);
    auto stranger = session.connect("stranger");  // not the screen saver: unheard
    auto lie = QDBusMessage::createSignal(kScreenSaverPath, kScreenSaver, "ActiveChanged");
    ASSERT_TRUE(stranger.send(lie << true));
    ASSERT_TRUE(stranger.interface()->serviceOwner(kScreenSaver).isValid());
    ASSERT_TRUE(call(session, kScreenSaver, kScreenSaverPath, kMock, "EmitSignal",
                     {kScreenSaver, QString("ActiveChanged"), QString("b"), QVariantList{false}}));
    ASSERT_TRUE(noticesReach(2));
    EXPECT_FALSE(notices[1] || state->isScreenLocked());
}

TEST_F(SessionBuses, IdleTimeComesFromTheFirstSourceThatAnswers) {
    auto state = watched();
    ASSERT_TRUE(noticesReach(1));  // nothing answers: unlocked, no idle time
    EXPECT_FALSE(notices[0]);
    EXPECT_EQ(idle(*state), std::nullopt);
    ASSERT_TRUE(startLogind());
    EXPECT_EQ(idle(*state), 0.0);  // logind alone: not idle
    EXPECT_EQ(state->idleSource(), "logind");
    const auto since = QVariant::fromValue(qulonglong((clock.now() - 120) * 1e6));
    ASSERT_TRUE(
        call(system, kLogind, kSession, kMock, "UpdateProperties",
             {kLogind + ".Session", QVariantMap{{"IdleHint", true}, {"IdleSinceHint", since}}}));
    EXPECT_NEAR(idle(*state).value_or(-1), 120.0, 0.01);

    // The freedesktop screen saver comes before logind; an answer of the wrong type is none.
    ASSERT_TRUE(
        sessionService(kScreenSaver, kScreenSaverPath, "GetSessionIdleTime", "s", "ret = '42'"));
    EXPECT_NEAR(idle(*state).value_or(-1), 120.0, 0.01);
    ASSERT_TRUE(sessionService(kScreenSaver, kScreenSaverPath, "GetSessionIdleTime", "u",
                               "ret = 42", /*started=*/true));
    EXPECT_EQ(idle(*state), 42.0);

    // Mutter's idle monitor comes first of all, and counts in milliseconds.
    ASSERT_TRUE(sessionService("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                               "GetIdletime", "t", "ret = 1500"));
    EXPECT_EQ(idle(*state), 1.5);
    EXPECT_EQ(state->idleSource(), "mutter");
}

// A service that takes the call and never answers: the main thread keeps turning while the
// session queue waits out the call's bound, and the next source answers.
TEST_F(SessionBuses, SilentServiceHoldsUpNeitherMainNorTheChain) {
    ASSERT_TRUE(sessionService("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                               "GetIdletime", "t", "__import__('time').sleep(30); ret = 1"));
    ASSERT_TRUE(
        sessionService(kScreenSaver, kScreenSaverPath, "GetSessionIdleTime", "u", "ret = 42"));
    SystemClock systemClock;
    QtMainQueue realMain(systemClock);
    SerialQueue realSession("pellora.session", systemClock);
    auto state = LinuxSessionState::create(clock, realSession, realMain, system.connect("system"),
                                           session.connect("session"), "c7");
    std::optional<double> answer;
    const auto mainThread = std::this_thread::get_id();
    QElapsedTimer timer, sinceTurn;
    timer.start();
    state->idleSeconds([&](std::optional<double> seconds) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        answer = seconds;
    });
    EXPECT_LT(timer.elapsed(), 100);
    qint64 longestTurn = 0;
    sinceTurn.start();
    while (!answer && timer.elapsed() < 3000) {
        qtApp().processEvents(QEventLoop::AllEvents, 10);
        longestTurn = std::max(longestTurn, sinceTurn.restart());
    }
    EXPECT_EQ(answer, 42.0);
    EXPECT_EQ(state->idleSource(), "screensaver");
    EXPECT_GE(timer.elapsed(), SessionProbe::kCallTimeoutMs - 50);  // mutter was waited for
    EXPECT_LT(longestTurn, 250);
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

// An X server that takes the connection and never speaks: the idle answer still comes, empty,
// at the limit. No bus is needed, nor any child process.
TEST(LinuxSessionStateX11, SilentServerIsCutOffAtTheLimit) {
    // As in Pellora's main: Xlib's write to the closed listener must fail, not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    int display = 400;
    for (; display < 500; ++display) {  // Xlib tries the abstract name first
        int n = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                              "/tmp/.X11-unix/X%d", display);
        auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + n);
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), size) == 0) {
            break;
        }
    }
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    pollfd caller{listener.get(), POLLIN, 0};
    SystemClock systemClock;
    VirtualClock clock;
    auto main = clock.makeQueue("main", true);
    SerialQueue realSession("pellora.session", systemClock);
    auto state =
        LinuxSessionState::create(clock, realSession, *main, QDBusConnection("none"),
                                  QDBusConnection("none"), "c7", ":" + std::to_string(display));
    int answers = 0;
    state->idleSeconds([&](std::optional<double> seconds) {
        EXPECT_EQ(seconds, std::nullopt);
        ++answers;
    });
    ASSERT_EQ(::poll(&caller, 1, 2000), 1);  // Xlib has called and waits to hear back
    clock.advance(LinuxSessionState::kIdleAnswerLimit - 0.01);
    EXPECT_EQ(answers, 0);
    clock.advance(0.01);
    EXPECT_EQ(answers, 1);
    listener.reset();  // Xlib gives up, and its late answer finds the question closed
    realSession.sync([] {});
    clock.runPending();
    EXPECT_EQ(answers, 1);
}

}  // namespace
}  // namespace pellora::test
