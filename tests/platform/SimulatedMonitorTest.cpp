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
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

// A request as the host puts it on the wire after the device address: source 0x51, length,
// message, checksum seeded with the destination 0x6E.
Bytes request(Bytes message) {
    Bytes bytes{0x51, std::uint8_t(0x80 | message.size())};
    bytes.insert(bytes.end(), message.begin(), message.end());
    std::uint8_t sum = 0x6E;
    for (auto b : bytes) {
        sum ^= b;
    }
    bytes.push_back(sum);
    return bytes;
}

// A reply is valid when 0x50 and every byte, checksum included, cancel out.
bool replyChecksumValid(const Bytes& reply, std::size_t length) {
    std::uint8_t sum = 0x50;
    for (std::size_t i = 0; i < length; ++i) {
        sum ^= reply[i];
    }
    return sum == 0;
}

struct SimulatedMonitorTest : ::testing::Test {
    VirtualClock clock;
    SimulatedMonitor monitor{clock};

    SimulatedMonitor::ReadResult exchange(Bytes message, std::size_t length, double wait = 0.05) {
        EXPECT_EQ(monitor.onWrite(0x37, request(std::move(message))), 0);
        clock.sleep(wait);
        return monitor.read(0x37, length);
    }
};

TEST_F(SimulatedMonitorTest, GetReplyIsTheStandardElevenBytes) {
    auto reply = exchange({0x01, 0x10}, 11);
    ASSERT_EQ(reply.status, 0);
    EXPECT_THAT(reply.bytes, ElementsAre(0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32,
                                         0x50 ^ 0x6E ^ 0x88 ^ 0x02 ^ 0x10 ^ 0x64 ^ 0x32));
    EXPECT_TRUE(replyChecksumValid(reply.bytes, 11));

    auto unsupported = exchange({0x01, 0xAC}, 11);
    EXPECT_THAT(unsupported.bytes, ElementsAre(0x6E, 0x88, 0x02, 0x01, 0xAC, 0, 0, 0, 0, 0,
                                               0x50 ^ 0x6E ^ 0x88 ^ 0x02 ^ 0x01 ^ 0xAC));
}

TEST_F(SimulatedMonitorTest, SetChangesTheRegisterWithinItsMaximum) {
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x21})), 0);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 0x21);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x01, 0x2C})), 0);  // 300
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 100);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x60, 0x00, 0x11})), 0);
    EXPECT_EQ(monitor.vcpRegister(0x60)->current, 0x11);
    // A set has no reply: the bus carries the null message.
    clock.sleep(0.05);
    EXPECT_THAT(monitor.read(0x37, 3).bytes, ElementsAre(0x6E, 0x80, 0xBE));
    EXPECT_EQ(monitor.stats().setRequests, 3);
}

TEST_F(SimulatedMonitorTest, ListedControlsTakeOnlyTheirValuesAndTheVersionIsReadOnly) {
    monitor.onWrite(0x37, request({0x03, 0x60, 0x00, 0x10}));  // not an input it has
    EXPECT_EQ(monitor.vcpRegister(0x60)->current, 0x0F);
    monitor.onWrite(0x37, request({0x03, 0x60, 0x00, 0x12}));
    EXPECT_EQ(monitor.vcpRegister(0x60)->current, 0x12);
    monitor.onWrite(0x37, request({0x03, 0xDC, 0x00, 0x01}));
    EXPECT_EQ(monitor.vcpRegister(0xDC)->current, 0x00);

    monitor.onWrite(0x37, request({0x03, 0xDF, 0x03, 0x00}));
    auto version = exchange({0x01, 0xDF}, 11);
    EXPECT_EQ(version.bytes[3], 0x00);  // supported
    EXPECT_EQ(version.bytes[8], 0x02);  // MCCS 2.
    EXPECT_EQ(version.bytes[9], 0x02);  // 2
}

