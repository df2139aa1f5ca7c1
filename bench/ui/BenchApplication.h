#pragma once

#include <QApplication>

namespace pellora::bench {

// The widgets application, made on first use (benchmark_main owns main); off screen unless
// a display is there to draw on.
inline QApplication& benchApplication() {
    static int argc = 1;
    static char name[] = "ui_bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        new QApplication(argc, argv);
    }
    return *qApp;
}

}  // namespace pellora::bench
