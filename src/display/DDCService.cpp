#include "display/DDCService.h"

#include <cstdarg>
#include <cstdio>
#include <system_error>
#include <vector>

namespace pellora {

namespace {

constexpr std::uint8_t kDestination = 0x6E;  // the monitor, and the source of its replies
constexpr std::uint8_t kVirtualHost = 0x50;  // seeds a reply's checksum
constexpr std::uint8_t kGetOpcode = 0x01;
constexpr std::uint8_t kGetReplyOpcode = 0x02;
constexpr std::uint8_t kSetOpcode = 0x03;
constexpr std::uint8_t kCapabilitiesOpcode = 0xF3;
constexpr std::uint8_t kCapabilitiesReplyOpcode = 0xE3;
constexpr std::uint8_t kResultUnsupported = 0x01;
constexpr std::size_t kGetReplyPayload = 8;  // opcode, result, code, type, max, current
constexpr std::size_t kMaxFragmentData = 32;
constexpr char kTag[] = "ddc";

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// "errno=5 (Input/output error)"
std::string errnoText(int status) {
    return format("errno=%d (%s)", status, std::generic_category().message(status).c_str());
}

template <std::size_t N>
std::array<std::uint8_t, N> withChecksum(std::array<std::uint8_t, N> packet) {
    std::uint8_t sum = kDestination ^ DDCService::ddcSubAddress;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        sum ^= packet[i];
    }
    packet[N - 1] = sum;
    return packet;
}

// A reply as the monitor framed it: source 0x6E, length byte 0x80 | n, n bytes, checksum.
// Some hosts' reads leave out the source byte; it is put back so that the checksum covers the
// same bytes either way and the payload sits at the same place.
struct Frame {
    std::vector<std::uint8_t> bytes;  // source to checksum
    std::size_t payload() const { return bytes.size() - 3; }
    std::uint8_t operator[](std::size_t i) const { return bytes[i]; }
};

// Empty when `read` holds a whole, intact frame, else what is wrong with it.
std::string unframe(std::span<const std::uint8_t> read, Frame& frame) {
    if (read.empty()) {
        return "nothing read";
    }
    frame.bytes.clear();
    if (read[0] != kDestination) {
        // A length byte first means the source byte was left out; anything else is a
        // reply from someone else, or noise.
        if ((read[0] & 0x80) == 0) {
            return format("source byte 0x%02X is not 0x6E", read[0]);
        }
        frame.bytes.push_back(kDestination);
    }
    frame.bytes.insert(frame.bytes.end(), read.begin(), read.end());
    if (frame.bytes.size() < 3) {
        return format("%zu bytes read, too few for a reply", read.size());
    }
    const std::uint8_t length = frame[1];
    if ((length & 0x80) == 0) {
        return format("length byte 0x%02X lacks the 0x80 flag", length);
    }
    const std::size_t needed = std::size_t(length & 0x7F) + 3;
    if (needed > frame.bytes.size()) {
        return format("length byte 0x%02X runs past the %zu bytes read", length, read.size());
    }
    frame.bytes.resize(needed);
    std::uint8_t sum = kVirtualHost;
    for (std::size_t i = 0; i + 1 < needed; ++i) {
        sum ^= frame[i];
    }
    if (sum != frame[needed - 1]) {
        return format("checksum 0x%02X, expected 0x%02X", frame[needed - 1], sum);
    }
    if (frame.payload() == 0) {
        return "null message";
    }
    return {};
}

}  // namespace

DDCService::DDCService(DisplayI2C& i2c, Clock& clock, LogSink& log, SystemLog& systemLog)
    : i2c_(i2c), clock_(clock), log_(log), systemLog_(systemLog) {
    open();
}

std::unique_ptr<DisplayI2CChannel> DDCService::open() {
    auto channel = i2c_.open();
    if (channel) {
        const std::string display = channel->display();
        if (display_.empty()) {
            display_ = display;
        } else if (!display.empty() && display != display_) {
            // Swapped on the cable while requests waited: they were worked out for the other.
            if (!toldOfOther_) {
                log("Another monitor (" + display + ") took the place of " + display_ +
                    "; what was asked for that one is not sent");
                toldOfOther_ = true;
            }
            channel.reset();
        }
    }
    lastAvailable_.store(channel != nullptr, std::memory_order_release);
    return channel;
}

