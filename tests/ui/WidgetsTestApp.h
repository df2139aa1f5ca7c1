#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace pellora::test {

// The widgets application of a ui test program, made before anything asks for a plain
// QCoreApplication (QtTestApp.h). scripts/test brings Xvfb; with no display at all the
// widgets draw off screen.
inline QApplication& widgetsApp() {
    static int argc = 1;
    static char name[] = "pellora-ui-tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        new QApplication(argc, argv);
    }
    return *qApp;
}

// A move with the left button held, sent as a real event: QTest's mouseMove does not carry the
// button everywhere.
inline void moveHeld(QWidget& view, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, QPointF(to), view.mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, modifiers);
    QApplication::sendEvent(&view, &move);
}

}  // namespace pellora::test
