#include "platform/linux/SysfsAttribute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/UniqueFd.h"

namespace pellora {

std::optional<std::string> readSysfsAttribute(const std::filesystem::path& path,
                                              std::size_t limit) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string bytes(limit, '\0');
    std::size_t filled = 0;
    while (filled < limit) {
        ssize_t n = ::read(fd.get(), bytes.data() + filled, limit - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace pellora
