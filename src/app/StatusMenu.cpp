#include "app/StatusMenu.h"

#include <algorithm>

#include "app/PlatformTexts.h"

namespace pellora {

StatusMenu::StatusMenu(const PlatformTexts& texts) {
    using Id = MenuItemId;
    auto info = [](Id id, std::string title, bool hidden = false, bool separator = false) {
        return MenuRow{id, std::move(title), false, hidden, 0, separator, {}};
    };
    auto command = [](Id id, std::string title, char shortcut = 0, bool separator = false) {
        return MenuRow{id, std::move(title), true, false, shortcut, separator, {}};
    };
    rows_ = {
        info(Id::monitor, "Monitor: —"),
        info(Id::luma, "Luma: —", false, true),
        info(Id::brightness, "Brightness: —"),
        info(Id::mode, "Mode: —"),
        info(Id::samples, "Samples: 0"),
        info(Id::lastSample, "Last snapshot: never"),
        info(Id::camera, "", true),
        info(Id::monitorAccess, "", true),
        info(Id::settingsFile, "", true),
        command(Id::toggleMode, "Start adapting", 'a', true),
        command(Id::snapshot, "Snapshot now", 'n'),
        command(Id::preview, "Preview adjustment", 'v'),
        command(Id::preferences, "Preferences…", ','),
        command(Id::updates, "Check for Updates…"),
        MenuRow{Id::startAtLogin, "Start at login", true, false, 0, false, {}, true, false},
        command(Id::revealSamples, texts.revealSamplesTitle, 's', true),
        command(Id::cameraAccess, "Enable camera access…"),
        command(Id::cameraDiagnostics, "Log camera diagnostics"),
        command(Id::cameraReset, texts.cameraResetTitle),
        command(Id::revealDump, texts.revealDumpTitle),
        command(Id::probe, "Probe monitor capabilities (may stall DDC briefly)"),
        command(Id::quit, "Quit", 'q'),
    };
}

const MenuRow& StatusMenu::row(MenuItemId id) const {
    return *std::find_if(rows_.begin(), rows_.end(), [id](const MenuRow& r) { return r.id == id; });
}

MenuRow& StatusMenu::mutableRow(MenuItemId id) {
    return *std::find_if(rows_.begin(), rows_.end(), [id](const MenuRow& r) { return r.id == id; });
}

void StatusMenu::setTitle(MenuItemId id, std::string title) {
    MenuRow& r = mutableRow(id);
    if (r.title != title) {
        r.title = std::move(title);
        changed(id);
    }
}

void StatusMenu::setEnabled(MenuItemId id, bool enabled) {
    MenuRow& r = mutableRow(id);
    if (r.enabled != enabled) {
        r.enabled = enabled;
        changed(id);
    }
}

void StatusMenu::setHidden(MenuItemId id, bool hidden) {
    MenuRow& r = mutableRow(id);
    if (r.hidden != hidden) {
        r.hidden = hidden;
        changed(id);
    }
}

void StatusMenu::setAction(MenuItemId id, std::function<void()> action) {
    mutableRow(id).action = std::move(action);
    changed(id);
}

void StatusMenu::setGlyph(std::string glyph) {
    if (glyph_ != glyph) {
        glyph_ = std::move(glyph);
        changed(std::nullopt);
    }
}

void StatusMenu::setChecked(MenuItemId id, bool checked) {
    MenuRow& r = mutableRow(id);
    if (r.checked != checked) {
        r.checked = checked;
        changed(id);
    }
}

void StatusMenu::willShow() {
    if (onWillShow_) {
        // A copy: the hook may replace itself.
        auto hook = onWillShow_;
        hook();
    }
}

void StatusMenu::setOnWillShow(std::function<void()> hook) {
    onWillShow_ = std::move(hook);
}

void StatusMenu::activate(MenuItemId id) {
    const MenuRow& r = row(id);
    if (r.hidden || !r.enabled || !r.action) {
        return;
    }
    // A copy: the action may replace itself.
    auto action = r.action;
    action();
}

int StatusMenu::addObserver(Observer observer) {
    const int token = nextToken_++;
    observers_.emplace_back(token, std::move(observer));
    return token;
}

void StatusMenu::removeObserver(int token) {
    std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

void StatusMenu::changed(std::optional<MenuItemId> id) {
    // By token, not by position: an observer may add or remove observers while told, and
    // one removed before its turn is not told.
    std::vector<int> tokens;
    tokens.reserve(observers_.size());
    for (const auto& entry : observers_) {
        tokens.push_back(entry.first);
    }
    for (int token : tokens) {
        auto found = std::find_if(observers_.begin(), observers_.end(),
                                  [token](const auto& entry) { return entry.first == token; });
        if (found != observers_.end() && found->second) {
            // A copy: the observer may remove itself while it runs.
            Observer observer = found->second;
            observer(id);
        }
    }
}

}  // namespace pellora
