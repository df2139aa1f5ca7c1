#pragma once

#include <signal.h>

#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "platform/UniqueFd.h"

namespace pellora {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the Qt event loop of the thread that installed
// it. The handler itself only writes the signal's number to a pipe, which is safe in a
// signal handler; a socket notifier on the loop reads it. Each handler serves once: the
// same signal again while the first is handled ends the process the ordinary way, so an
// exit that hangs can still be interrupted.
class QuitSignals {
  public:
    // Nothing when the pipe cannot be made or another instance is installed.
    static std::unique_ptr<QuitSignals> install(std::function<void(int signal)> onSignal);
    // Puts back the handlers that were there before.
    ~QuitSignals();

    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

  private:
    QuitSignals(UniqueFd readEnd, UniqueFd writeEnd, std::function<void(int)> onSignal);
    void drain();

    UniqueFd read_;
    UniqueFd write_;
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3] = {};
};

}  // namespace pellora
