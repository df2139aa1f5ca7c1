#include "platform/linux/SyslogSystemLog.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace pellora {

namespace {

constexpr char kIdent[] = "pellora";

// What syslog(3) puts before the message: priority, local time, name and pid.
std::string header() {
    char stamp[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) {
        std::strftime(stamp, sizeof stamp, "%h %e %T ", &local);
    }
    char text[96];
    std::snprintf(text, sizeof text, "<%d>%s%s[%d]: ", LOG_USER | LOG_INFO, stamp, kIdent,
                  int(::getpid()));
    return text;
}

// The line as a terminal may be sent it: lines quote bytes of monitors, cameras and synced
// files, whose control characters (escape sequences among them) would drive the terminal.
// Line feeds and tabs stay; C0 and C1 controls and DEL become "?".
std::string forTerminal(const std::string& line) {
    std::string out;
    out.reserve(line.size() + 1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool c1 = c == 0xC2 && i + 1 < line.size() &&
                        static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(line[i + 1]) <= 0x9F;
        if (c1) {
            ++i;
        }
        out += c1 || (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F ? '?' : line[i];
    }
    out += '\n';
    return out;
}

}  // namespace

SyslogSystemLog::SyslogSystemLog(std::string socketPath) : socketPath_(std::move(socketPath)) {
    // A file description of our own, so that O_NONBLOCK does not reach the terminal's other
    // users (the shell shares standard error's).
    if (isatty(STDERR_FILENO) == 1) {
        terminal_.reset(::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    }
    std::lock_guard lock(mutex_);
    connectLocked();
}

SyslogSystemLog::~SyslogSystemLog() = default;

void SyslogSystemLog::connectLocked() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath_.c_str());
    // Datagrams as journald and most daemons take them; a stream where only that is offered.
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        UniqueFd fd(::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd) {
            return;
        }
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            journal_ = std::move(fd);
            stream_ = type == SOCK_STREAM;
            return;
        }
        if (errno != EPROTOTYPE) {
            return;
        }
    }
}

void SyslogSystemLog::write(const std::string& line) {
    const std::string message = header() + line;
    {
        std::lock_guard lock(mutex_);
        // A daemon restarted since the last line has a new socket: connect once more.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!journal_) {
                connectLocked();
                if (!journal_) {
                    break;
                }
            }
            // A stream's messages end with their NUL.
            const std::size_t size = message.size() + (stream_ ? 1 : 0);
            ssize_t sent;
            do {
                sent = ::send(journal_.get(), message.c_str(), size, MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
            if (sent == ssize_t(size)) {
                break;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ||
                             errno == EMSGSIZE)) {
                break;  // the journal is not reading: this line is dropped
            }
            // Refused or reset; or part of the line went on a stream, where the next line would
            // run into it.
            journal_.reset();
            if (sent >= 0) {
                break;
            }
        }
    }
    if (terminal_) {
        // One write, so that lines logged at once from two threads do not interleave.
        const std::string whole = forTerminal(line);
        while (::write(terminal_.get(), whole.data(), whole.size()) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace pellora
