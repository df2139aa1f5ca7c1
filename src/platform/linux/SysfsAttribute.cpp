#include "platform/linux/SysfsAttribute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ReadAt.h"
#include "platform/UniqueFd.h"

namespace pellora {

std::optional<std::string> readSysfsAttribute(const std::filesystem::path& path,
                                              std::size_t limit) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return readAt(fd.get(), 0, limit);
}

}  // namespace pellora
