#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace pellora {

namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Consumes a run of digits at the front of `text`; false when there is none.
bool digits(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') {
        ++n;
    }
    text.remove_prefix(n);
    return n > 0;
}

bool consume(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

// The temporary files this process is writing at the moment, which no sweep may take.
class WritesUnderWay {
  public:
    static WritesUnderWay& instance() {
        static WritesUnderWay writes;
        return writes;
    }
    void begin(const std::string& temp) {
        std::lock_guard lock(mutex_);
        temps_.insert(temp);
    }
    void end(const std::string& temp) {
        std::lock_guard lock(mutex_);
        temps_.erase(temp);
    }
    bool contains(const std::string& temp) {
        std::lock_guard lock(mutex_);
        return temps_.count(temp) > 0;
    }

  private:
    std::mutex mutex_;
    std::set<std::string> temps_;
};

// The process id in a temporary file's name: "~target.<pid>.<n>.tmp" (or "." in front).
std::optional<long long> writerOf(const std::string& name, const std::string& target) {
    if (!isTemporaryOf(name, target)) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(name).substr(1 + target.size() + 1);
    long long pid = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    return error == std::errc() ? std::optional(pid) : std::nullopt;
}

// Whether a process of that id may still be writing: it is running, or not ours to ask.
bool mayBeRunning(long long pid) {
    return pid > 0 && pid <= INT_MAX && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

double wallNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Fills a new file that is to take `path`'s place and leaves it named `temp`. The data goes
// to an unnamed file first, so that a kill before the rename leaves nothing behind; a file
// system without unnamed files gets `temp` from the start.
std::optional<std::string> writeTemporary(const std::filesystem::path& dir,
                                          const std::filesystem::path& temp,
                                          const std::string& bytes, unsigned mode, bool durable,
                                          bool unnamed) {
    UniqueFd fd;
    if (unnamed) {
        fd.reset(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    }
    const bool isUnnamed = bool(fd);
    if (!fd) {
        fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!fd) {
            return errnoText("create temporary file");
        }
    }
    // The umask may have taken bits away; the mode asked for is the mode wanted.
    ::fchmod(fd.get(), mode);
    std::optional<std::string> error;
    if (!writeAll(fd.get(), bytes.data(), bytes.size())) {
        error = errnoText("write");
    } else if (durable && ::fsync(fd.get()) != 0) {
        error = errnoText("fsync");
    } else if (isUnnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            // No /proc, say: write it again under its name from the start.
            return writeTemporary(dir, temp, bytes, mode, durable, false);
        }
    }
    if (::close(fd.release()) != 0 && !error) {
        error = errnoText("close");
    }
    if (error && !isUnnamed) {
        ::unlink(temp.c_str());
    }
    return error;
}

}  // namespace

FileRead readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileRead result;
    // O_NONBLOCK: a FIFO in the file's place would otherwise hold the open until a writer
    // comes. O_NOFOLLOW: a link may lead anywhere, devices included.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd) {
        result.status = errno == ENOENT                     ? FileRead::Status::missing
                        : errno == EACCES || errno == EPERM ? FileRead::Status::denied
                                                            : FileRead::Status::unreadable;
        result.error = errno == ELOOP ? "a symbolic link, not a file" : errnoText("open");
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        result.status = FileRead::Status::unreadable;
        result.error = "not a regular file";
        return result;
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        result.status = FileRead::Status::tooLarge;
        result.error = std::to_string(info.st_size) + " bytes, more than the " +
                       std::to_string(maxBytes) + " allowed";
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.status = FileRead::Status::unreadable;
            result.error = errnoText("read");
            result.bytes.clear();
            return result;
        }
        if (n == 0) {
            break;
        }
        // The file may grow while it is read; the limit still holds.
        if (result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            result.status = FileRead::Status::tooLarge;
            result.error = "grew past the " + std::to_string(maxBytes) + " bytes allowed";
            result.bytes.clear();
            return result;
        }
        result.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    result.status = FileRead::Status::ok;
    return result;
}

namespace {

// Puts `temp` in `path`'s place. An exchange leaves the old file at `temp`, removed at once.
std::optional<std::string> replace(const std::filesystem::path& temp,
                                   const std::filesystem::path& path, bool exchange) {
#ifdef RENAME_EXCHANGE
    struct stat target {};
    // Only with a file: a folder or a link in its place is refused or replaced, as by rename.
    if (exchange && ::lstat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
            ::unlink(temp.c_str());
            return std::nullopt;
        }
        // A file system that cannot: a plain rename.
    }
#else
    (void)exchange;
#endif
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string error = errnoText("rename");
        ::unlink(temp.c_str());
        return error;
    }
    return std::nullopt;
}

