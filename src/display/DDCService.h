#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "display/MonitorCapabilities.h"
#include "platform/Clock.h"
#include "platform/DisplayI2C.h"
#include "platform/LogSink.h"
#include "platform/SystemLog.h"

namespace pellora {

// One VCP feature as the monitor reports it.
struct VCPValue {
    std::uint16_t current = 0;
    std::uint16_t max = 0;

    bool operator==(const VCPValue&) const = default;
};

// A reply after its checks: what it carries, or else what was wrong with it.
template <typename T>
struct CheckedReply {
    std::optional<T> value;
    std::string failure;  // empty when `value` holds something
};

// DDC/CI over the external display's I2C channel (VESA DDC/CI, VCP codes of VESA MCCS).
// Every call blocks for the whole exchange, fixed waits included, so it belongs on the
// brightness queue only; no handle is kept open between exchanges. Not safe for concurrent
// use: one exchange at a time.
//
// Replies are bytes from outside: each is checked (source, length, checksum, opcode and the
// fields the request fixes) before anything in it is believed.
class DDCService {
  public:
    static constexpr std::uint8_t ddcChip = 0x37;        // 0x6E / 0x6F in 8-bit form
    static constexpr std::uint8_t ddcSubAddress = 0x51;  // the host's source address
    static constexpr std::uint32_t replyDelayUs = 80000;
    static constexpr double retryDelay = 0.100;
    static constexpr double capabilitiesReplyDelay = 0.100;
    static constexpr std::uint16_t capabilitiesLimit = 4096;
    // A whole string of 32-byte fragments takes under 13 s.
    static constexpr double capabilitiesSeconds = 30.0;
    static constexpr std::size_t getReplyLength = 11;
    static constexpr std::size_t capabilitiesReplyLength = 38;
    // A fragment that fails its checks is asked for again this many times before the whole
    // capabilities read is given up.
    static constexpr int capabilitiesRetries = 3;

    // Probes the channel once to set `lastAvailable`. `log` gets the "ddc" lines.
    DDCService(DisplayI2C& i2c, Clock& clock, LogSink& log, SystemLog& systemLog);

    DDCService(const DDCService&) = delete;
    DDCService& operator=(const DDCService&) = delete;

    // One attempt and, when it fails, one more 100 ms later.
    std::optional<VCPValue> getVCP(std::uint8_t code);
    std::optional<VCPValue> getVCPOnce(std::uint8_t code);
    // `value` goes out unchanged; the caller clamps.
    bool setVCP(std::uint8_t code, std::uint16_t value);
    // One request and reply. "" marks the end of the string.
    std::optional<std::string> readCapabilitiesChunk(std::uint16_t offset);
    // The string up to its end or the limit, parsed; nothing if a fragment could not be read
    // or the end did not come within `capabilitiesSeconds`.
    std::optional<MonitorCapabilities> readCapabilities();

    // Whether the latest attempt to open the channel found one.
    bool lastAvailable() const { return lastAvailable_.load(std::memory_order_acquire); }

    std::uint8_t brightnessCode() const { return brightnessCode_.load(std::memory_order_acquire); }
    void setBrightnessCode(std::uint8_t code) {
        brightnessCode_.store(code, std::memory_order_release);
    }

    // The packets as written after the data address: length byte, opcode, arguments,
    // checksum (XOR of 0x6E, 0x51 and every byte before it).
    static std::array<std::uint8_t, 4> getVCPPacket(std::uint8_t code);
    static std::array<std::uint8_t, 6> setVCPPacket(std::uint8_t code, std::uint16_t value);
    static std::array<std::uint8_t, 5> capabilitiesPacket(std::uint16_t offset);

    // The bytes a get read back, with or without the leading source byte 0x6E.
    static CheckedReply<VCPValue> parseGetReply(std::uint8_t code,
                                                std::span<const std::uint8_t> bytes);
    // The bytes a capabilities request read back: the fragment's data ("" at the end of the
    // string).
    static CheckedReply<std::string> parseCapabilitiesReply(std::uint16_t offset,
                                                            std::span<const std::uint8_t> bytes);

    // "6E 88 02": two upper-case hexadecimal digits per byte, single spaces between.
    static std::string hexBytes(std::span<const std::uint8_t> bytes);

  private:
    std::unique_ptr<DisplayI2CChannel> open();
    void log(const std::string& line);

    DisplayI2C& i2c_;
    Clock& clock_;
    LogSink& log_;
    SystemLog& systemLog_;
    std::atomic<bool> lastAvailable_{false};
    // The monitor this transport was made for: the first its channel reached. Another in its
    // place gets nothing of what was asked for this one; a fresh transport serves it.
    std::string display_;
    bool toldOfOther_ = false;
    std::atomic<std::uint8_t> brightnessCode_{0x10};
};

}  // namespace pellora
