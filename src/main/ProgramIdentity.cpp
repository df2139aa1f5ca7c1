#include "main/ProgramIdentity.h"

#include "platform/linux/DBusSingleInstance.h"

namespace pellora {

QString ProgramIdentity::busName(const AppPaths& paths, bool simulated) {
    return simulated ? DBusSingleInstance::nameForLock(applicationId, lockFile(paths))
                     : QString::fromLatin1(applicationId);
}

}  // namespace pellora