void DDCService::log(const std::string& line) {
    log_.log(line, kTag);
}

std::array<std::uint8_t, 4> DDCService::getVCPPacket(std::uint8_t code) {
    return withChecksum<4>({0x82, kGetOpcode, code, 0});
}

std::array<std::uint8_t, 6> DDCService::setVCPPacket(std::uint8_t code, std::uint16_t value) {
    return withChecksum<6>(
        {0x84, kSetOpcode, code, std::uint8_t(value >> 8), std::uint8_t(value & 0xFF), 0});
}

std::array<std::uint8_t, 5> DDCService::capabilitiesPacket(std::uint16_t offset) {
    return withChecksum<5>(
        {0x83, kCapabilitiesOpcode, std::uint8_t(offset >> 8), std::uint8_t(offset & 0xFF), 0});
}

std::string DDCService::hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

CheckedReply<VCPValue> DDCService::parseGetReply(std::uint8_t code,
                                                 std::span<const std::uint8_t> bytes) {
    Frame frame;
    if (std::string failure = unframe(bytes, frame); !failure.empty()) {
        return {std::nullopt, failure};
    }
    // Source, length, opcode, result code, code, type, max high and low, current high and low.
    if (frame[2] != kGetReplyOpcode) {
        return {std::nullopt, format("opcode 0x%02X, expected 0x02", frame[2])};
    }
    if (frame.payload() != kGetReplyPayload) {
        return {std::nullopt, format("length byte 0x%02X, expected 0x88", frame[1])};
    }
    if (frame[3] == kResultUnsupported) {
        return {std::nullopt, "VCP code unsupported by the monitor"};
    }
    if (frame[3] != 0) {
        return {std::nullopt, format("result code 0x%02X", frame[3])};
    }
    if (frame[4] != code) {
        return {std::nullopt, "VCP code not echoed in reply"};
    }
    VCPValue value;
    value.max = std::uint16_t(frame[6] << 8 | frame[7]);
    value.current = std::uint16_t(frame[8] << 8 | frame[9]);
    if (value.max == 0) {
        return {std::nullopt, "maximum 0"};
    }
    return {value, {}};
}

CheckedReply<std::string> DDCService::parseCapabilitiesReply(std::uint16_t offset,
                                                             std::span<const std::uint8_t> bytes) {
    Frame frame;
    if (std::string failure = unframe(bytes, frame); !failure.empty()) {
        return {std::nullopt, failure};
    }
    // Source, length, opcode, offset high and low, data, checksum.
    if (frame[2] != kCapabilitiesReplyOpcode) {
        return {std::nullopt, format("opcode 0x%02X, expected 0xE3", frame[2])};
    }
    if (frame.payload() < 3) {
        return {std::nullopt, format("length byte 0x%02X leaves no room for an offset", frame[1])};
    }
    const std::size_t data = frame.payload() - 3;
    if (data > kMaxFragmentData) {
        return {std::nullopt, format("length byte 0x%02X, over 32 data bytes", frame[1])};
    }
    const int echoed = frame[3] << 8 | frame[4];
    if (echoed != offset) {
        return {std::nullopt, format("offset %d, not the %d asked for", echoed, int(offset))};
    }
    std::string text;
    for (std::size_t i = 5; i < 5 + data; ++i) {
        if (frame[i] >= 0x80) {
            return {std::nullopt, format("data byte 0x%02X is not ASCII", frame[i])};
        }
        text += char(frame[i]);
    }
    return {std::move(text), {}};
}

