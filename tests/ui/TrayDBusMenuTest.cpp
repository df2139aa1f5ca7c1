// The tray as a desktop panel sees it: a StatusNotifierItem whose menu is read and clicked
// over com.canonical.dbusmenu, with the panel's watcher played by python3-dbusmock.

#include <gtest/gtest.h>

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>

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

// The test source folder, which Qt Test names for the build.
QString watcherTemplate() {
    return QStringLiteral(QT_TESTCASE_SOURCEDIR "/ui/data/status_notifier_watcher.py");
}

// One entry of a GetLayout reply.
struct Entry {
    int id = 0;
    QVariantMap properties;
    std::vector<Entry> children;
};

Entry readEntry(const QDBusArgument& argument) {
    Entry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.push_back(readEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

// One line per entry, as the panel would draw it: "--" for a separator, else its label,
// "off" when disabled, "hidden" when invisible, its check mark, and its shortcut keys.
QString line(const Entry& entry) {
    const QVariantMap& p = entry.properties;
    QStringList parts{p.value("type").toString() == "separator" ? "--"
                                                                : p.value("label").toString()};
    if (!p.value("enabled", true).toBool()) {
        parts << "off";
    }
    if (!p.value("visible", true).toBool()) {
        parts << "hidden";
    }
    if (p.value("toggle-type").toString() == "checkmark") {
        parts << (p.value("toggle-state").toInt() == 1 ? "checked" : "unchecked");
    }
    if (p.contains("shortcut")) {
        for (const QStringList& keys : qdbus_cast<QList<QStringList>>(p.value("shortcut"))) {
            parts << keys.join('+');
        }
    }
    return parts.join('|');
}

// The sizes of an icon's pixmaps, a(iiay), each checked to hold ARGB32: 4 bytes a pixel.
QList<QSize> pixmapSizes(const QDBusArgument& pixmaps) {
    QList<QSize> sizes;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int w = 0, h = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> w >> h >> bytes;
        pixmaps.endStructure();
        EXPECT_EQ(bytes.size(), w * h * 4);
        sizes << QSize(w, h);
    }
    pixmaps.endArray();
    return sizes;
}

// Signals of the menu object, as the panel would hear them.
class Heard : public QObject {
    Q_OBJECT
  public:
    QStringList signalNames;
  public slots:
    void signal(const QDBusMessage& message) { signalNames << message.member(); }
};

struct TrayDBusMenu : ::testing::Test {
    QApplication& app = widgetsApp();
    PrivateDBus bus;
    QDBusConnection panel = bus.connect("panel");

    // The icon's menu as the panel reads it.
    QStringList layout(const QString& item, const QString& path, std::vector<Entry>* entries) {
        auto call = QDBusMessage::createMethodCall(item, path, kMenuInterface, "GetLayout");
        call.setArguments({0, -1, QStringList{}});
        // Tray and test share the thread: the call must let the tray answer meanwhile.
        const QDBusMessage reply = panel.call(call, QDBus::BlockWithGui, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
            ADD_FAILURE() << reply.errorMessage().toStdString();
            return {};
        }
        Entry root = readEntry(reply.arguments()[1].value<QDBusArgument>());
        QStringList lines;
        for (const Entry& entry : root.children) {
            lines << line(entry);
        }
        *entries = root.children;
        return lines;
    }

    QVariant itemProperty(const QString& item, const QString& name) {
        auto call = QDBusMessage::createMethodCall(item, "/StatusNotifierItem",
                                                   "org.freedesktop.DBus.Properties", "Get");
        call.setArguments({"org.kde.StatusNotifierItem", name});
        const QDBusMessage reply = panel.call(call, QDBus::BlockWithGui, 5000);
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
};

TEST_F(TrayDBusMenu, PanelReadsTheRowsClicksOneAndSeesChanges) {
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(bus.startMock({"--template", watcherTemplate()}, kWatcher));
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
    TrayMenuView view{model, "Pellora"};
    EXPECT_TRUE(TrayMenuView::isTrayAvailable());

    // The item's bus name, from its registration with the watcher.
    QString item;
    ASSERT_TRUE(runEventsUntil(
        [&] {
            auto call = QDBusMessage::createMethodCall(
                kWatcher, "/StatusNotifierWatcher", "org.freedesktop.DBus.Mock", "GetMethodCalls");
            call.setArguments({"RegisterStatusNotifierItem"});
            const auto calls = qdbus_cast<QList<std::pair<quint64, QVariantList>>>(
                panel.call(call).arguments().value(0));
            if (!calls.isEmpty()) {
                item = calls[0].second.value(0).toString();
            }
            return !item.isEmpty();
        },
        5000));
    EXPECT_TRUE(panel.interface()->isServiceRegistered(item));

    EXPECT_EQ(itemProperty(item, "Title").toString(), QGuiApplication::applicationDisplayName());
    const auto tooltip = itemProperty(item, "ToolTip").value<QDBusArgument>();
    QString iconName, tipTitle, tipText;
    tooltip.beginStructure();
    tooltip >> iconName;
    pixmapSizes(tooltip);
    tooltip >> tipTitle >> tipText;
    tooltip.endStructure();
    EXPECT_EQ(tipTitle, "Pellora ☀");
    EXPECT_TRUE(pixmapSizes(itemProperty(item, "IconPixmap").value<QDBusArgument>())
                    .contains(QSize(22, 22)));
    const QString menuPath = qvariant_cast<QDBusObjectPath>(itemProperty(item, "Menu")).path();
    ASSERT_FALSE(menuPath.isEmpty());

    std::vector<Entry> entries;
    EXPECT_EQ(
        layout(item, menuPath, &entries).join(" ; "),
        "Monitor: —|off ; -- ; Luma: —|off ; Brightness: —|off ; Mode: —|off ; "
        "Samples: 0|off ; Last snapshot: never|off ; |off|hidden ; |off|hidden ; |off|hidden ; "
        "-- ; "
        "Start adapting|Control+A ; Snapshot now|Control+N ; "
        "Preview adjustment|Control+V ; Preferences…|Control+, ; Check for Updates… ; "
        "Start at login|unchecked ; -- ; Reveal samples in file manager|Control+S ; Enable "
        "camera access… ; "
        "Log camera diagnostics ; Re-check camera permission (video group) ; "
        "Reveal debug dump in file manager ; "
        "Probe monitor capabilities (may stall DDC briefly) ; Quit|Control+Q");

    // A click in the panel runs the row's action in the program.
    ASSERT_EQ(entries.size(), 25u);
    auto event = QDBusMessage::createMethodCall(item, menuPath, kMenuInterface, "Event");
    event.setArguments({entries[12].id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    panel.call(event, QDBus::BlockWithGui, 5000);
    EXPECT_TRUE(runEventsUntil([&] { return !ran.empty(); }, 5000));
    EXPECT_EQ(ran, std::vector<Id>{Id::snapshot});

    Heard heard;
    for (const char* name : {"LayoutUpdated", "ItemsPropertiesUpdated"}) {
        panel.connect(item, menuPath, kMenuInterface, name, &heard, SLOT(signal(QDBusMessage)));
    }
    model.setTitle(Id::monitor, "Monitor: DELL U2720Q");
    model.setHidden(Id::camera, false);
    model.setChecked(Id::startAtLogin, true);
    EXPECT_TRUE(runEventsUntil([&] { return !heard.signalNames.isEmpty(); }, 5000));
    const QStringList changed = layout(item, menuPath, &entries);
    ASSERT_EQ(changed.size(), 25);
    EXPECT_EQ(changed[0], "Monitor: DELL U2720Q|off");
    EXPECT_EQ(changed[7], "|off");
    EXPECT_EQ(changed[16], "Start at login|checked");

    // A panel opening the menu tells the program first, so rows that mirror the system are
    // read again.
    int willShow = 0;
    model.setOnWillShow([&willShow] { ++willShow; });
    auto opening = QDBusMessage::createMethodCall(item, menuPath, kMenuInterface, "AboutToShow");
    opening.setArguments({0});
    panel.call(opening, QDBus::BlockWithGui, 5000);
    EXPECT_TRUE(runEventsUntil([&] { return willShow > 0; }, 5000));
}

}  // namespace
}  // namespace pellora::test

#include "TrayDBusMenuTest.moc"