TEST_F(SimulatedMonitorTest, BadRequestsAreDroppedUnanswered) {
    Bytes badSum = request({0x01, 0x10});
    badSum.back() ^= 0x01;
    Bytes wrongSource = request({0x01, 0x10});
    wrongSource[0] = 0x50;
    Bytes shortLength = request({0x01, 0x10});
    shortLength.pop_back();
    Bytes noLengthFlag{0x51, 0x02, 0x01, 0x10, std::uint8_t(0x6E ^ 0x51 ^ 0x02 ^ 0x01 ^ 0x10)};
    for (const Bytes& bad : {badSum, wrongSource, shortLength, noLengthFlag, Bytes{}}) {
        EXPECT_EQ(monitor.onWrite(0x37, bad), 0);  // acknowledged on the bus all the same
        clock.sleep(0.05);
        EXPECT_THAT(monitor.read(0x37, 11).bytes,
                    ElementsAre(0x6E, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(monitor.stats().checksumErrors, 5);
    EXPECT_EQ(monitor.stats().getRequests, 0);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x05}) /* fine */), 0);
    Bytes badSet = request({0x03, 0x10, 0x00, 0x07});
    badSet.back() ^= 0x80;
    monitor.onWrite(0x37, badSet);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 5);
}

TEST_F(SimulatedMonitorTest, ReplyIsReadOnceThenTheNullMessage) {
    auto first = exchange({0x01, 0x12}, 11);
    EXPECT_EQ(first.bytes[4], 0x12);
    EXPECT_THAT(monitor.read(0x37, 3).bytes, ElementsAre(0x6E, 0x80, 0xBE));
    EXPECT_TRUE(replyChecksumValid({0x6E, 0x80, 0xBE}, 3));
}

TEST_F(SimulatedMonitorTest, CapabilitiesComeInFragmentsAndEndEmpty) {
    const std::string caps = SimulatedMonitorOptions{}.capabilities;
    std::string read;
    std::uint16_t offset = 0;
    int fragments = 0;
    for (;;) {
        auto reply = exchange({0xF3, std::uint8_t(offset >> 8), std::uint8_t(offset)}, 38);
        ASSERT_EQ(reply.status, 0);
        ASSERT_EQ(reply.bytes[0], 0x6E);
        ASSERT_EQ(reply.bytes[2], 0xE3);
        EXPECT_EQ(reply.bytes[3] << 8 | reply.bytes[4], offset);
        std::size_t n = reply.bytes[1] & 0x7F;
        ASSERT_GE(n, 3u);
        ASSERT_LE(n, 35u);
        EXPECT_TRUE(replyChecksumValid(reply.bytes, n + 3)) << offset;
        if (n == 3) {
            break;
        }
        read.append(reply.bytes.begin() + 5, reply.bytes.begin() + 5 + (n - 3));
        offset = std::uint16_t(offset + n - 3);
        ++fragments;
    }
    EXPECT_EQ(read, caps);
    EXPECT_EQ(fragments, int((caps.size() + 31) / 32));

    SimulatedMonitorOptions small;
    small.capabilitiesFragment = 8;
    SimulatedMonitor eight(clock, small);
    eight.onWrite(0x37, request({0xF3, 0x00, 0x00}));
    clock.sleep(0.05);
    EXPECT_EQ(eight.read(0x37, 38).bytes[1], 0x80 | 11);
}

TEST_F(SimulatedMonitorTest, ReadBeforeTheReplyIsReadyIsNoise) {
    monitor.setProcessingSeconds(0.045);
    auto early = exchange({0x01, 0x10}, 11, 0.030);
    EXPECT_EQ(monitor.stats().earlyReads, 1);
    EXPECT_NE(early.bytes, Bytes({0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32,
                                  0x50 ^ 0x6E ^ 0x88 ^ 0x02 ^ 0x10 ^ 0x64 ^ 0x32}));
    // The reply is still coming and can be read once it is ready.
    clock.sleep(0.020);
    auto late = monitor.read(0x37, 11);
    EXPECT_EQ(late.bytes[4], 0x10);
    EXPECT_TRUE(replyChecksumValid(late.bytes, 11));
}

TEST_F(SimulatedMonitorTest, Faults) {
    monitor.setFault(SimulatedMonitorFault::nullReply, 1);
    EXPECT_THAT(exchange({0x01, 0x10}, 3).bytes, ElementsAre(0x6E, 0x80, 0xBE));
    EXPECT_EQ(exchange({0x01, 0x10}, 11).bytes[4], 0x10);  // spent after one request

    monitor.setFault(SimulatedMonitorFault::noReply);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);  // kept until cleared

    monitor.setFault(SimulatedMonitorFault::floatingBus);
    EXPECT_THAT(exchange({0x01, 0x10}, 11).bytes, Each(0xFF));

    monitor.setFault(SimulatedMonitorFault::garbage, 2);
    auto a = exchange({0x01, 0x10}, 11);
    auto b = exchange({0x01, 0x10}, 11);
    EXPECT_EQ(a.status, 0);
    EXPECT_NE(a.bytes, b.bytes);
    EXPECT_FALSE(replyChecksumValid(a.bytes, 11) && a.bytes[0] == 0x6E && a.bytes[4] == 0x10);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).bytes[4], 0x10);

    monitor.setFault(SimulatedMonitorFault::writeNak, 1);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), ENXIO);
    EXPECT_NE(monitor.vcpRegister(0x10)->current, 1);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), 0);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 1);
}

