// The tray as a desktop panel sees it: a StatusNotifierItem whose menu is read and clicked
// over com.canonical.dbusmenu, with the panel's watcher played by python3-dbusmock.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QRegularExpression>

#include "PrivateDBus.h"
#include "QtTestApp.h"
#include "WidgetsTestApp.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "ui/TrayMenuView.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

const QString kWatcher = "org.kde.StatusNotifierWatcher";
const QString kMenuInterface = "com.canonical.dbusmenu";

// The rows of a GetLayout reply: each child of the root, its id and label.
std::vector<std::pair<int, QString>> readRows(const QDBusArgument& root) {
    std::vector<std::pair<int, QString>> rows;
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument row = child.variant().value<QDBusArgument>();
        row.beginStructure();
        row >> id >> properties;
        rows.emplace_back(id, properties.value("label").toString());
    }
    return rows;
}

struct TrayDBusMenu : ::testing::Test {
    QApplication& app = widgetsApp();
    PrivateDBus bus;
    QDBusConnection panel = bus.connect("panel");
    QString item, menuPath;

    // Tray and test share the thread: each call lets the tray answer meanwhile.
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments) {
        auto message = QDBusMessage::createMethodCall(item, path, interface, method);
        message.setArguments(arguments);
        return panel.call(message, QDBus::BlockWithGui, 5000);
    }
    // The icon's menu as the panel reads it.
    std::vector<std::pair<int, QString>> layout() {
        const QDBusMessage reply =
            call(menuPath, kMenuInterface, "GetLayout", {0, -1, QStringList{}});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
            ADD_FAILURE() << reply.errorMessage().toStdString();
            return {};
        }
        return readRows(reply.arguments()[1].value<QDBusArgument>());
    }
};

TEST_F(TrayDBusMenu, PanelReadsTheRowsClicksOneAndSeesChanges) {
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(bus.startMock(
        {"--template", QStringLiteral(QT_TESTCASE_SOURCEDIR "/ui/data/status_notifier_watcher.py")},
        kWatcher));
    // Qt settles once per process, at its first tray icon, whether the tray goes over D-Bus:
    // this test needs a process whose session bus is still to be opened, on our bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcher)) {
        QProcess again;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        again.setProcessEnvironment(env);
        again.setProcessChannelMode(QProcess::MergedChannels);
        again.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=TrayDBusMenu.PanelReadsTheRowsClicksOneAndSeesChanges"});
        ASSERT_TRUE(again.waitForFinished(60000));
        EXPECT_EQ(again.exitCode(), 0) << again.readAll().toStdString();
        return;
    }

    StatusMenu model{PlatformTexts::linuxDesktop()};
    std::vector<Id> ran;
    model.setAction(Id::snapshot, [&ran] { ran.push_back(Id::snapshot); });
    int willShow = 0;
    model.setOnWillShow([&willShow] { ++willShow; });
    TrayMenuView view{model, "Pellora"};
    EXPECT_TRUE(TrayMenuView::isTrayAvailable());

    // The item's bus name, from its registration with the watcher.
    ASSERT_TRUE(runEventsUntil(
        [&] {
            auto message = QDBusMessage::createMethodCall(
                kWatcher, "/StatusNotifierWatcher", "org.freedesktop.DBus.Mock", "GetMethodCalls");
            message.setArguments({"RegisterStatusNotifierItem"});
            const auto calls = qdbus_cast<QList<std::pair<quint64, QVariantList>>>(
                panel.call(message).arguments().value(0));
            item = calls.isEmpty() ? QString() : calls[0].second.value(0).toString();
            return !item.isEmpty();
        },
        5000));
    const QDBusMessage menu = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                   {"org.kde.StatusNotifierItem", "Menu"});
    menuPath =
        menu.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    ASSERT_FALSE(menuPath.isEmpty());

    // Every row reaches the panel (the rows' states are the menu's actions', tested beside).
    const auto rows = layout();
    ASSERT_EQ(rows.size(), 25u);
    EXPECT_EQ(rows[0].second, "Monitor: —");
    ASSERT_EQ(rows[12].second, "Snapshot now");

    // A click in the panel runs the row's action in the program.
    call(menuPath, kMenuInterface, "Event",
         {rows[12].first, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(runEventsUntil([&] { return !ran.empty(); }, 5000));
    EXPECT_EQ(ran, std::vector<Id>{Id::snapshot});

    // What the panel reads next shows a change in place, and names from outside (a user
    // folder, a monitor's name) as they read: a panel takes "__" for one underscore, any other
    // underscore for the access key's mark, not drawn.
    for (const char* title : {"Monitor: DELL_U2720Q", "Monitor: A & B & C",
                              "Not saved \u2014 /home/jo_ann/x__y.json &", "Monitor: &&"}) {
        model.setTitle(Id::monitor, title);
        auto drawn = [&] {
            return layout().at(0).second.replace(QRegularExpression("_(_?)"), "\\1");
        };
        EXPECT_TRUE(runEventsUntil([&] { return drawn() == QString::fromUtf8(title); }, 5000))
            << title << " is drawn as " << drawn().toStdString();
    }

    // A panel opening the menu tells the program first, so rows that mirror the system are
    // read again.
    call(menuPath, kMenuInterface, "AboutToShow", {0});
    EXPECT_TRUE(runEventsUntil([&] { return willShow > 0; }, 5000));
}

}  // namespace
}  // namespace pellora::test
