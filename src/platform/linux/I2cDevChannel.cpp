#include "platform/linux/I2cDevChannel.h"

#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace pellora {

namespace {

// One whole I2C transfer of `size` bytes: 0, the errno, or EIO when it was cut short.
template <typename Transfer>
int transferAll(std::size_t size, Transfer transfer) {
    ssize_t n;
    do {
        n = transfer();
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    return std::size_t(n) == size ? 0 : EIO;
}

}  // namespace

I2cDevChannel::I2cDevChannel(UniqueFd fd, HeldAddress onHeld, std::string display)
    : fd_(std::move(fd)), onHeld_(std::move(onHeld)), display_(std::move(display)) {}

int I2cDevChannel::selectDevice(std::uint8_t device) {
    if (selected_ == device) {
        return 0;
    }
    const auto address = static_cast<unsigned long>(device);
    if (::ioctl(fd_.get(), I2C_SLAVE, address) < 0) {
        const int error = errno;
        selected_ = -1;
        if (error != EBUSY || !onHeld_ || !onHeld_(device)) {
            return error;
        }
        if (::ioctl(fd_.get(), I2C_SLAVE_FORCE, address) < 0) {
            return errno;
        }
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
    return transferAll(message.size(),
                       [&] { return ::write(fd_.get(), message.data(), message.size()); });
}

int I2cDevChannel::read(std::uint8_t device, std::uint8_t /*dataAddress*/,
                        std::span<std::uint8_t> buffer) {
    if (int status = selectDevice(device)) {
        return status;
    }
    return transferAll(buffer.size(),
                       [&] { return ::read(fd_.get(), buffer.data(), buffer.size()); });
}

}  // namespace pellora
