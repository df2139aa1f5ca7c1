// Pellora's entry: the scripting client, or one run of the program under a Qt application.

#include <QApplication>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "main/ControlClient.h"
#include "main/GraphicalSession.h"
#include "main/InstanceGate.h"
#include "main/Program.h"
#include "main/ProgramIdentity.h"
#include "main/ProgramOptions.h"
#include "platform/SystemClock.h"
#include "platform/linux/SyslogSystemLog.h"
#include "platform/sim/StderrSystemLog.h"
#include "ui/ApplicationIcon.h"

#ifndef PELLORA_VERSION
#define PELLORA_VERSION "0.0.0"
#endif

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
    // A peer that goes away (an X server, a bus) must fail our write with EPIPE, not end us.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc >= 2 && std::string_view(argv[1]) == "ctl") {
        pellora::ControlClient::run(argc, argv);
    }
    // Read before the platform is chosen for Qt below.
    const std::string qpaPlatform = environment("QT_QPA_PLATFORM");
    const std::string display = environment("DISPLAY");
    const std::string waylandDisplay = environment("WAYLAND_DISPLAY");
    const bool waylandAnswers = pellora::GraphicalSession::waylandAnswers(
        waylandDisplay.c_str(), environment("XDG_RUNTIME_DIR").c_str());
    if (auto platform = pellora::GraphicalSession::platformFor(
            qpaPlatform.c_str(), display.c_str(), waylandDisplay.c_str(), waylandAnswers)) {
        ::setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    }
    QApplication app(argc, argv);
    // Qt takes the user's locale for the C library too; our texts, logs and what scripts read
    // write numbers with a point whatever the language (Qt's own widgets use QLocale).
    std::setlocale(LC_NUMERIC, "C");
    // A tray program: closing an alert must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName("Pellora");
    QCoreApplication::setApplicationVersion(PELLORA_VERSION);
    QCoreApplication::setOrganizationDomain("pellora.org");
    // Wayland compositors and docks match our windows to the launcher entry by this name.
    QGuiApplication::setDesktopFileName(pellora::ProgramIdentity::applicationId);
    // Every window and alert shows it; X11 window managers take it from the window.
    QApplication::setWindowIcon(pellora::applicationIcon());

    auto parsed = pellora::ProgramOptions::parse(app);
    if (const int* status = std::get_if<int>(&parsed)) {
        return *status;
    }
    const auto& options = std::get<pellora::ProgramOptions>(parsed);
    std::unique_ptr<pellora::SystemLog> systemLog;
    if (options.simulated) {
        systemLog = std::make_unique<pellora::StderrSystemLog>();
    } else {
        systemLog = std::make_unique<pellora::SyslogSystemLog>();
    }
    const auto gate = pellora::InstanceGate::enter(options, pellora::SystemClock(), *systemLog);
    if (gate.secondLaunch()) {
        return 0;
    }
    pellora::Program program(options, gate, *systemLog,
                             pellora::GraphicalSession::offScreenLine(
                                 qpaPlatform.c_str(), display.c_str(), waylandDisplay.c_str(),
                                 QGuiApplication::platformName().toStdString()));
    return program.run();
}
