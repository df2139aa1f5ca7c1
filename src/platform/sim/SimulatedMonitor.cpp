#include "platform/sim/SimulatedMonitor.h"

#include <algorithm>
#include <cerrno>

namespace pellora {

namespace {

constexpr std::uint8_t kHostSource = 0x51;
constexpr std::uint8_t kWriteDestination = 0x6E;  // 0x37 in 8-bit form, seeds the request sum
constexpr std::uint8_t kVirtualHost = 0x50;       // seeds the reply checksum
constexpr std::uint8_t kGet = 0x01;
constexpr std::uint8_t kGetReply = 0x02;
constexpr std::uint8_t kSet = 0x03;
constexpr std::uint8_t kCapabilities = 0xF3;
constexpr std::uint8_t kCapabilitiesReply = 0xE3;
constexpr std::uint8_t kNewControlValue = 0x02;

std::vector<std::uint8_t> sealed(std::vector<std::uint8_t> reply) {
    std::uint8_t sum = kVirtualHost;
    for (std::uint8_t byte : reply) {
        sum ^= byte;
    }
    reply.push_back(sum);
    return reply;
}

}  // namespace

SimulatedMonitor::SimulatedMonitor(const Clock& clock, SimulatedMonitorOptions options)
    : clock_(clock),
      options_(std::move(options)),
      capabilities_(options_.capabilities),
      processingSeconds_(options_.processingSeconds),
      noise_(options_.seed == 0 ? 1 : options_.seed) {
    // The lists match the default capabilities string, so the monitor does what it claims.
    registers_ = {
        {0x02, {0x01, 0x02}},                            // new control value: none
        {0x10, {50, 100}},                               // luminance
        {0x12, {75, 100}},                               // contrast
        {0x14, {0x05, 0x0D, {0x05, 0x06, 0x08, 0x0B}}},  // colour preset: 6500 K
        {0x16, {100, 100}},                              // video gain red
        {0x18, {100, 100}},                              // green
        {0x1A, {100, 100}},                              // blue
        {0x60, {0x0F, 0x12, {0x0F, 0x11, 0x12}}},        // input source: DisplayPort 1
        {0x6B, {50, 100}},                               // backlight
        {0xD6, {0x01, 0x05, {0x01, 0x04}}},              // power mode: on
        {0xDC, {0x00, 0x05, {0x00, 0x02, 0x03, 0x05}}},  // picture mode
        {0xDF, {0x0202, 0xFFFF, {}, true}},              // VCP version 2.2
    };
}

int SimulatedMonitor::onWrite(std::uint8_t device, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (!connected_) {
        return ENXIO;
    }
    if (device == edidAddress && !options_.edid.empty()) {
        edidOffset_ = bytes.empty() ? 0 : bytes[0];
        return 0;
    }
    if (device != ddcAddress) {
        return ENXIO;
    }
    ++stats_.writes;
    const bool isSet = bytes.size() > 2 && bytes[2] == kSet;
    if (faultActiveLocked(SimulatedMonitorFault::writeNak) ||
        (isSet && faultActiveLocked(SimulatedMonitorFault::setNak))) {
        spendFaultLocked();
        return ENXIO;
    }
    int status = acceptWriteLocked(bytes);
    if (unplugAfterWrites_ > 0 && --unplugAfterWrites_ == 0) {
        connected_ = false;
        pending_ = Pending::none;
    }
    return status;
}

int SimulatedMonitor::acceptWriteLocked(std::span<const std::uint8_t> bytes) {
    // Source, length byte (0x80 | count), `count` bytes, checksum.
    bool wellFormed = bytes.size() >= 3 && bytes[0] == kHostSource && (bytes[1] & 0x80) != 0 &&
                      bytes.size() == std::size_t(bytes[1] & 0x7F) + 3;
    std::uint8_t sum = kWriteDestination;
    for (std::uint8_t byte : bytes) {
        sum ^= byte;
    }
    if (!wellFormed || sum != 0 || (bytes[1] & 0x7F) == 0) {
        // The I2C layer acknowledged the bytes; DDC/CI drops the message unanswered.
        ++stats_.checksumErrors;
        pending_ = Pending::none;
        return 0;
    }
    handleRequestLocked(bytes.subspan(2, bytes[1] & 0x7F));
    return 0;
}

void SimulatedMonitor::handleRequestLocked(std::span<const std::uint8_t> message) {
    pending_ = Pending::none;
    requestTime_ = clock_.monotonic();
    const std::uint8_t opcode = message[0];
    if (opcode == kGet && message.size() == 2) {
        ++stats_.getRequests;
        requestCode_ = message[1];
        pending_ = Pending::getReply;
    } else if (opcode == kSet && message.size() == 4) {
        ++stats_.setRequests;
        auto it = registers_.find(message[1]);
        if (it != registers_.end() && !it->second.readOnly) {
            Register& r = it->second;
            std::uint16_t value = std::uint16_t(message[2] << 8 | message[3]);
            if (r.allowed.empty()) {
                r.current = std::min(value, r.max);
            } else if (std::find(r.allowed.begin(), r.allowed.end(), value) != r.allowed.end()) {
                r.current = value;
            }
        }
    } else if (opcode == kCapabilities && message.size() == 3) {
        ++stats_.capabilitiesRequests;
        requestOffset_ = std::uint16_t(message[1] << 8 | message[2]);
        pending_ = Pending::capabilitiesReply;
    }
    if (pending_ != Pending::none && faultActiveLocked(SimulatedMonitorFault::nullReply)) {
        spendFaultLocked();
        pending_ = Pending::none;
    }
}

SimulatedMonitor::ReadResult SimulatedMonitor::read(std::uint8_t device, std::size_t length) {
    std::lock_guard lock(mutex_);
    ReadResult result;
    if (!connected_) {
        result.status = ENXIO;
        return result;
    }
    if (device == edidAddress && !options_.edid.empty()) {
        for (std::size_t i = 0; i < length; ++i) {
            result.bytes.push_back(options_.edid[edidOffset_ % options_.edid.size()]);
            ++edidOffset_;
        }
        return result;
    }
    if (device != ddcAddress) {
        result.status = ENXIO;
        return result;
    }
    ++stats_.reads;
    if (faultActiveLocked(SimulatedMonitorFault::noReply)) {
        spendFaultLocked();
        result.status = EIO;
        return result;
    }
    if (faultActiveLocked(SimulatedMonitorFault::floatingBus)) {
        spendFaultLocked();
        result.bytes.assign(length, 0xFF);
        return result;
    }
    if (faultActiveLocked(SimulatedMonitorFault::garbage)) {
        spendFaultLocked();
        result.bytes = noiseLocked(length);
        return result;
    }
    if (pending_ != Pending::none && clock_.monotonic() - requestTime_ < processingSeconds_) {
        // Still working on the request: the bus carries whatever the controller left there.
        ++stats_.earlyReads;
        result.bytes = noiseLocked(length);
        return result;
    }
    result.bytes = replyLocked();
    result.bytes.resize(length, 0x00);
    return result;
}

std::vector<std::uint8_t> SimulatedMonitor::replyLocked() {
    Pending pending = pending_;
    pending_ = Pending::none;
    switch (pending) {
        case Pending::getReply: {
            auto it = registers_.find(requestCode_);
            if (it == registers_.end()) {
                return sealed({0x6E, 0x88, kGetReply, 0x01, requestCode_, 0, 0, 0, 0, 0});
            }
            const Register& r = it->second;
            return sealed({0x6E, 0x88, kGetReply, 0x00, requestCode_, 0x00,
                           std::uint8_t(r.max >> 8), std::uint8_t(r.max & 0xFF),
                           std::uint8_t(r.current >> 8), std::uint8_t(r.current & 0xFF)});
        }
        case Pending::capabilitiesReply: {
            std::vector<std::uint8_t> reply{0x6E, 0x80, kCapabilitiesReply,
                                            std::uint8_t(requestOffset_ >> 8),
                                            std::uint8_t(requestOffset_ & 0xFF)};
            std::size_t fragment = std::min<std::size_t>(options_.capabilitiesFragment, 32);
            if (requestOffset_ < capabilities_.size()) {
                std::size_t count = std::min(fragment, capabilities_.size() - requestOffset_);
                reply.insert(reply.end(), capabilities_.begin() + requestOffset_,
                             capabilities_.begin() + requestOffset_ + count);
            }
            reply[1] = std::uint8_t(0x80 | (reply.size() - 2));
            return sealed(std::move(reply));
        }
        case Pending::none:
            break;
    }
    return sealed({0x6E, 0x80});
}

std::vector<std::uint8_t> SimulatedMonitor::noiseLocked(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (auto& byte : bytes) {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        byte = std::uint8_t(noise_ >> 24);
    }
    return bytes;
}

bool SimulatedMonitor::faultActiveLocked(SimulatedMonitorFault fault) {
    return fault_ == fault;
}

void SimulatedMonitor::spendFaultLocked() {
    if (faultTimes_ > 0 && --faultTimes_ == 0) {
        fault_ = SimulatedMonitorFault::none;
    }
}

void SimulatedMonitor::pressButton(MonitorButton button, int times) {
    std::lock_guard lock(mutex_);
    bool brightness =
        button == MonitorButton::brightnessUp || button == MonitorButton::brightnessDown;
    bool up = button == MonitorButton::brightnessUp || button == MonitorButton::contrastUp;
    auto it = registers_.find(brightness ? 0x10 : 0x12);
    if (it == registers_.end() || times <= 0) {
        return;
    }
    stats_.buttonPresses += times;
    int value = int(it->second.current) + (up ? 1 : -1) * options_.buttonStep * times;
    it->second.current = std::uint16_t(std::clamp(value, 0, int(it->second.max)));
    if (auto flag = registers_.find(kNewControlValue); flag != registers_.end()) {
        flag->second.current = 0x02;  // new control values are waiting
    }
}

std::optional<SimulatedMonitor::Register> SimulatedMonitor::vcpRegister(std::uint8_t code) {
    std::lock_guard lock(mutex_);
    auto it = registers_.find(code);
    if (it == registers_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void SimulatedMonitor::defineRegister(std::uint8_t code, std::uint16_t current, std::uint16_t max) {
    std::lock_guard lock(mutex_);
    registers_[code] = Register{std::min(current, max), max};
}

void SimulatedMonitor::removeRegister(std::uint8_t code) {
    std::lock_guard lock(mutex_);
    registers_.erase(code);
}

void SimulatedMonitor::setCapabilities(std::string text) {
    std::lock_guard lock(mutex_);
    capabilities_ = std::move(text);
}

void SimulatedMonitor::setFault(SimulatedMonitorFault fault, int times) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
    faultTimes_ = fault == SimulatedMonitorFault::none ? 0 : std::max(times, 0);
}

void SimulatedMonitor::setProcessingSeconds(double seconds) {
    std::lock_guard lock(mutex_);
    processingSeconds_ = seconds;
}

void SimulatedMonitor::setConnected(bool connected) {
    std::lock_guard lock(mutex_);
    connected_ = connected;
    unplugAfterWrites_ = -1;
    pending_ = Pending::none;
}

bool SimulatedMonitor::isConnected() {
    std::lock_guard lock(mutex_);
    return connected_;
}

void SimulatedMonitor::unplugAfterWrites(int writes) {
    std::lock_guard lock(mutex_);
    if (writes <= 0) {
        connected_ = false;
        pending_ = Pending::none;
        return;
    }
    unplugAfterWrites_ = writes;
}

SimulatedMonitor::Stats SimulatedMonitor::stats() {
    std::lock_guard lock(mutex_);
    return stats_;
}

void SimulatedMonitor::resetStats() {
    std::lock_guard lock(mutex_);
    stats_ = Stats{};
}

}  // namespace pellora
