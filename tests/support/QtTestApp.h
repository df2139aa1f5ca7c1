#pragma once

#include <QCoreApplication>

namespace pellora::test {

// The one Qt application object of a test program, made on first use and kept to the end
// (Qt allows only one per process).
inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "pellora-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        new QCoreApplication(argc, argv);
    }
    return *QCoreApplication::instance();
}

}  // namespace pellora::test
