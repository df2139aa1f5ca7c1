// Start at login from a sandbox: the desktop portal's Background request, with the portal
// played by python3-dbusmock on a private bus.

#include "platform/linux/PortalAutostart.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <csignal>
#include <future>
#include <optional>
#include <thread>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "VirtualClock.h"

namespace pellora::test {
namespace {

const QString kPortal = "org.freedesktop.portal.Desktop";
const QString kPortalPath = "/org/freedesktop/portal/desktop";

struct PortalAutostartTest : ::testing::Test {
    QCoreApplication& app = qtApp();
    PrivateDBus bus;
    QDBusConnection client = bus.connect("pellora");
    TempDir dir;
    std::filesystem::path record = dir / "config" / "Pellora" / "start-at-login";
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    std::unique_ptr<ManualQueue> work = clock.makeQueue("pellora.login");
    std::shared_ptr<PortalAutostart> portal = PortalAutostart::create(record, *work, *main, client);

    bool startPortal() {
        return bus.startMock(
            {"--template", PELLORA_TEST_DATA "/background_portal.py", "--parameters",
             QString("{\"sender\": \"%1\"}").arg(client.baseService())},
            kPortal);
    }
    void answerWith(const QString& property, const QVariant& value) {
        auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath,
                                                   "org.freedesktop.DBus.Properties", "Set");
        call << "org.pellora.TestPortal" << property << QVariant::fromValue(QDBusVariant(value));
        ASSERT_EQ(client.call(call, QDBus::Block, 5000).type(), QDBusMessage::ReplyMessage);
    }
    // What the portal was asked, call by call (see background_portal.py).
    std::string asked() {
        auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath,
                                                   "org.freedesktop.DBus.Properties", "Get");
        call << "org.pellora.TestPortal"
             << "Asked";
        QDBusMessage reply = client.call(call, QDBus::Block, 5000);
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString().toStdString();
    }
    LoginItem::Outcome set(bool enabled) {
        std::optional<LoginItem::Outcome> got;
        portal->setEnabled(enabled, [&](LoginItem::Outcome outcome) { got = outcome; });
        runEventsUntil([&] { return got.has_value(); }, 5000, [&] { clock.runPending(); });
        EXPECT_TRUE(got);
        clock.runPending();
        return got.value_or(LoginItem::Outcome{});
    }
    LoginItem::State read() {
        std::optional<LoginItem::State> got;
        portal->read([&](LoginItem::State state) { got = state; });
        clock.runPending();
        EXPECT_TRUE(got);
        return got.value_or(LoginItem::State{});
    }
};

TEST_F(PortalAutostartTest, AsksThePortalAndKeepsItsAnswerForLaterRuns) {
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(startPortal());
    EXPECT_FALSE(read().enabled);

    auto on = set(true);
    EXPECT_TRUE(on.ok && on.enabled) << on.detail;
    EXPECT_EQ(on.detail, "The desktop portal will start Pellora at login");
    EXPECT_EQ(asked(), "a1d0;");
    EXPECT_EQ(readFile(record), "autostart=true\n");
    portal = PortalAutostart::create(record, *work, *main, client);  // a later run
    EXPECT_TRUE(read().enabled);

    auto off = set(false);
    EXPECT_TRUE(off.ok && !off.enabled) << off.detail;
    EXPECT_EQ(asked(), "a1d0;a0d0;");
    EXPECT_FALSE(read().enabled);
}

TEST_F(PortalAutostartTest, ARefusalOrNoPortalIsAFailureThatNamesWhy) {
    ASSERT_TRUE(bus.ok());
    auto none = set(true);
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.detail.find("No desktop portal took the request"), std::string::npos)
        << none.detail;

    ASSERT_TRUE(startPortal());
    const std::tuple<QString, QVariant, std::string> cases[] = {
        {"Autostart", "false", "The desktop did not allow Pellora to start at login"},
        {"Response", 1u, "The request to the desktop portal was cancelled"},
        {"Response", 2u, "The desktop portal refused the request"},
    };
    for (const auto& [property, value, detail] : cases) {
        answerWith(property, value);
        auto outcome = set(true);
        EXPECT_FALSE(outcome.ok) << detail;
        EXPECT_EQ(outcome.detail, detail);
        EXPECT_FALSE(read().enabled) << detail;
    }
    // A garbled record reads as off, and says so.
    writeFile(record, "yes please");
    auto state = read();
    EXPECT_FALSE(state.enabled);
    EXPECT_NE(state.problem.find(record.string()), std::string::npos);
}

TEST_F(PortalAutostartTest, APortalThatNeverAnswersTimesOutAndOneRequestWaitsAtATime) {
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(startPortal());
    answerWith("Silent", true);
    std::optional<LoginItem::Outcome> first, second;
    // Nothing waits for the session bus's daemon, stopped here.
    const auto daemon = pid_t(bus.daemonPid());
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    std::promise<void> resumed;
    std::thread unstop([daemon, done = resumed.get_future()] {
        done.wait_for(std::chrono::seconds(3));
        ::kill(daemon, SIGCONT);
    });
    portal->setEnabled(true, [&](LoginItem::Outcome outcome) { first = outcome; });
    portal->setEnabled(false, [&](LoginItem::Outcome outcome) { second = outcome; });
    const qint64 asking = timer.elapsed();
    resumed.set_value();
    unstop.join();
    EXPECT_LT(asking, 500) << "main waited for the stopped bus daemon";
    // The call itself is answered; the Response never comes, but a stranger's does.
    ASSERT_TRUE(runEventsUntil([&] { return asked() == "a1d0;"; }, 5000));
    QString caller = client.baseService().mid(1).replace('.', '_');
    auto lie = QDBusMessage::createSignal(
        kPortalPath + "/request/" + caller + QString("/pellora_%1_1").arg(::getpid()),
        "org.freedesktop.portal.Request", "Response");
    lie << 0u << QVariantMap{{"autostart", true}};
    auto stranger = bus.connect("stranger");
    ASSERT_TRUE(stranger.send(lie));
    ASSERT_TRUE(stranger.interface()->serviceOwner(kPortal).isValid());
    runEventsUntil([&] { return first.has_value(); }, 200);
    clock.runPending();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->ok);
    EXPECT_EQ(second->detail, "The desktop portal has not answered the last request yet");
    EXPECT_FALSE(first);
    clock.advance(PortalAutostart::kAnswerTimeoutSeconds - 1);
    EXPECT_FALSE(first);
    clock.advance(1);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->ok);
    EXPECT_EQ(first->detail, "The desktop portal gave no answer");
}

}  // namespace
}  // namespace pellora::test
