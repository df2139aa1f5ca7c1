#include "platform/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace pellora {

namespace {

// SIGHUP: the terminal closed, or logind ending the session (SIGTERM, then SIGHUP at once).
constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// The write end of the installed instance's pipe; -1 when none is installed.
std::atomic<int> gWriteEnd{-1};

extern "C" void onQuitSignal(int signal) {
    const int savedErrno = errno;
    const int fd = gWriteEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // A full pipe already holds a wake-up; the byte may be dropped.
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

std::unique_ptr<QuitSignals> QuitSignals::install(std::function<void(int)> onSignal) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    int expected = -1;
    if (!gWriteEnd.compare_exchange_strong(expected, writeEnd.get())) {
        return nullptr;
    }
    return std::unique_ptr<QuitSignals>(
        new QuitSignals(std::move(readEnd), std::move(writeEnd), std::move(onSignal)));
}

QuitSignals::QuitSignals(UniqueFd readEnd, UniqueFd writeEnd, std::function<void(int)> onSignal)
    : read_(std::move(readEnd)), write_(std::move(writeEnd)), onSignal_(std::move(onSignal)) {
    notifier_ = std::make_unique<QSocketNotifier>(read_.get(), QSocketNotifier::Read);
    // The notifier is this object's own: it cannot call after the object is gone.
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kSignals[i], &action, &previous_[i]);
    }
}

QuitSignals::~QuitSignals() {
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    gWriteEnd.store(-1);
}

void QuitSignals::drain() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(read_.get(), bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < n; ++i) {
            onSignal_(bytes[i]);
        }
    }
}

}  // namespace pellora
