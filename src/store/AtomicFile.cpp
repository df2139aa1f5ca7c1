#include "store/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

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

}  // namespace

FileRead readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileRead result;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.status = errno == ENOENT ? FileRead::Status::missing : FileRead::Status::unreadable;
        result.error = errnoText("open");
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.status = FileRead::Status::unreadable;
        result.error = "not a regular file";
        ::close(fd);
        return result;
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        result.status = FileRead::Status::tooLarge;
        result.error = std::to_string(info.st_size) + " bytes, more than the " +
                       std::to_string(maxBytes) + " allowed";
        ::close(fd);
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.status = FileRead::Status::unreadable;
            result.error = errnoText("read");
            result.bytes.clear();
            ::close(fd);
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
            ::close(fd);
            return result;
        }
        result.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.status = FileRead::Status::ok;
    return result;
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               const std::string& bytes, unsigned mode,
                                               bool durable) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    // The process id keeps forked or concurrent writers off each other's temporary files.
    std::filesystem::path temp =
        dir / ("." + path.filename().string() + "." + std::to_string(::getpid()) + "." +
               std::to_string(random() % 1000000000) + ".tmp");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return errnoText("create temporary file");
    }
    // The umask may have taken bits away; the mode asked for is the mode wanted.
    ::fchmod(fd, mode);
    bool ok = writeAll(fd, bytes.data(), bytes.size());
    std::string error = ok ? "" : errnoText("write");
    if (ok && durable && ::fsync(fd) != 0) {
        ok = false;
        error = errnoText("fsync");
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errnoText("close");
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errnoText("rename");
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return error;
    }
    // Make the rename itself durable.
    int dirFd = durable ? ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return std::nullopt;
}

}  // namespace pellora
