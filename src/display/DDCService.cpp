#include "display/DDCService.h"

#include <cstdarg>
#include <cstdio>

namespace pellora {

namespace {

constexpr std::uint8_t kDestination = 0x6E;
constexpr std::uint8_t kGetOpcode = 0x01;
constexpr std::uint8_t kGetReplyOpcode = 0x02;
constexpr std::uint8_t kSetOpcode = 0x03;
constexpr std::uint8_t kCapabilitiesOpcode = 0xF3;
constexpr std::uint8_t kCapabilitiesReplyOpcode = 0xE3;
constexpr std::uint8_t kResultUnsupported = 0x01;
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

template <std::size_t N>
std::array<std::uint8_t, N> withChecksum(std::array<std::uint8_t, N> packet) {
    std::uint8_t sum = kDestination ^ DDCService::ddcSubAddress;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        sum ^= packet[i];
    }
    packet[N - 1] = sum;
    return packet;
}

bool printable(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

}  // namespace

DDCService::DDCService(DisplayI2C& i2c, Clock& clock, DebugLog& debugLog, SystemLog& systemLog)
    : i2c_(i2c), clock_(clock), debugLog_(debugLog), systemLog_(systemLog) {
    open();
}

std::unique_ptr<DisplayI2CChannel> DDCService::open() {
    auto channel = i2c_.open();
    lastAvailable_.store(channel != nullptr, std::memory_order_release);
    return channel;
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

VCPReply DDCService::parseGetReply(std::uint8_t code, std::span<const std::uint8_t, 12> buffer) {
    // The code sits at 4 in the standard reply and at 3 when the read drops the source byte.
    for (std::size_t k = 3; k <= 6; ++k) {
        if (buffer[k] != code) {
            continue;
        }
        // Laid out as opcode, result code, code: the monitor is telling us it has no such
        // control, and the zeros after it are no reading.
        if (buffer[k - 2] == kGetReplyOpcode && buffer[k - 1] == kResultUnsupported) {
            return {VCPReply::Kind::unsupported, {}};
        }
        VCPValue value;
        value.max = std::uint16_t(buffer[k + 2] << 8 | buffer[k + 3]);
        value.current = std::uint16_t(buffer[k + 4] << 8 | buffer[k + 5]);
        return {VCPReply::Kind::value, value};
    }
    return {VCPReply::Kind::notEchoed, {}};
}

std::optional<std::string> DDCService::parseCapabilitiesReply(
    std::uint16_t offset, std::span<const std::uint8_t, 64> buffer) {
    if (buffer[2] == kCapabilitiesReplyOpcode) {
        std::size_t n = buffer[1] & 0x7F;
        if (n <= 3) {
            return std::string();
        }
        if (n <= 35) {
            std::string text;
            for (std::size_t i = 5; i <= n + 1; ++i) {
                if (buffer[i] >= 0x80) {
                    return std::string();
                }
                text += char(buffer[i]);
            }
            return text;
        }
    }
    const std::uint8_t high = std::uint8_t(offset >> 8);
    const std::uint8_t low = std::uint8_t(offset & 0xFF);
    for (std::size_t j = 2; j <= 61; ++j) {
        if (buffer[j] != high || buffer[j + 1] != low) {
            continue;
        }
        std::string text;
        for (std::size_t i = j + 2; i < 63 && printable(buffer[i]); ++i) {
            text += char(buffer[i]);
        }
        return text;
    }
    return std::nullopt;
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
        debugLog_.log(format("getVCP 0x%02X I2C read failed: kr=0x%X", code, unsigned(status)),
                      kTag);
        return std::nullopt;
    }
    debugLog_.log(format("getVCP 0x%02X raw: ", code) + hexBytes(buffer), kTag);
    VCPReply reply = parseGetReply(code, buffer);
    switch (reply.kind) {
        case VCPReply::Kind::value:
            return reply.value;
        case VCPReply::Kind::unsupported:
            debugLog_.log(format("getVCP 0x%02X: VCP code unsupported by the monitor", code), kTag);
            return std::nullopt;
        case VCPReply::Kind::notEchoed:
            break;
    }
    debugLog_.log(format("getVCP 0x%02X: VCP code not echoed in reply", code), kTag);
    return std::nullopt;
}

std::optional<VCPValue> DDCService::getVCP(std::uint8_t code) {
    if (auto value = getVCPOnce(code)) {
        return value;
    }
    debugLog_.log(format("getVCP 0x%02X attempt 1 failed \u2014 retrying", code), kTag);
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
        systemLog_.write(format("DDC setVCP 0x%02X failed: kr=0x%X", code, unsigned(status)));
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
        debugLog_.log(format("caps write failed at off=%d kr=0x%X", int(offset), unsigned(status)),
                      kTag);
        return std::nullopt;
    }
    clock_.sleep(capabilitiesReplyDelay);
    std::array<std::uint8_t, 64> buffer{};
    status =
        channel->read(ddcChip, ddcSubAddress, std::span(buffer.data(), capabilitiesReplyLength));
    if (status != 0) {
        debugLog_.log(format("caps read failed at off=%d kr=0x%X", int(offset), unsigned(status)),
                      kTag);
        return std::nullopt;
    }
    debugLog_.log(format("caps off=%d raw: ", int(offset)) + hexBytes(std::span(buffer.data(), 16)),
                  kTag);
    auto fragment = parseCapabilitiesReply(offset, buffer);
    if (!fragment) {
        debugLog_.log(format("caps off=%d no parseable fragment", int(offset)), kTag);
    }
    return fragment;
}

std::optional<MonitorCapabilities> DDCService::readCapabilities() {
    if (!lastAvailable()) {
        return std::nullopt;
    }
    std::string text;
    std::uint32_t offset = 0;
    while (offset < capabilitiesLimit) {
        auto fragment = readCapabilitiesChunk(std::uint16_t(offset));
        if (!fragment) {
            if (text.empty()) {
                return std::nullopt;
            }
            break;
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
