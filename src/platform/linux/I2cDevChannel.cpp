#include "platform/linux/I2cDevChannel.h"

#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pellora {

I2cDevChannel::I2cDevChannel(int fd) : fd_(fd) {}

I2cDevChannel::~I2cDevChannel() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int I2cDevChannel::selectDevice(std::uint8_t device) {
    if (selected_ == device) {
        return 0;
    }
    if (::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(device)) < 0) {
        selected_ = -1;
        return errno;
    }
    selected_ = device;
    return 0;
}

int I2cDevChannel::write(std::uint8_t device, std::uint8_t dataAddress,
                         std::span<const std::uint8_t> bytes) {
    if (int status = selectDevice(device)) {
        return status;
    }
    std::vector<std::uint8_t> message;
    message.reserve(bytes.size() + 1);
    message.push_back(dataAddress);
    message.insert(message.end(), bytes.begin(), bytes.end());
    ssize_t n;
    do {
        n = ::write(fd_, message.data(), message.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    return std::size_t(n) == message.size() ? 0 : EIO;
}

int I2cDevChannel::read(std::uint8_t device, std::uint8_t /*dataAddress*/,
                        std::span<std::uint8_t> buffer) {
    if (int status = selectDevice(device)) {
        return status;
    }
    ssize_t n;
    do {
        n = ::read(fd_, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    return std::size_t(n) == buffer.size() ? 0 : EIO;
}

}  // namespace pellora
