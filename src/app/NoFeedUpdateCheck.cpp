#include "app/NoFeedUpdateCheck.h"

#include "app/AlertPresenter.h"
#include "store/DebugLog.h"

namespace pellora {

NoFeedUpdateCheck::NoFeedUpdateCheck(std::string version, DebugLog& log, AlertPresenter& alerts)
    : version_(std::move(version)), log_(log), alerts_(alerts) {}

void NoFeedUpdateCheck::checkForUpdates() {
    log_.log("Check for updates: this build has no update feed (feed=?)", "update");
    alerts_.present("Pellora " + version_,
                    "This build has no update feed to check. Updates come with your "
                    "distribution's packages, or build the newest source.",
                    {"OK"}, [](int) {});
}

}  // namespace pellora
