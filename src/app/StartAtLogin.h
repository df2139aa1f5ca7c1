#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/LoginItem.h"

namespace pellora {

class AlertPresenter;
class DebugLog;
class StatusMenu;

// The "Start at login" row: checked while the desktop starts Pellora at login, as the login
// item says each time the menu is about to show, and choosing it turns that on or off. A
// failed change is logged and told in an alert, and the row shows the real state again.
// Main thread only; every answer it waits for holds it weakly.
class StartAtLogin : public std::enable_shared_from_this<StartAtLogin> {
  public:
    struct Where {
        // The program the login item starts.
        std::string executable;
        // It is a build folder's copy rather than an installed one.
        bool fromBuildTree = false;
    };

    // Everything given outlives the object. Sets the row's title and action; reads nothing
    // until `refresh`.
    static std::shared_ptr<StartAtLogin> create(StatusMenu& menu, LoginItem& item,
                                                AlertPresenter& alerts, DebugLog& log, Where where);

    // Looks at the login item again; the row follows. Nothing while a change is under way.
    void refresh();
    // The row's action: the opposite of what it shows.
    void toggle();

    // "Start at login", naming the program when it is a build folder's copy.
    static std::string rowTitle(const Where& where);

  private:
    StartAtLogin(StatusMenu& menu, LoginItem& item, AlertPresenter& alerts, DebugLog& log,
                 Where where);

    void changed(bool wanted, const LoginItem::Outcome& outcome);

    StatusMenu& menu_;
    LoginItem& item_;
    AlertPresenter& alerts_;
    DebugLog& log_;
    const Where where_;
    bool changing_ = false;
    // Counts reads and changes, so that only the latest answer is shown.
    std::uint64_t request_ = 0;
    // The last problem logged, so that opening the menu again does not log it again.
    std::string loggedProblem_;
};

}  // namespace pellora
