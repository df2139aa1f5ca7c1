#pragma once

#include <memory>

#include "SimulatedDesk.h"
#include "ui/MenuPanelView.h"
#include "ui/PreferencesWindowController.h"

namespace pellora::test {

// The real preferences window over a simulated desk's services, as the program makes it.
// For programs that link the widgets (the desk's support library does not).
// `menuPanel`, when given, heads the window as where the desktop has no tray.
inline std::shared_ptr<PreferencesPresenter> deskPreferencesWith(SimulatedDesk& desk,
                                                                 PreferencesHooks hooks,
                                                                 QWidget* menuPanel) {
    PreferencesWindowController::Services services{
        .controller = desk.brightness,
        .registry = desk.registry,
        .settings = *desk.env.settings,
        .log = *desk.env.log,
        .clock = desk.env.clock,
        .main = desk.mainQueue,
        .realClock = desk.env.clock,
        .realTime = desk.mainQueue,
        .work = *desk.probeQueue,
        .texts = PlatformTexts::linuxDesktop(),
        .menu = &desk.menu,
    };
    return PreferencesWindowController::create(services, std::move(hooks), menuPanel);
}

inline std::shared_ptr<PreferencesPresenter> deskPreferences(SimulatedDesk& desk,
                                                             PreferencesHooks hooks) {
    return deskPreferencesWith(desk, std::move(hooks), nullptr);
}

// Where the desktop has no tray: the menu's rows head the window.
inline std::shared_ptr<PreferencesPresenter> deskPreferencesWithoutTray(SimulatedDesk& desk,
                                                                        PreferencesHooks hooks) {
    return deskPreferencesWith(desk, std::move(hooks), new MenuPanelView(desk.menu));
}

}  // namespace pellora::test
