#include "platform/sim/SimulatedMonitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "VirtualClock.h"
#include "platform/sim/SimulatedDisplayI2C.h"

namespace pellora::test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// `bytes` and their checksum: XOR seeded with the destination (0x6E for the monitor, 0x50 for
// the host), over every byte.
Bytes withChecksum(Bytes bytes, std::uint8_t seed) {
    std::uint8_t sum = seed;
    for (auto b : bytes) {
        sum ^= b;
    }
    bytes.push_back(sum);
    return bytes;
}
// A request as the host puts it on the wire after the device address: source, length, message.
Bytes request(const Bytes& message) {
    Bytes bytes{0x51, std::uint8_t(0x80 | message.size())};
    bytes.insert(bytes.end(), message.begin(), message.end());
    return withChecksum(bytes, 0x6E);
}

const Bytes kBrightnessReply = withChecksum({0x6E, 0x88, 0x02, 0x00, 0x10, 0, 0, 100, 0, 50}, 0x50);
const Bytes kNull = {0x6E, 0x80, 0xBE};  // its checksum 0x50 ^ 0x6E ^ 0x80

struct SimulatedMonitorTest : ::testing::Test {
    VirtualClock clock;
    SimulatedMonitor monitor{clock};

    SimulatedMonitor::ReadResult exchange(Bytes message, std::size_t length, double wait = 0.05) {
        EXPECT_EQ(monitor.onWrite(0x37, request(message)), 0);
        clock.sleep(wait);
        return monitor.read(0x37, length);
    }
    Bytes getBrightness() { return exchange({0x01, 0x10}, 11).bytes; }
    std::uint16_t current(std::uint8_t code) { return monitor.vcpRegister(code)->current; }
};

TEST_F(SimulatedMonitorTest, GetRepliesOnceWhenReadyThenTheNullMessage) {
    EXPECT_EQ(getBrightness(), kBrightnessReply);
    EXPECT_EQ(monitor.read(0x37, 3).bytes, kNull);
    EXPECT_EQ(exchange({0x01, 0xAC}, 11).bytes,  // unsupported code
              withChecksum({0x6E, 0x88, 0x02, 0x01, 0xAC, 0, 0, 0, 0, 0}, 0x50));
    // Read before the reply is ready: noise, and the reply still comes.
    monitor.setProcessingSeconds(0.045);
    EXPECT_NE(exchange({0x01, 0x10}, 11, 0.030).bytes, kBrightnessReply);
    clock.sleep(0.020);
    EXPECT_EQ(monitor.read(0x37, 11).bytes, kBrightnessReply);
    // Nothing else answers (the EDID at 0x50 is the Linux testbed's part).
    EXPECT_EQ(monitor.onWrite(0x50, Bytes{0x00}), ENXIO);
    EXPECT_EQ(monitor.read(0x3A, 1).status, ENXIO);
}

TEST_F(SimulatedMonitorTest, SetTakesOnlyValuesTheControlAllowsAndBadRequestsAreDropped) {
    const std::tuple<std::uint8_t, std::uint16_t, std::uint16_t> sets[] = {
        {0x10, 0x21, 0x21},     {0x10, 300, 100},    // brightness, capped at its maximum
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
    badSum.back() ^= 0x01;
    wrongSource[0] = 0x50;
    shortLength.pop_back();
    Bytes noLengthFlag = withChecksum({0x51, 0x02, 0x01, 0x10}, 0x6E);
    Bytes badSet = request({0x03, 0x10, 0x00, 0x07});
    badSet.back() ^= 0x80;
    for (const Bytes& bad : {badSum, wrongSource, shortLength, noLengthFlag, Bytes{}, badSet}) {
        EXPECT_EQ(monitor.onWrite(0x37, bad), 0);
        clock.sleep(0.05);
        EXPECT_THAT(monitor.read(0x37, 11).bytes,
                    ElementsAre(0x6E, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(monitor.stats().checksumErrors, 6);
    EXPECT_EQ(current(0x10), 100);
}

TEST_F(SimulatedMonitorTest, FaultsLastTheirCountAndUnplugEndsTraffic) {
    monitor.setFault(SimulatedMonitorFault::nullReply, 1);
    EXPECT_EQ(exchange({0x01, 0x10}, 3).bytes, kNull);
    EXPECT_EQ(getBrightness(), kBrightnessReply);  // spent after one request
    monitor.setFault(SimulatedMonitorFault::noReply);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);  // kept until changed
    monitor.setFault(SimulatedMonitorFault::floatingBus);
    EXPECT_THAT(getBrightness(), Each(0xFF));
    monitor.setFault(SimulatedMonitorFault::garbage, 2);
    Bytes a = getBrightness(), b = getBrightness();
    EXPECT_TRUE(a != b && a != kBrightnessReply);
    EXPECT_EQ(getBrightness(), kBrightnessReply);
    monitor.setFault(SimulatedMonitorFault::writeNak, 1);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), ENXIO);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), 0);
    EXPECT_EQ(current(0x10), 1);

    auto shared = std::make_shared<SimulatedMonitor>(clock);
    SimulatedDisplayI2C bus(shared);
    auto channel = bus.open();
    ASSERT_NE(channel, nullptr);
    std::uint8_t buffer[11] = {};
    shared->unplugAfterWrites(1);
    EXPECT_EQ(channel->write(0x37, 0x51, Bytes{0x82, 0x01, 0x10, 0xAC}), 0);
    EXPECT_EQ(channel->read(0x37, 0x51, buffer), ENXIO);
    EXPECT_EQ(bus.open(), nullptr);
    EXPECT_EQ(shared->stats().reads, 0) << "traffic while unplugged never reached the monitor";
}

TEST_F(SimulatedMonitorTest, ButtonsMoveBrightnessAndFlagANewValueEvenDuringTraffic) {
    monitor.pressButton(MonitorButton::brightnessUp, 7);
    EXPECT_EQ(current(0x10), 57);
    EXPECT_EQ(current(0x02), 0x02);
    monitor.pressButton(MonitorButton::brightnessDown, 100);
    EXPECT_EQ(current(0x10), 0);
    // The host acknowledges the new values by writing 1 back.
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
        Bytes reply = getBrightness();
        replies +=
            reply[4] == 0x10 && withChecksum({reply.begin(), reply.end() - 1}, 0x50) == reply;
    }
    presser.join();
    EXPECT_EQ(replies, 200);
    EXPECT_EQ(current(0x10), 0);
}

}  // namespace
}  // namespace pellora::test
