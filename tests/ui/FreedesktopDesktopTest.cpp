#include "platform/linux/FreedesktopDesktop.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "WidgetsTestApp.h"

namespace pellora::test {
namespace {

const QString kFileManager = "org.freedesktop.FileManager1";
const QString kPath = "/org/freedesktop/FileManager1";

// Stands in for the desktop's launcher: what QDesktopServices would have opened.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST(FreedesktopDesktop, FileUriKeepsTheBytesOfTheName) {
    const std::pair<std::string, QString> cases[] = {
        {"/tmp/a b/samples.jsonl", "file:///tmp/a%20b/samples.jsonl"},
        {"/d/100%#?.json", "file:///d/100%25%23%3F.json"},
        {"/d/\xC3\xA9t\xC3\xA9", "file:///d/%C3%A9t%C3%A9"},
        {"/d/latin1-\xE9", "file:///d/latin1-%E9"},
    };
    for (const auto& [path, uri] : cases) {
        EXPECT_EQ(FreedesktopDesktop::fileUri(path), uri) << path;
    }
}

// ShowItems answered, failing or missing: the file manager's answer, else the folder opened.
TEST(FreedesktopDesktop, AsksTheFileManagerElseOpensTheFolder) {
    widgetsApp();
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    const std::filesystem::path file = "/tmp/a b/samples.jsonl";
    const QString uri = "file:///tmp/a%20b/samples.jsonl";
    struct Case {
        QString code;  // what ShowItems runs; none: no file manager on the bus
        bool folderOpened;
    } cases[] = {
        {"", false},
        {"raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.Failed')",
         true},
        {{}, true},
    };
    for (const Case& c : cases) {
        PrivateDBus bus;
        ASSERT_TRUE(bus.ok());
        if (!c.code.isNull()) {
            ASSERT_TRUE(bus.startMock({kFileManager, kPath, kFileManager}, kFileManager));
            auto add = QDBusMessage::createMethodCall(kFileManager, kPath,
                                                      "org.freedesktop.DBus.Mock", "AddMethod");
            add << kFileManager << "ShowItems"
                << "ass"
                << "" << c.code;
            ASSERT_EQ(bus.connect("control").call(add).type(), QDBusMessage::ReplyMessage);
        }
        opened.urls.clear();
        std::vector<bool> done;
        auto desktop = FreedesktopDesktop::create(bus.connect("desktop"));
        desktop->revealFile(file, [&](bool ok) { done.push_back(ok); });
        EXPECT_TRUE(done.empty());  // never answered inline
        ASSERT_TRUE(runEventsUntil([&] { return !done.empty(); }, 5000)) << c.code.toStdString();
        EXPECT_EQ(done, std::vector<bool>{true});
        EXPECT_EQ(opened.urls,
                  c.folderOpened ? QList<QUrl>{QUrl("file:///tmp/a%20b")} : QList<QUrl>{});
        if (!c.code.isNull()) {
            auto calls = QDBusMessage::createMethodCall(
                kFileManager, kPath, "org.freedesktop.DBus.Mock", "GetMethodCalls");
            calls << "ShowItems";
            const QDBusMessage reply = bus.connect("control").call(calls);
            ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
            const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
            std::vector<QVariantList> received;
            list.beginArray();
            while (!list.atEnd()) {
                quint64 time = 0;
                QVariantList args;
                list.beginStructure();
                list >> time >> args;
                list.endStructure();
                received.push_back(args);
            }
            list.endArray();
            ASSERT_EQ(received.size(), 1u);
            EXPECT_EQ(received[0].value(0).toStringList(), QStringList{uri});
            EXPECT_EQ(received[0].value(1).toString(), "");
        }
    }
    QDesktopServices::unsetUrlHandler("file");
}

}  // namespace
}  // namespace pellora::test

#include "FreedesktopDesktopTest.moc"
