#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>

namespace pellora {

// Bytes [offset, offset + length) of an open file, fewer when it ends sooner; nothing on a
// read error. A read interrupted by a signal is resumed.
inline std::optional<std::string> readAt(int fd, std::size_t offset, std::size_t length) {
    std::string bytes(length, '\0');
    std::size_t got = 0;
    while (got < length) {
        ssize_t n = ::pread(fd, bytes.data() + got, length - got, off_t(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

}  // namespace pellora
