#pragma once

#include <QWidget>
#include <vector>

#include "app/MenuRow.h"

class QFrame;
class QLabel;
class QToolButton;

namespace pellora {

class StatusMenu;

// The status menu as part of a window, for desktops without a tray: each row in the menu's
// order, state rows as text, command rows as flat buttons, separators as thin lines. Follows
// the menu as it changes, touching only the row that changed. Main thread only.
class MenuPanelView final : public QWidget {
    Q_OBJECT
  public:
    // The widest a row's text is laid out: the window's column holds it beside its scroll bar.
    static constexpr int maxLineWidth = 460;

    // `menu` outlives the view.
    explicit MenuPanelView(StatusMenu& menu, QWidget* parent = nullptr);
    ~MenuPanelView() override;

    MenuPanelView(const MenuPanelView&) = delete;
    MenuPanelView& operator=(const MenuPanelView&) = delete;

    // The widgets of a row: one of them is shown, the label for a state row and the button
    // for a command; the separator above it, if it has one.
    QLabel* label(MenuItemId id) const;
    QToolButton* button(MenuItemId id) const;
    QFrame* separatorBefore(MenuItemId id) const;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    struct Row {
        MenuItemId id;
        bool command = false;
        QLabel* label = nullptr;
        QToolButton* button = nullptr;
        QFrame* separator = nullptr;
    };

    const Row* find(MenuItemId id) const;
    void showRow(MenuItemId id);
    void applyColors();

    StatusMenu& model_;
    std::vector<Row> rows_;
    int observerToken_ = 0;
};

}  // namespace pellora
