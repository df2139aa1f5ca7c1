#include "main/ControlClient.h"

#include <unistd.h>

#include <QCoreApplication>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "app/ControlCommand.h"
#include "main/ProgramIdentity.h"
#include "platform/SystemClock.h"
#include "platform/linux/DBusRemoteClient.h"

namespace pellora {

void ControlClient::run(int argc, char** argv) {
    auto parsed = ControlCommand::parse(std::vector<std::string>(argv + 2, argv + argc));
    if (const auto* complaint = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "pellora ctl: %s\n%s\n", complaint->c_str(), ControlCommand::usage);
        std::fflush(stderr);
        ::_exit(ControlCommand::badArgument);
    }
    const auto& command = std::get<ControlCommand>(parsed);
    // The calls have their own timeouts; this also bounds connecting to a bus that accepts
    // and never answers.
    std::thread([] {
        SystemClock().sleep(bound);
        static const char late[] = "Pellora did not answer within 2 s\n";
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, late, sizeof late - 1);
        ::_exit(ControlCommand::notRunning);
    }).detach();
    QCoreApplication app(argc, argv);
    // Qt takes the user's locale for the C library too; our texts, logs and what scripts read
    // write numbers with a point whatever the language (Qt's own widgets use QLocale).
    std::setlocale(LC_NUMERIC, "C");
    const bool simulated = !command.dataDir.empty();
    const auto paths =
        simulated ? AppPaths::underRoot(command.dataDir) : AppPaths::fromEnvironment();
    DBusRemoteClient client(ProgramIdentity::busName(paths, simulated), bound - 0.2);
    const auto result = command.run(client);
    std::fputs(result.out.c_str(), stdout);
    std::fputs(result.err.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    // Said and done: the bus's thread must not speak up while the process is taken apart.
    ::_exit(result.status);
}

}  // namespace pellora
