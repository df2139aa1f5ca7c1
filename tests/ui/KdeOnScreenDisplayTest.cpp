#include "platform/linux/KdeOnScreenDisplay.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

const QString kShell = "org.kde.plasmashell";
const QString kPath = "/org/kde/osdService";
const QString kInterface = "org.kde.osdService";

QDBusMessage mockCall(PrivateDBus& bus, const QString& method, const QVariantList& args) {
    auto call = QDBusMessage::createMethodCall(kShell, kPath, "org.freedesktop.DBus.Mock", method);
    call.setArguments(args);
    return bus.connect("control").call(call);
}

// Plasma answering, Plasma failing, and no Plasma at all (GNOME): only the first is shown.
TEST(KdeOnScreenDisplay, ReportsWhetherPlasmaShowedTheBrightness) {
    widgetsApp();
    const std::pair<QString, bool> cases[] = {
        {"", true},
        {"raise dbus.exceptions.DBusException('x', name='org.freedesktop.DBus.Error.Failed')",
         false},
        {{}, false},
    };
    for (const auto& [code, expected] : cases) {
        PrivateDBus bus;
        ASSERT_TRUE(bus.ok());
        if (!code.isNull()) {
            ASSERT_TRUE(bus.startMock({kShell, kPath, kInterface}, kShell));
            mockCall(bus, "AddMethod", {kInterface, "brightnessChanged", "i", "", code});
        }
        std::vector<bool> done;
        auto osd = KdeOnScreenDisplay::create(bus.connect("pellora"));
        osd->showBrightness(130, [&](bool shown) { done.push_back(shown); });
        EXPECT_TRUE(done.empty());  // never answered inline
        ASSERT_TRUE(runEventsUntil([&] { return !done.empty(); }, 5000)) << code.toStdString();
        EXPECT_EQ(done, std::vector<bool>{expected}) << code.toStdString();
        if (!code.isNull()) {
            const auto calls = qdbus_cast<QList<std::pair<quint64, QVariantList>>>(
                mockCall(bus, "GetMethodCalls", {"brightnessChanged"}).arguments().value(0));
            ASSERT_EQ(calls.size(), 1);
            EXPECT_EQ(calls[0].second, QVariantList{100});  // a percentage, clamped
        }
    }
}

TEST(KdeOnScreenDisplay, AnAnswerAfterItIsGoneRunsNothing) {
    widgetsApp();
    PrivateDBus bus;
    ASSERT_TRUE(bus.ok());
    bool called = false;
    auto osd = KdeOnScreenDisplay::create(bus.connect("pellora"));
    osd->showBrightness(50, [&](bool) { called = true; });
    osd.reset();
    runEventsUntil([] { return false; }, 200);
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace pellora::test
