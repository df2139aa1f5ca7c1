#pragma once

#include <QString>

#include "platform/AppPaths.h"

namespace pellora {

// The names Pellora is known by to the desktop and to its own second launches and scripts.
struct ProgramIdentity {
    static constexpr const char* applicationId = "org.pellora.Pellora";

    // The running one's bus name: the desktop's for the user's own Pellora, one of the
    // folder's lock for a simulated run over its own folder, so the two never meet.
    static QString busName(const AppPaths& paths, bool simulated);
    static std::filesystem::path lockFile(const AppPaths& paths) {
        return paths.runtimeDir / "instance.lock";
    }
};

}  // namespace pellora
