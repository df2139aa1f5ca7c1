// The desktop's own services over D-Bus, each played by python3-dbusmock on a bus of the
// test's own: answering, failing, or not there at all.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

#include "OpenedUrls.h"
#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "WidgetsTestApp.h"
#include "platform/linux/FreedesktopDesktop.h"
#include "platform/linux/KdeOnScreenDisplay.h"

namespace pellora::test {
namespace {

const QString kFails =
    "raise dbus.exceptions.DBusException('x', name='org.freedesktop.DBus.Error.Failed')";

// `method` of `interface` runs `code`; with a null code there is no such service.
struct MockedService {
    PrivateDBus bus;
    QString name, path;

    MockedService(QString name_, QString path_, const QString& interface, const QString& method,
                  const QString& code)
        : name(std::move(name_)), path(std::move(path_)) {
        widgetsApp();
        if (!code.isNull()) {
            EXPECT_TRUE(bus.startMock({name, path, interface}, name));
            mock("AddMethod", {interface, method, method == "ShowItems" ? "ass" : "i", "", code});
        }
    }
    QDBusMessage mock(const QString& method, const QVariantList& arguments) {
        auto call = QDBusMessage::createMethodCall(name, path, "org.freedesktop.DBus.Mock", method);
        call.setArguments(arguments);
        return bus.connect("control").call(call);
    }
    // The arguments of each call the service had of `method`.
    QList<QVariantList> calls(const QString& method) {
        QList<QVariantList> out;
        for (const auto& [when, arguments] : qdbus_cast<QList<std::pair<quint64, QVariantList>>>(
                 mock("GetMethodCalls", {method}).arguments().value(0))) {
            out << arguments;
        }
        return out;
    }
};

// ShowItems answered, failing or missing: the file manager's answer, else the folder opened.
// Either is given the file's address with the bytes of its name.
TEST(FreedesktopDesktop, AsksTheFileManagerElseOpensTheFolder) {
    EXPECT_EQ(FreedesktopDesktop::fileUri("/a b/100%#?"), "file:///a%20b/100%25%23%3F");
    EXPECT_EQ(FreedesktopDesktop::fileUri("/d/latin1-\xE9"), "file:///d/latin1-%E9");
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    for (const QString& code : {QString(""), kFails, QString()}) {
        MockedService manager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                              "org.freedesktop.FileManager1", "ShowItems", code);
        opened.urls.clear();
        std::vector<bool> done;
        auto desktop = FreedesktopDesktop::create(manager.bus.connect("desktop"));
        desktop->revealFile("/tmp/a b/samples.jsonl", [&](bool ok) { done.push_back(ok); });
        EXPECT_TRUE(done.empty());  // never answered inline
        ASSERT_TRUE(runEventsUntil([&] { return !done.empty(); }, 5000)) << code.toStdString();
        EXPECT_EQ(done, std::vector<bool>{true});
        const bool answered = !code.isNull() && code.isEmpty();
        EXPECT_EQ(opened.urls, answered ? QList<QUrl>{} : QList<QUrl>{QUrl("file:///tmp/a%20b")})
            << code.toStdString();
        if (!code.isNull()) {
            const QVariantList asked{QStringList{"file:///tmp/a%20b/samples.jsonl"}, ""};
            EXPECT_EQ(manager.calls("ShowItems"), QList<QVariantList>{asked});
        }
    }
    QDesktopServices::unsetUrlHandler("file");
}

// Plasma answering, Plasma failing, and no Plasma at all (GNOME): only the first is shown.
TEST(KdeOnScreenDisplay, ReportsWhetherPlasmaShowedTheBrightness) {
    for (const QString& code : {QString(""), kFails, QString()}) {
        MockedService plasma("org.kde.plasmashell", "/org/kde/osdService", "org.kde.osdService",
                             "brightnessChanged", code);
        std::vector<bool> done;
        auto osd = KdeOnScreenDisplay::create(plasma.bus.connect("pellora"));
        osd->showBrightness(130, [&](bool shown) { done.push_back(shown); });
        EXPECT_TRUE(done.empty());  // never answered inline
        ASSERT_TRUE(runEventsUntil([&] { return !done.empty(); }, 5000)) << code.toStdString();
        EXPECT_EQ(done, std::vector<bool>{!code.isNull() && code.isEmpty()}) << code.toStdString();
        if (!code.isNull()) {
            // A percentage, clamped.
            EXPECT_EQ(plasma.calls("brightnessChanged"), QList<QVariantList>{QVariantList{100}});
        }
    }
    // An answer after the display is gone runs nothing.
    PrivateDBus bus;
    bool called = false;
    auto osd = KdeOnScreenDisplay::create(bus.connect("pellora"));
    osd->showBrightness(50, [&](bool) { called = true; });
    osd.reset();
    runEventsUntil([] { return false; }, 200);
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace pellora::test
