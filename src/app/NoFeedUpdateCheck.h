#pragma once

#include <string>

#include "app/UpdateCheck.h"

namespace pellora {

class AlertPresenter;
class DebugLog;

// "Check for Updates…" in a build that names no update feed: it says so, in the log and to
// the user, instead of pretending to look.
class NoFeedUpdateCheck final : public UpdateCheck {
  public:
    NoFeedUpdateCheck(std::string version, DebugLog& log, AlertPresenter& alerts);
    void checkForUpdates() override;

  private:
    std::string version_;
    DebugLog& log_;
    AlertPresenter& alerts_;
};

}  // namespace pellora