std::optional<std::string> writeWhole(const std::filesystem::path& path, const std::string& bytes,
                                      unsigned mode, bool durable, bool exchange) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    // The process id keeps concurrent writers off each other's files; the "~" start and
    // ".tmp" end are what sync tools and other machines pass over.
    const std::filesystem::path temp =
        dir / ("~" + path.filename().string() + "." + std::to_string(::getpid()) + "." +
               std::to_string(random() % 1000000000) + ".tmp");
    WritesUnderWay::instance().begin(temp.string());
    std::optional<std::string> error = writeTemporary(dir, temp, bytes, mode, durable, true);
    if (!error) {
        error = replace(temp, path, exchange);
    }
    WritesUnderWay::instance().end(temp.string());
    if (error) {
        return error;
    }
    if (durable) {
        // Make the rename itself durable.
        UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd) {
            ::fsync(dirFd.get());
        }
    }
    // What a killed earlier run left of this file goes now, not only at the next start.
    sweepStaleTemporaries(path, wallNow());
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               const std::string& bytes, unsigned mode,
                                               bool durable) {
    return writeWhole(path, bytes, mode, durable, false);
}

std::optional<std::string> rewriteFileAtomically(const std::filesystem::path& path,
                                                 const std::string& bytes, unsigned mode) {
    return writeWhole(path, bytes, mode, false, true);
}

bool isTemporaryOf(const std::string& name, const std::string& target) {
    std::string_view rest = name;
    if (rest.empty() || (rest[0] != '~' && rest[0] != '.')) {
        return false;
    }
    rest.remove_prefix(1);
    return consume(rest, target) && consume(rest, ".") && digits(rest) && consume(rest, ".") &&
           digits(rest) && rest == ".tmp";
}

int sweepStaleTemporaries(const std::filesystem::path& target, double now, double minAgeSeconds) {
    const std::string targetName = target.filename().string();
    std::vector<std::filesystem::path> stale;
    std::error_code error;
    for (std::filesystem::directory_iterator it(target.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::filesystem::path& path = it->path();
        struct stat info {};
        if (!isTemporaryOf(path.filename().string(), targetName) ||
            ::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        const std::string name = path.filename().string();
        const std::optional<long long> writer = writerOf(name, targetName);
        const double changed = double(info.st_mtim.tv_sec) + 1e-9 * double(info.st_mtim.tv_nsec);
        // A young one may be a write still under way: this process's own, or another running
        // process's. One whose writer has gone is a leftover however young.
        const bool ours = writer && *writer == ::getpid();
        const bool underWay = ours ? WritesUnderWay::instance().contains(path.string())
                                   : writer && mayBeRunning(*writer);
        if (!underWay || now - changed > minAgeSeconds) {
            stale.push_back(path);
        }
    }
    int removed = 0;
    for (const auto& path : stale) {
        removed += ::unlink(path.c_str()) == 0;
    }
    return removed;
}

std::optional<std::string> setAsideDamaged(const std::filesystem::path& path, int keep) {
    const std::string base = path.filename().string() + ".damaged";
    // Copies by number; the unnumbered name of older versions counts as the oldest.
    std::vector<std::pair<unsigned long long, std::filesystem::path>> copies;
    std::error_code error;
    for (std::filesystem::directory_iterator it(path.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::string_view rest = name;
        if (!consume(rest, base)) {
            continue;
        }
        if (rest.empty()) {
            copies.emplace_back(0, it->path());
        } else if (consume(rest, ".")) {
            unsigned long long n = 0;
            const char* last = rest.data() + rest.size();
            if (auto [stop, failure] = std::from_chars(rest.data(), last, n);
                failure == std::errc() && stop == last) {
                copies.emplace_back(n, it->path());
            }
        }
    }
    std::sort(copies.begin(), copies.end());
    const unsigned long long next = copies.empty() ? 1 : copies.back().first + 1;
    std::filesystem::path aside = path;
    aside += ".damaged." + std::to_string(next);
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        // Gone already: nothing left to keep.
        return errno == ENOENT ? std::nullopt : std::optional(errnoText("rename"));
    }
    copies.emplace_back(next, aside);
    for (std::size_t i = 0; i + static_cast<std::size_t>(std::max(keep, 1)) < copies.size(); ++i) {
        ::unlink(copies[i].second.c_str());
    }
    return std::nullopt;
}

}  // namespace pellora
