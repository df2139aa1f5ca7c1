#include "platform/sim/SimulatedMonitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "VirtualClock.h"

namespace pellora::test {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// `bytes` and their checksum: XOR over them seeded with the destination (0x6E or host 0x50).
Bytes withChecksum(Bytes bytes, std::uint8_t seed) {
    for (auto b : bytes) {
        seed ^= b;
    }
    bytes.push_back(seed);
    return bytes;
}
// A request as the host puts it on the wire after the device address: source, length, message.
Bytes request(Bytes message) {
    message.insert(message.begin(), {0x51, std::uint8_t(0x80 | message.size())});
    return withChecksum(message, 0x6E);
}
const Bytes kBrightnessReply = withChecksum({0x6E, 0x88, 0x02, 0x00, 0x10, 0, 0, 100, 0, 50}, 0x50);

struct SimulatedMonitorTest : ::testing::Test {
    VirtualClock clock;
    SimulatedMonitor monitor{clock};

    Bytes exchange(Bytes message, std::size_t length = 11, double wait = 0.05) {
        EXPECT_EQ(monitor.onWrite(0x37, request(message)), 0);
        clock.sleep(wait);
        return monitor.read(0x37, length).bytes;
    }
    std::uint16_t current(std::uint8_t code) { return monitor.vcpRegister(code)->current; }
};

// The desk scenarios run the monitor's faults and good exchanges; these are the replies
// and refusals the host never provokes itself.
TEST_F(SimulatedMonitorTest, RepliesOnceWhenReadyAndTakesOnlyWellFormedAllowedSets) {
    EXPECT_EQ(exchange({0x01, 0x10}), kBrightnessReply);
    EXPECT_EQ(monitor.read(0x37, 3).bytes, Bytes({0x6E, 0x80, 0xBE}));  // then the null message
    EXPECT_EQ(exchange({0x01, 0xAC}),
              withChecksum({0x6E, 0x88, 0x02, 0x01, 0xAC, 0, 0, 0, 0, 0}, 0x50));
    // Read before the reply is ready: noise, and the reply still comes.
    monitor.setProcessingSeconds(0.045);
    EXPECT_NE(exchange({0x01, 0x10}, 11, 0.030), kBrightnessReply);
    clock.sleep(0.020);
    EXPECT_EQ(monitor.read(0x37, 11).bytes, kBrightnessReply);
    EXPECT_EQ(monitor.onWrite(0x50, Bytes{0x00}), ENXIO);  // the EDID is the testbed's part
    EXPECT_EQ(monitor.read(0x3A, 1).status, ENXIO);

    // Each fault for one request, then the good reply again.
    using F = SimulatedMonitorFault;
    for (auto [fault, status, reply] :
         {std::tuple{F::nullReply, 0, Bytes({0x6E, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0})},
          {F::noReply, EIO, Bytes{}},
          {F::floatingBus, 0, Bytes(11, 0xFF)}}) {
        monitor.setFault(fault, 1);
        EXPECT_EQ(monitor.onWrite(0x37, request({0x01, 0x10})), 0);
        clock.sleep(0.05);
        auto got = monitor.read(0x37, 11);
        EXPECT_EQ(std::tie(got.status, got.bytes), std::tie(status, reply)) << int(fault);
        EXPECT_EQ(exchange({0x01, 0x10}), kBrightnessReply) << int(fault);
    }

    const std::tuple<std::uint8_t, std::uint16_t, std::uint16_t> sets[] = {
        {0x10, 300, 100},                            // brightness, capped at its maximum
        {0x60, 0x10, 0x0F},     {0x60, 0x12, 0x12},  // inputs: only those it lists
        {0xDC, 0x01, 0x00},                          // a value the display mode does not list
        {0xDF, 0x0300, 0x0202},                      // the MCCS version is read-only
    };
    for (auto [code, value, after] : sets) {
        monitor.onWrite(0x37, request({0x03, code, std::uint8_t(value >> 8), std::uint8_t(value)}));
        EXPECT_EQ(current(code), after) << int(code) << " " << value;
    }
    // Acknowledged, but dropped: the next read is the null message.
    Bytes badSum = request({0x01, 0x10}), wrongSource = badSum, shortLength = badSum;
    Bytes badSet = request({0x03, 0x10, 0x00, 0x07});
    badSum.back() ^= 0x01;
    wrongSource[0] = 0x50;
    shortLength.pop_back();
    badSet.back() ^= 0x80;
    const Bytes noLengthFlag = withChecksum({0x51, 0x02, 0x01, 0x10}, 0x6E);
    for (const Bytes& bad : {badSum, wrongSource, shortLength, noLengthFlag, Bytes{}, badSet}) {
        EXPECT_EQ(monitor.onWrite(0x37, bad), 0);
        clock.sleep(0.05);
        EXPECT_THAT(monitor.read(0x37, 11).bytes,
                    ElementsAre(0x6E, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(current(0x10), 100);
}

// Run under ThreadSanitizer: buttons pressed while the host reads.
TEST_F(SimulatedMonitorTest, ButtonsMoveBrightnessWithinItsRangeEvenDuringTraffic) {
    monitor.pressButton(MonitorButton::brightnessDown, 100);
    EXPECT_EQ(current(0x10), 0);
    EXPECT_EQ(current(0x02), 0x02);  // a new control value waits until the host writes 1 back
    monitor.onWrite(0x37, request({0x03, 0x02, 0x00, 0x01}));
    EXPECT_EQ(current(0x02), 0x01);
    std::thread presser([this] {
        for (int i = 0; i < 200; ++i) {
            monitor.pressButton(i % 2 ? MonitorButton::brightnessDown
                                      : MonitorButton::brightnessUp);
        }
    });
    int replies = 0;
    for (int i = 0; i < 200; ++i) {
        Bytes reply = exchange({0x01, 0x10});
        replies +=
            reply[4] == 0x10 && withChecksum({reply.begin(), reply.end() - 1}, 0x50) == reply;
    }
    presser.join();
    EXPECT_EQ(replies, 200);
    EXPECT_EQ(current(0x10), 0);
}

}  // namespace
}  // namespace pellora::test
