#pragma once

#include <QIcon>

namespace pellora {

// Pellora's own icon at every size a panel, a window switcher or an alert asks for, from the
// copy compiled into the program (the same pictures the package installs in the icon theme),
// so it shows even where the program runs from its build folder.
QIcon applicationIcon();

}  // namespace pellora
