// The scripting interface, org.pellora.Pellora1, on a bus of the test's own over the
// controller on the simulated desk, called as a script would call it.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <limits>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "SimulatedDesk.h"
#include "app/ControlCommand.h"
#include "platform/linux/DBusRemoteClient.h"
#include "platform/linux/DBusRemoteControl.h"
#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/Pellora1Adaptor.h"

namespace pellora::test {
namespace {

const QString kNamePrefix = "org.pellora.Pellora";
const QString kError = "org.pellora.Pellora1.Error.";

// Properties announced, as a listener hears them.
class Heard : public QObject {
    Q_OBJECT
  public:
    std::vector<QVariantMap> changes;
  public slots:
    void changed(const QString& interface, const QVariantMap& properties, const QStringList&) {
        if (interface == DBusRemoteControl::kInterface) {
            changes.push_back(properties);
        }
    }
};

struct RemoteControlTest : DeskTest {
    PrivateDBus bus;
    std::shared_ptr<DBusSingleInstance> single;
    std::unique_ptr<DBusRemoteControl> remote;
    QDBusConnection script{QString()};
    // A name of its own for each start, so that the last one's going need not be awaited.
    QString kName;
    int starts = 0;

    void start(SimulatedDesk::Options options = {}) {
        qtApp();
        ASSERT_TRUE(bus.ok());
        desk.reset();
        remote.reset();
        single.reset();
        kName = kNamePrefix + (starts++ > 0 ? QString(".Test%1").arg(starts) : QString());
        single = DBusSingleInstance::create(kName, nullptr, bus.connect("pellora"));
        remote = std::make_unique<DBusRemoteControl>(*single);
        options.remote = remote.get();
        restart(options);
        d().launch();
        remote->serve(*d().app);
        single->serve([] {});
        ASSERT_TRUE(runEventsUntil([&] { return single->ownsName(); }, 5000));
        script = bus.connect("script");
        d().advance(5);  // the first snapshot is in
    }
    void TearDown() override {
        desk.reset();
        remote.reset();
        single.reset();
    }
    // The call's error name, empty for a reply. The desk's due work runs meanwhile, its clock
    // stands still: real bus time (minutes under load) must not pass the pause or a step's window.
    QString call(const QString& method, const QVariantList& arguments,
                 const QString& interface = DBusRemoteControl::kInterface) {
        return answer(send(method, arguments, interface));
    }
    QDBusPendingCall send(const QString& method, const QVariantList& arguments,
                          const QString& interface = DBusRemoteControl::kInterface) {
        auto message =
            QDBusMessage::createMethodCall(kName, DBusSingleInstance::kPath, interface, method);
        message.setArguments(arguments);
        return script.asyncCall(message, 5000);
    }
    QString answer(QDBusPendingCall pending) {
        EXPECT_TRUE(runEventsUntil([&] { return pending.isFinished(); }, 5000,
                                   [&] { d().env.clock.runPending(); }));
        lastMessage = pending.error().message();
        return pending.isError() ? pending.error().name() : QString();
    }
    QVariantMap properties() {
        auto message = QDBusMessage::createMethodCall(kName, DBusSingleInstance::kPath,
                                                      "org.freedesktop.DBus.Properties", "GetAll");
        message << QString(DBusRemoteControl::kInterface);
        QDBusMessage reply = script.call(message, QDBus::BlockWithGui, 5000);
        QVariantMap values;
        if (reply.arguments().size() == 1) {
            reply.arguments()[0].value<QDBusArgument>() >> values;
        }
        return values;
    }
    double pausedUntil() { return properties().value("PausedUntil").toDouble(); }
    QString lastMessage;
};

TEST_F(RemoteControlTest, EveryMethodGoesThroughOrIsRefusedWithItsReason) {
    start();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<QString, QVariantList> refused[] = {
        {"SetBrightness", {150, -1}},
        {"StepBrightness", {-101, std::numeric_limits<int>::min()}},
        {"Pause", {nan, -1.0, inf, 1e12}},
        {"SetMode", {QString("sideways")}}};
    for (const auto& [method, arguments] : refused) {
        for (const QVariant& argument : arguments) {
            SCOPED_TRACE((method + " " + argument.toString()).toStdString());
            EXPECT_EQ(call(method, {argument}), kError + "InvalidArgument");
            EXPECT_FALSE(lastMessage.isEmpty());
        }
    }
    // A refusal changes nothing.
    EXPECT_EQ(d().monitorBrightness(), 50);
    EXPECT_EQ(pausedUntil(), -1);

    // The slider's path (what it keeps is PreferencesWindowTest's): written, and a pause.
    EXPECT_EQ(call("SetBrightness", {40}), QString());
    d().advance(0.2);
    EXPECT_EQ(d().monitorBrightness(), 40);
    EXPECT_NEAR(pausedUntil(), d().env.clock.now() + 300, 1);
    for (auto [step, then] : {std::pair{5, 45}, {100, 100}}) {
        EXPECT_EQ(call("StepBrightness", {step}), QString());
        d().advance(0.2);
        EXPECT_EQ(d().monitorBrightness(), then) << step;
    }
    EXPECT_EQ(call("Pause", {600.0}), QString());
    EXPECT_NEAR(pausedUntil(), d().env.clock.now() + 600, 1);
    // Resume, adapting refused and preferences are asked end to end in SecondLaunchTest.
    d().env.clock.setWall(d().env.clock.now() - 3600);  // a clock set back moves no pause
    EXPECT_EQ(call("SetMode", {QString("learning")}), QString());
    EXPECT_EQ(d().app->mode(), Mode::learning);
    EXPECT_EQ(call("SnapshotNow", {}), QString());
    EXPECT_EQ(d().count("takeSnapshot requesting frame…"), 2u);
    // Steps in a burst go from the last one's value; a step after a while reads the monitor,
    // whose own buttons may have moved it.
    d().monitor->defineRegister(0x10, 70, 100);
    d().advance(11);
    EXPECT_NEAR(pausedUntil(), d().env.clock.now() + 589, 1);
    EXPECT_EQ(call("StepBrightness", {-5}), QString());
    EXPECT_EQ(call("StepBrightness", {-5}), QString());
    d().advance(0.2);
    EXPECT_EQ(d().monitorBrightness(), 60);
    // A call of the wrong type is refused by the bus layer, and Pellora runs on.
    EXPECT_EQ(call("SetBrightness", {QString("abc")}), "org.freedesktop.DBus.Error.UnknownMethod");
    d().session->setLocked(true);
    d().advance(0.1);
    EXPECT_EQ(call("SnapshotNow", {}), kError + "NotYetAvailable");
}

// Two key presses bound to `pellora ctl down 5`, after a quiet spell: both arrive before the
// first one's read of the monitor is back, and the second goes from what the first made.
TEST_F(RemoteControlTest, TwoQuickStepsAfterAWhileAreBothApplied) {
    start();
    d().monitor->defineRegister(0x10, 70, 100);
    d().advance(11);
    QDBusPendingCall first = send("StepBrightness", {-5}), second = send("StepBrightness", {-5});
    runEventsUntil([] { return false; }, 300);
    EXPECT_EQ(answer(first), QString());
    EXPECT_EQ(answer(second), QString());
    d().advance(0.5);
    EXPECT_EQ(d().monitorBrightness(), 60);
}

// Whatever owns the name answers `pellora ctl status`: another version, another program.
TEST(RemoteClient, AnAnswerOfAnotherTypeReadsAsUnknown) {
    qtApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    const QString name = kNamePrefix;
    ASSERT_TRUE(
        bus.startMock({name, DBusSingleInstance::kPath, DBusRemoteControl::kInterface}, name));
    auto message = QDBusMessage::createMethodCall(name, DBusSingleInstance::kPath,
                                                  "org.freedesktop.DBus.Mock", "AddProperties");
    message << QString(DBusRemoteControl::kInterface)
            << QVariantMap{{"Brightness", 1e20}, {"Samples", QString("12")}};
    ASSERT_EQ(bus.connect("control").call(message, QDBus::Block, 5000).type(),
              QDBusMessage::ReplyMessage);
    auto answer = DBusRemoteClient(name, bus.connect("ctl"), 2.0).state();
    ASSERT_TRUE(std::holds_alternative<RemoteState>(answer));
    const std::string text = ControlCommand::statusText(std::get<RemoteState>(answer));
    EXPECT_NE(text.find("Brightness: unknown\nMode: none\nSamples: 0\n"), std::string::npos)
        << text;
    // Where there is no bus at all (a sleep hook run as root), that is what is said.
    DBusRemoteClient nowhere(name, QDBusConnection::connectToBus("unix:path=/nonexistent", "no"),
                             1);
    EXPECT_EQ(nowhere.setBrightness(40).value_or(RemoteFailure{}).kind, RemoteFailure::Kind::noBus);
}

TEST_F(RemoteControlTest, WithoutAMonitorEachMonitorCallSaysSo) {
    start({.monitorPlugged = false});
    for (const auto& [method, arguments] :
         std::vector<std::pair<QString, QVariantList>>{{"SetBrightness", {40}},
                                                       {"StepBrightness", {5}},
                                                       {"SnapshotNow", {}},
                                                       {"SetMode", {QString("adapting")}}}) {
        SCOPED_TRACE(method.toStdString());
        EXPECT_EQ(call(method, arguments), kError + "NoMonitor");
    }
    EXPECT_EQ(call("Pause", {60.0}), QString());
    const QVariantMap state = properties();
    const auto monitor = qdbus_cast<DBusMonitorIdentity>(state.value("Monitor"));
    EXPECT_TRUE(monitor.name.isEmpty() && monitor.id.isEmpty());
    EXPECT_EQ(state.value("Mode").toString(), "");
    EXPECT_EQ(state.value("NextSnapshot").toDouble(), -1);
}

// A monitor never read yet (the camera is not granted, so no snapshot ran) is asked first.
TEST_F(RemoteControlTest, AStepFromAnUnknownBrightnessReadsItFirst) {
    start({.cameraStatus = CameraAuthorization::notDetermined});
    EXPECT_EQ(properties().value("Brightness").toInt(), -1);
    EXPECT_EQ(call("StepBrightness", {-10}), QString());
    d().advance(0.2);
    EXPECT_EQ(d().monitorBrightness(), 40);
    EXPECT_EQ(call("SnapshotNow", {}), kError + "NotYetAvailable");
}

// `pellora ctl pause 3600` for a film, then the brightness key once: the key's choice holds
// adapting off for its own 5 minutes, and must not cut the hour asked for down to them.
TEST_F(RemoteControlTest, ABrightnessChosenDuringALongPauseKeepsThePause) {
    start();
    EXPECT_EQ(call("Pause", {3600.0}).toStdString(), "");
    const double until = d().env.clock.now() + 3600;
    EXPECT_EQ(call("StepBrightness", {5}).toStdString(), "");
    EXPECT_EQ(call("SetBrightness", {30}).toStdString(), "");
    d().advance(0.2);
    EXPECT_EQ(d().monitorBrightness(), 30);
    EXPECT_NEAR(pausedUntil(), until, 1);
    d().advance(400);
    EXPECT_TRUE(d().app->paused()) << "adapting would write again 5 minutes into the hour";
}

// DDC/CI off in the monitor's menu: a step or a set cannot reach it, and must not answer done,
// nor show as the monitor's brightness what it never took.
TEST_F(RemoteControlTest, ASetToAMonitorThatDoesNotAnswerIsRefused) {
    start({.cameraStatus = CameraAuthorization::notDetermined});
    d().monitor->setFault(SimulatedMonitorFault::noReply, 1000);
    EXPECT_EQ(call("StepBrightness", {-10}).toStdString(), "org.pellora.Pellora1.Error.NoMonitor");
    d().advance(0.2);
    ASSERT_FALSE(properties().value("MonitorAccess").toString().isEmpty());
    EXPECT_EQ(call("SetBrightness", {40}).toStdString(), "org.pellora.Pellora1.Error.NoMonitor");
    EXPECT_EQ(call("StepBrightness", {5}).toStdString(), "org.pellora.Pellora1.Error.NoMonitor");
    d().advance(0.2);
    EXPECT_EQ(properties().value("Brightness").toInt(), -1);
    EXPECT_EQ(d().monitorBrightness(), 50);
    EXPECT_EQ(d().count("pending anchor"), 0u);
    // DDC/CI turned back on: the next set goes through.
    d().monitor->setFault(SimulatedMonitorFault::none, 0);
    EXPECT_EQ(call("SetBrightness", {40}).toStdString(), "");
    d().advance(0.2);
    EXPECT_EQ(d().monitorBrightness(), 40);
    EXPECT_EQ(properties().value("MonitorAccess").toString().toStdString(), "");
}

TEST_F(RemoteControlTest, PropertiesShowTheStateAndASnapshotAnnouncesWhatChanged) {
    start();
    // Monitor, brightness, samples and the pause are read end to end by `pellora ctl status`.
    QVariantMap state = properties();
    EXPECT_DOUBLE_EQ(state.value("NextSnapshot").toDouble(), d().app->nextSnapshotAt());
    EXPECT_DOUBLE_EQ(state.value("Luma").toDouble(), d().app->smoothedLuma());
    EXPECT_EQ(state.value("CameraHealth").toString(), "ok");

    Heard heard;
    ASSERT_TRUE(script.connect(kName, DBusSingleInstance::kPath, "org.freedesktop.DBus.Properties",
                               "PropertiesChanged", &heard,
                               SLOT(changed(QString, QVariantMap, QStringList))));
    properties();  // the match is in place once this returns
    d().monitor->defineRegister(0x10, 70, 100);
    d().app->menu().activate(MenuItemId::snapshot);
    ASSERT_TRUE(runEventsUntil(
        [&] {
            return !heard.changes.empty() && heard.changes.back().contains("Samples") &&
                   heard.changes.back().value("Samples").toUInt() == 2u;
        },
        5000, [&] { d().advance(0.1); }));
    QVariantMap all;
    for (const auto& change : heard.changes) {
        all.insert(change);
    }
    EXPECT_EQ(all.value("Brightness").toInt(), 70);
    EXPECT_TRUE(all.contains("Luma"));
    EXPECT_TRUE(all.contains("NextSnapshot"));
    EXPECT_FALSE(all.contains("Monitor")) << "only what changed";

    // A pause's end comes with nothing else happening, and is announced too.
    heard.changes.clear();
    EXPECT_EQ(call("Pause", {30.0}), QString());
    d().advance(31);
    ASSERT_TRUE(runEventsUntil([&] { return heard.changes.size() >= 2; }, 5000));
    EXPECT_EQ(heard.changes.back().value("PausedUntil").toDouble(), -1);
}

}  // namespace
}  // namespace pellora::test

#include "RemoteControlTest.moc"
