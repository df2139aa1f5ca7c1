// Resident memory of the preferences window beside a bare Qt Widgets window of the same size,
// each in its own process: `window_memory_probe bare` or `window_memory_probe preferences`.

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <string>

#include "DeskPreferences.h"
#include "SimulatedDesk.h"
#include "ui/PreferencesWindowController.h"

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "preferences";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (mode == "bare") {
        QWidget window;
        window.resize(560, 1120);
        window.show();
        settle();
        std::printf("bare window: %ld KiB resident\n", residentKiB());
        return 0;
    }
    using pellora::test::SimulatedDesk;
    SimulatedDesk desk(SimulatedDesk::Options{
        .preferences = pellora::test::deskPreferences,
    });
    desk.launch();
    long before = residentKiB();
    desk.app->openPreferences();
    desk.advance(0.1);
    settle();
    std::printf(
        "controller on the simulated desk: %ld KiB; with the preferences window open: %ld "
        "KiB resident\n",
        before, residentKiB());
    return 0;
}
