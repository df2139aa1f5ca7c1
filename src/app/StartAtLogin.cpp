#include "app/StartAtLogin.h"

#include "app/AlertPresenter.h"
#include "app/StatusMenu.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"

namespace pellora {

std::shared_ptr<StartAtLogin> StartAtLogin::create(StatusMenu& menu, LoginItem& item,
                                                   AlertPresenter& alerts, DebugLog& log,
                                                   Where where) {
    std::shared_ptr<StartAtLogin> self(new StartAtLogin(menu, item, alerts, log, std::move(where)));
    menu.setTitle(MenuItemId::startAtLogin, rowTitle(self->where_));
    menu.setAction(MenuItemId::startAtLogin, [weak = std::weak_ptr(self)] {
        if (auto row = weak.lock()) {
            row->toggle();
        }
    });
    return self;
}

StartAtLogin::StartAtLogin(StatusMenu& menu, LoginItem& item, AlertPresenter& alerts, DebugLog& log,
                           Where where)
    : menu_(menu), item_(item), alerts_(alerts), log_(log), where_(std::move(where)) {}

std::string StartAtLogin::rowTitle(const Where& where) {
    if (where.fromBuildTree) {
        return "Start at login (this build: " + where.executable + ")";
    }
    return "Start at login";
}

void StartAtLogin::refresh() {
    if (changing_) {
        return;
    }
    const std::uint64_t request = ++request_;
    item_.read([weak = weak_from_this(), request](LoginItem::State state) {
        auto self = weak.lock();
        if (!self || self->changing_ || request != self->request_) {
            return;
        }
        self->menu_.setChecked(MenuItemId::startAtLogin, state.enabled);
        if (state.problem != self->loggedProblem_) {
            if (!state.problem.empty()) {
                self->log_.log(state.problem, "app");
            }
            self->loggedProblem_ = state.problem;
        }
    });
}

void StartAtLogin::toggle() {
    if (changing_) {
        return;
    }
    const bool wanted = !menu_.row(MenuItemId::startAtLogin).checked;
    changing_ = true;
    ++request_;
    // The click shows at once; the row waits, greyed, for the answer.
    menu_.setChecked(MenuItemId::startAtLogin, wanted);
    menu_.setEnabled(MenuItemId::startAtLogin, false);
    item_.setEnabled(wanted,
                     whileAlive(this, [wanted](const auto& self, LoginItem::Outcome outcome) {
                         self->changed(wanted, outcome);
                     }));
}

void StartAtLogin::changed(bool wanted, const LoginItem::Outcome& outcome) {
    changing_ = false;
    menu_.setEnabled(MenuItemId::startAtLogin, true);
    const std::string what = wanted ? "on" : "off";
    if (outcome.ok) {
        menu_.setChecked(MenuItemId::startAtLogin, outcome.enabled);
        log_.log("Start at login turned " + what + ": " + outcome.detail, "app");
        return;
    }
    log_.log("Start at login could not be turned " + what + ": " + outcome.detail, "app");
    alerts_.present("Start at login could not be turned " + what + ".", outcome.detail, {"OK"}, {});
    // Whatever the failure left, the row shows what is there.
    menu_.setChecked(MenuItemId::startAtLogin, !wanted);
    refresh();
}

}  // namespace pellora