TEST_F(SimulatedMonitorTest, UnplugAndOtherAddresses) {
    SimulatedDisplayI2C noMonitor;
    EXPECT_EQ(noMonitor.open(), nullptr);

    auto shared = std::make_shared<SimulatedMonitor>(clock);
    SimulatedDisplayI2C bus(shared);
    auto channel = bus.open();
    ASSERT_NE(channel, nullptr);
    Bytes get{0x82, 0x01, 0x10, 0xAC};
    shared->unplugAfterWrites(1);
    EXPECT_EQ(channel->write(0x37, 0x51, get), 0);
    std::uint8_t buffer[11] = {};
    EXPECT_EQ(channel->read(0x37, 0x51, buffer), ENXIO);
    EXPECT_EQ(channel->write(0x37, 0x51, get), ENXIO);
    EXPECT_EQ(bus.open(), nullptr);
    EXPECT_EQ(bus.failedOpens(), 1);

    shared->setConnected(true);
    channel = bus.open();
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->write(0x37, 0x51, get), 0);
    clock.sleep(0.05);
    EXPECT_EQ(channel->read(0x37, 0x51, buffer), 0);
    EXPECT_EQ(buffer[4], 0x10);
    // Traffic while unplugged never reached the monitor.
    EXPECT_EQ(shared->stats().writes, 2);
    EXPECT_EQ(shared->stats().reads, 1);

    // Nothing else answers, unless the monitor is given an EDID for 0x50.
    EXPECT_EQ(monitor.onWrite(0x50, Bytes{0x00}), ENXIO);
    EXPECT_EQ(monitor.read(0x3A, 1).status, ENXIO);
    SimulatedMonitorOptions withEdid;
    withEdid.edid = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    SimulatedMonitor edid(clock, withEdid);
    EXPECT_EQ(edid.onWrite(0x50, Bytes{0x06}), 0);
    EXPECT_THAT(edid.read(0x50, 4).bytes, ElementsAre(0xFF, 0x00, 0x00, 0xFF));
}

TEST_F(SimulatedMonitorTest, ButtonsMoveBrightnessAndFlagANewValue) {
    monitor.pressButton(MonitorButton::brightnessUp, 7);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 57);
    EXPECT_EQ(monitor.vcpRegister(0x02)->current, 0x02);
    monitor.pressButton(MonitorButton::brightnessDown, 100);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 0);
    monitor.pressButton(MonitorButton::contrastUp, 50);
    EXPECT_EQ(monitor.vcpRegister(0x12)->current, 100);
    EXPECT_EQ(monitor.stats().buttonPresses, 157);
    // The host acknowledges the new values by writing 1 back.
    monitor.onWrite(0x37, request({0x03, 0x02, 0x00, 0x01}));
    EXPECT_EQ(monitor.vcpRegister(0x02)->current, 0x01);
}

TEST_F(SimulatedMonitorTest, BusAndButtonsFromTwoThreads) {
    std::thread presser([this] {
        for (int i = 0; i < 200; ++i) {
            monitor.pressButton(i % 2 ? MonitorButton::brightnessUp
                                      : MonitorButton::brightnessDown);
        }
    });
    int replies = 0;
    for (int i = 0; i < 200; ++i) {
        monitor.onWrite(0x37, request({0x01, 0x10}));
        clock.sleep(0.05);
        auto reply = monitor.read(0x37, 11);
        replies += reply.bytes[4] == 0x10 && replyChecksumValid(reply.bytes, 11);
    }
    presser.join();
    EXPECT_EQ(replies, 200);
    EXPECT_EQ(monitor.vcpRegister(0x10)->current, 50);
    EXPECT_EQ(monitor.stats().buttonPresses, 200);
}

}  // namespace
}  // namespace pellora::test
