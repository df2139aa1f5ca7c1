#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AppPaths.h"

namespace pellora {

InstanceLock InstanceLock::acquire(const std::filesystem::path& file) {
    auto fail = [&file](const std::string& what) {
        return InstanceLock(Outcome::unavailable, file.string() + ": " + what, UniqueFd());
    };
    if (!ensureDirectory(file.parent_path())) {
        return fail("its folder cannot be created");
    }
    // O_NONBLOCK and O_NOFOLLOW: whatever sits at that name, the open neither hangs nor
    // goes elsewhere.
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!fd) {
        return fail(std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail("not a regular file");
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            return fail(std::strerror(errno));
        }
        char pid[32] = {};
        ssize_t n = ::pread(fd.get(), pid, sizeof pid - 1, 0);
        std::string holder(pid, n > 0 ? std::size_t(n) : 0);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) {
            holder.pop_back();
        }
        return InstanceLock(Outcome::heldElsewhere, holder, UniqueFd());
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    // Should this fail, the lock holds all the same; only the name for a second launch is
    // missing.
    if (::ftruncate(fd.get(), 0) == 0) {
        [[maybe_unused]] ssize_t written = ::pwrite(fd.get(), pid.data(), pid.size(), 0);
    }
    return InstanceLock(Outcome::acquired, "", std::move(fd));
}

}  // namespace pellora
