#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

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

// Turns the Qt event loop, and calls `each` after every turn, until `done` or `limitMs` of real
// time have passed; whether `done`.
template <typename Done, typename Each = void (*)()>
bool runEventsUntil(
    Done done, int limitMs = 2000, Each each = [] {}) {
    QElapsedTimer timer;
    for (timer.start(); !done() && timer.elapsed() < limitMs;) {
        qtApp().processEvents(QEventLoop::AllEvents, 10);
        each();
    }
    return done();
}

}  // namespace pellora::test
