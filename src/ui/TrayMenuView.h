#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

#include "app/MenuRow.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace pellora {

class StatusMenu;

// The status menu on the desktop's tray: an icon showing the menu's glyph and a menu of its
// rows. Made once; afterwards only the row or glyph that changed is touched, so a menu open
// under the pointer stays open. Main thread only.
class TrayMenuView final : public QObject {
    Q_OBJECT
  public:
    // `menu` outlives the view. The icon is shown at once: where no tray exists yet it
    // appears when one does.
    TrayMenuView(StatusMenu& menu, QString appName, QObject* parent = nullptr);
    ~TrayMenuView() override;

    TrayMenuView(const TrayMenuView&) = delete;
    TrayMenuView& operator=(const TrayMenuView&) = delete;

    static bool isTrayAvailable();
    QSystemTrayIcon& trayIcon() { return *tray_; }
    QMenu& menu() { return *qmenu_; }
    // The menu entry of a row.
    QAction* action(MenuItemId id) const;

    // The glyph drawn into an icon at the usual tray sizes, light on a dark plate so it reads
    // on light and dark panels alike.
    static QIcon glyphIcon(const QString& glyph);
    // A row title as a menu shows it literally: '&' would otherwise mark a mnemonic and a
    // tab would start the shortcut column.
    static QString menuText(const std::string& title);
    // The same for a menu a panel draws from com.canonical.dbusmenu, where '_' marks the
    // access key: Qt turns only the first '&' of the text into that mark.
    static QString dbusMenuText(const std::string& title);

  private:
    void build();
    void showRow(MenuItemId id);
    void showGlyph();

    StatusMenu& model_;
    const QString appName_;
    std::unique_ptr<QMenu> qmenu_;
    QSystemTrayIcon* tray_ = nullptr;
    std::vector<std::pair<MenuItemId, QAction*>> actions_;
    // The menu goes to the panel over D-Bus rather than opening as our own window.
    bool overDBus_ = false;
    int observerToken_ = 0;
};

}  // namespace pellora
