#pragma once

#include <QApplication>

namespace pellora::test {

// The widgets application of a ui test program, made before anything asks for a plain
// QCoreApplication (see QtTestApp.h) and kept to the end.
inline QApplication& widgetsApp() {
    static int argc = 1;
    static char name[] = "pellora-ui-tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        // scripts/test brings Xvfb; a bare ctest without any display draws off screen.
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        new QApplication(argc, argv);
    }
    return *qobject_cast<QApplication*>(QCoreApplication::instance());
}

}  // namespace pellora::test
