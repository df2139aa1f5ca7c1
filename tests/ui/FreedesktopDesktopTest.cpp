#include "platform/linux/FreedesktopDesktop.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

#include "OpenedUrls.h"
#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

const QString kFileManager = "org.freedesktop.FileManager1";
const QString kPath = "/org/freedesktop/FileManager1";

QDBusMessage mockCall(PrivateDBus& bus, const QString& method, const QVariantList& args) {
    auto call =
        QDBusMessage::createMethodCall(kFileManager, kPath, "org.freedesktop.DBus.Mock", method);
    call.setArguments(args);
    return bus.connect("control").call(call);
}

TEST(FreedesktopDesktop, FileUriKeepsTheBytesOfTheName) {
    EXPECT_EQ(FreedesktopDesktop::fileUri("/a b/100%#?"), "file:///a%20b/100%25%23%3F");
    EXPECT_EQ(FreedesktopDesktop::fileUri("/d/latin1-\xE9"), "file:///d/latin1-%E9");
}

// ShowItems answered, failing or missing: the file manager's answer, else the folder opened.
TEST(FreedesktopDesktop, AsksTheFileManagerElseOpensTheFolder) {
    widgetsApp();
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    const std::pair<QString, QList<QUrl>> cases[] = {
        {"", {}},  // the code ShowItems runs, none for no file manager; folders opened
        {"raise dbus.exceptions.DBusException('x', name='org.freedesktop.DBus.Error.Failed')",
         {QUrl("file:///tmp/a%20b")}},
        {{}, {QUrl("file:///tmp/a%20b")}},
    };
    for (const auto& [code, folders] : cases) {
        PrivateDBus bus;
        if (!code.isNull()) {
            ASSERT_TRUE(bus.startMock({kFileManager, kPath, kFileManager}, kFileManager));
            mockCall(bus, "AddMethod", {kFileManager, "ShowItems", "ass", "", code});
        }
        opened.urls.clear();
        std::vector<bool> done;
        auto desktop = FreedesktopDesktop::create(bus.connect("desktop"));
        desktop->revealFile("/tmp/a b/samples.jsonl", [&](bool ok) { done.push_back(ok); });
        EXPECT_TRUE(done.empty());  // never answered inline
        ASSERT_TRUE(runEventsUntil([&] { return !done.empty(); }, 5000)) << code.toStdString();
        EXPECT_EQ(done, std::vector<bool>{true});
        EXPECT_EQ(opened.urls, folders);
        if (!code.isNull()) {
            const auto calls = qdbus_cast<QList<std::pair<quint64, QVariantList>>>(
                mockCall(bus, "GetMethodCalls", {"ShowItems"}).arguments().value(0));
            ASSERT_EQ(calls.size(), 1);
            EXPECT_EQ(calls[0].second,
                      QVariantList({QStringList{"file:///tmp/a%20b/samples.jsonl"}, ""}));
        }
    }
    QDesktopServices::unsetUrlHandler("file");
}

}  // namespace
}  // namespace pellora::test