std::optional<VCPValue> DDCService::getVCPOnce(std::uint8_t code) {
    auto channel = open();
    if (!channel) {
        return std::nullopt;
    }
    auto packet = getVCPPacket(code);
    if (channel->write(ddcChip, ddcSubAddress, packet) != 0) {
        return std::nullopt;
    }
    clock_.sleep(replyDelayUs / 1e6);
    std::array<std::uint8_t, 12> buffer{};
    int status = channel->read(ddcChip, ddcSubAddress, std::span(buffer.data(), getReplyLength));
    if (status != 0) {
        log(format("getVCP 0x%02X I2C read failed: ", code) + errnoText(status));
        return std::nullopt;
    }
    log(format("getVCP 0x%02X raw: ", code) + hexBytes(buffer));
    auto reply = parseGetReply(code, std::span(buffer.data(), getReplyLength));
    if (!reply.value) {
        log(format("getVCP 0x%02X: ", code) + reply.failure);
    }
    return reply.value;
}

std::optional<VCPValue> DDCService::getVCP(std::uint8_t code) {
    if (auto value = getVCPOnce(code)) {
        return value;
    }
    log(format("getVCP 0x%02X attempt 1 failed \u2014 retrying", code));
    clock_.sleep(retryDelay);
    return getVCPOnce(code);
}

bool DDCService::setVCP(std::uint8_t code, std::uint16_t value) {
    auto channel = open();
    if (!channel) {
        return false;
    }
    auto packet = setVCPPacket(code, value);
    // Sent twice in case a busy monitor misses one; only the second status counts.
    (void)channel->write(ddcChip, ddcSubAddress, packet);
    int status = channel->write(ddcChip, ddcSubAddress, packet);
    if (status != 0) {
        systemLog_.write(format("DDC setVCP 0x%02X failed: ", code) + errnoText(status));
        return false;
    }
    return true;
}

std::optional<std::string> DDCService::readCapabilitiesChunk(std::uint16_t offset) {
    auto channel = open();
    if (!channel) {
        return std::nullopt;
    }
    auto packet = capabilitiesPacket(offset);
    int status = channel->write(ddcChip, ddcSubAddress, packet);
    if (status != 0) {
        log(format("caps write failed at off=%d ", int(offset)) + errnoText(status));
        return std::nullopt;
    }
    clock_.sleep(capabilitiesReplyDelay);
    std::array<std::uint8_t, 64> buffer{};
    status =
        channel->read(ddcChip, ddcSubAddress, std::span(buffer.data(), capabilitiesReplyLength));
    if (status != 0) {
        log(format("caps read failed at off=%d ", int(offset)) + errnoText(status));
        return std::nullopt;
    }
    log(format("caps off=%d raw: ", int(offset)) + hexBytes(std::span(buffer.data(), 16)));
    auto reply = parseCapabilitiesReply(offset, std::span(buffer.data(), capabilitiesReplyLength));
    if (!reply.value) {
        log(format("caps off=%d: ", int(offset)) + reply.failure);
    }
    return std::move(reply.value);
}

std::optional<MonitorCapabilities> DDCService::readCapabilities() {
    if (!lastAvailable()) {
        return std::nullopt;
    }
    std::string text;
    std::uint32_t offset = 0;
    // A monitor that sends a character at a time and never ends would hold the brightness
    // queue for minutes.
    const double deadline = clock_.monotonic() + capabilitiesSeconds;
    while (offset < capabilitiesLimit) {
        if (clock_.monotonic() > deadline) {
            log(format("caps off=%d: no end of the string in time, capabilities not read",
                       int(offset)));
            return std::nullopt;
        }
        std::optional<std::string> fragment = readCapabilitiesChunk(std::uint16_t(offset));
        int attempts = 1;
        // A busy monitor answers with the null message or a damaged fragment; ask again after
        // the protocol's pause. With the channel gone there is nobody to ask.
        while (!fragment && attempts <= capabilitiesRetries && lastAvailable()) {
            clock_.sleep(retryDelay);
            fragment = readCapabilitiesChunk(std::uint16_t(offset));
            ++attempts;
        }
        if (!fragment) {
            // Part of a string is no string: what is missing may be any of its codes.
            log(format("caps off=%d: no fragment after %d attempts, capabilities not read",
                       int(offset), attempts));
            return std::nullopt;
        }
        if (fragment->empty()) {
            break;
        }
        text += *fragment;
        offset += std::uint32_t(fragment->size());
    }
    systemLog_.write(format("DDC capabilities (%d bytes): ", int(text.size())) + text);
    return MonitorCapabilities::parse(text);
}

}  // namespace pellora
