#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/MenuRow.h"

namespace pellora {

struct PlatformTexts;

// The status menu and the tray glyph as data: the controller writes titles, states and
// actions here, and a view (or a test) reads them back. Main thread only.
class StatusMenu {
  public:
    static constexpr const char* sunGlyph = "\u2600";
    static constexpr const char* idleGlyph = "\u2300";
    static constexpr const char* darkGlyph = "\u25D0";
    static constexpr const char* midGlyph = "\u25D1";
    static constexpr const char* warningGlyph = "\u26A0\uFE0E";

    // The rows with their launch titles; rows whose text names a platform's own tools take
    // it from `texts`.
    explicit StatusMenu(const PlatformTexts& texts);

    const std::vector<MenuRow>& rows() const { return rows_; }
    const MenuRow& row(MenuItemId id) const;
    const std::string& glyph() const { return glyph_; }

    void setTitle(MenuItemId id, std::string title);
    void setEnabled(MenuItemId id, bool enabled);
    void setHidden(MenuItemId id, bool hidden);
    void setAction(MenuItemId id, std::function<void()> action);
    void setGlyph(std::string glyph);
    void setChecked(MenuItemId id, bool checked);

    // What a click does: runs the row's action when the row is shown, enabled and has one.
    void activate(MenuItemId id);

    // A view's hook: told after every change, with the row, or nothing for the glyph.
    using Observer = std::function<void(std::optional<MenuItemId>)>;
    // Several views may watch (the tray, the window's panel); each is told in the order
    // added. The token is for `removeObserver`; adding or removing while being told is safe.
    int addObserver(Observer observer);
    void removeObserver(int token);

    // A view is about to show the rows (the tray's menu opening, the window coming forward):
    // rows that mirror something outside the program look at it again.
    void willShow();
    void setOnWillShow(std::function<void()> hook);

  private:
    MenuRow& mutableRow(MenuItemId id);
    void changed(std::optional<MenuItemId> id);

    std::vector<MenuRow> rows_;
    std::string glyph_ = sunGlyph;
    std::vector<std::pair<int, Observer>> observers_;
    int nextToken_ = 1;
    std::function<void()> onWillShow_;
};

}  // namespace pellora
