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
bool checksumValid(const Bytes& reply, std::size_t length) {
    std::uint8_t sum = 0x50;
    for (std::size_t i = 0; i < length && i < reply.size(); ++i) {
        sum ^= reply[i];
    }
    return sum == 0 && length <= reply.size();
}

const Bytes kBrightnessReply = {0x6E,
                                0x88,
                                0x02,
                                0x00,
                                0x10,
                                0x00,
                                0x00,
                                0x64,
                                0x00,
                                0x32,
                                0x50 ^ 0x6E ^ 0x88 ^ 0x02 ^ 0x10 ^ 0x64 ^ 0x32};
const Bytes kNull = {0x6E, 0x80, 0xBE};

struct SimulatedMonitorTest : ::testing::Test {
    VirtualClock clock;
    SimulatedMonitor monitor{clock};

    SimulatedMonitor::ReadResult exchange(Bytes message, std::size_t length, double wait = 0.05) {
        EXPECT_EQ(monitor.onWrite(0x37, request(std::move(message))), 0);
        clock.sleep(wait);
        return monitor.read(0x37, length);
    }
    std::uint16_t current(std::uint8_t code) { return monitor.vcpRegister(code)->current; }
};

TEST_F(SimulatedMonitorTest, GetRepliesOnceWhenReadyThenTheNullMessage) {
    auto reply = exchange({0x01, 0x10}, 11);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.bytes, kBrightnessReply);
    EXPECT_THAT(monitor.read(0x37, 3).bytes, ElementsAre(0x6E, 0x80, 0xBE));
    EXPECT_TRUE(checksumValid(kNull, 3));
    EXPECT_THAT(exchange({0x01, 0xAC}, 11).bytes,  // unsupported code
                ElementsAre(0x6E, 0x88, 0x02, 0x01, 0xAC, 0, 0, 0, 0, 0,
                            0x50 ^ 0x6E ^ 0x88 ^ 0x02 ^ 0x01 ^ 0xAC));

    // Read before the reply is ready: noise, and the reply still comes.
    monitor.setProcessingSeconds(0.045);
    EXPECT_NE(exchange({0x01, 0x10}, 11, 0.030).bytes, kBrightnessReply);
    EXPECT_EQ(monitor.stats().earlyReads, 1);
    clock.sleep(0.020);
    EXPECT_EQ(monitor.read(0x37, 11).bytes, kBrightnessReply);
}

TEST_F(SimulatedMonitorTest, SetTakesOnlyValuesTheControlAllows) {
    const std::tuple<std::uint8_t, std::uint16_t, std::uint16_t> sets[] = {
        {0x10, 0x21, 0x21},     {0x10, 300, 100},    // brightness, capped at its maximum
        {0x60, 0x10, 0x0F},     {0x60, 0x12, 0x12},  // inputs: only those it lists
        {0xDC, 0x01, 0x00},                          // a value the display mode does not list
        {0xDF, 0x0300, 0x0202},                      // the MCCS version is read-only
    };
    for (auto [code, value, after] : sets) {
        EXPECT_EQ(monitor.onWrite(
                      0x37, request({0x03, code, std::uint8_t(value >> 8), std::uint8_t(value)})),
                  0);
        EXPECT_EQ(current(code), after) << int(code) << " " << value;
    }
    clock.sleep(0.05);
    EXPECT_EQ(monitor.read(0x37, 3).bytes, kNull);  // a set has no reply
    EXPECT_EQ(monitor.stats().setRequests, 6);
}

TEST_F(SimulatedMonitorTest, BadRequestsAreAcknowledgedButDropped) {
    Bytes badSum = request({0x01, 0x10});
    badSum.back() ^= 0x01;
    Bytes wrongSource = request({0x01, 0x10});
    wrongSource[0] = 0x50;
    Bytes shortLength = request({0x01, 0x10});
    shortLength.pop_back();
    Bytes noLengthFlag{0x51, 0x02, 0x01, 0x10, std::uint8_t(0x6E ^ 0x51 ^ 0x02 ^ 0x01 ^ 0x10)};
    Bytes badSet = request({0x03, 0x10, 0x00, 0x07});
    badSet.back() ^= 0x80;
    for (const Bytes& bad : {badSum, wrongSource, shortLength, noLengthFlag, Bytes{}, badSet}) {
        EXPECT_EQ(monitor.onWrite(0x37, bad), 0);
        clock.sleep(0.05);
        EXPECT_THAT(monitor.read(0x37, 11).bytes,
                    ElementsAre(0x6E, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(monitor.stats().checksumErrors, 6);
    EXPECT_EQ(monitor.stats().getRequests, 0);
    EXPECT_EQ(current(0x10), 50);
}

TEST_F(SimulatedMonitorTest, CapabilitiesComeInFragmentsAndEndEmpty) {
    for (std::size_t fragment : {32u, 8u}) {
        SimulatedMonitorOptions options;
        options.capabilitiesFragment = fragment;
        SimulatedMonitor sized(clock, options);
        std::string read;
        int fragments = 0;
        for (;;) {
            auto offset = std::uint16_t(read.size());
            sized.onWrite(0x37, request({0xF3, std::uint8_t(offset >> 8), std::uint8_t(offset)}));
            clock.sleep(0.05);
            Bytes reply = sized.read(0x37, 38).bytes;
            std::size_t n = reply[1] & 0x7F;
            ASSERT_TRUE(n >= 3 && n <= fragment + 3) << n;
            ASSERT_EQ(
                Bytes(reply.begin(), reply.begin() + 5),
                (Bytes{0x6E, reply[1], 0xE3, std::uint8_t(offset >> 8), std::uint8_t(offset)}));
            EXPECT_TRUE(checksumValid(reply, n + 3)) << offset;
            if (n == 3) {
                break;
            }
            read.append(reply.begin() + 5, reply.begin() + 5 + (n - 3));
            ++fragments;
        }
        EXPECT_EQ(read, options.capabilities);
        EXPECT_EQ(fragments, int((read.size() + fragment - 1) / fragment));
    }
}

TEST_F(SimulatedMonitorTest, FaultsAndTheirDuration) {
    monitor.setFault(SimulatedMonitorFault::nullReply, 1);
    EXPECT_EQ(exchange({0x01, 0x10}, 3).bytes, kNull);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).bytes, kBrightnessReply);  // spent after one request

    monitor.setFault(SimulatedMonitorFault::noReply);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).status, EIO);  // kept until changed

    monitor.setFault(SimulatedMonitorFault::floatingBus);
    EXPECT_THAT(exchange({0x01, 0x10}, 11).bytes, Each(0xFF));

    monitor.setFault(SimulatedMonitorFault::garbage, 2);
    auto a = exchange({0x01, 0x10}, 11);
    auto b = exchange({0x01, 0x10}, 11);
    EXPECT_EQ(a.status, 0);
    EXPECT_NE(a.bytes, b.bytes);
    EXPECT_NE(a.bytes, kBrightnessReply);
    EXPECT_EQ(exchange({0x01, 0x10}, 11).bytes, kBrightnessReply);

    monitor.setFault(SimulatedMonitorFault::writeNak, 1);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), ENXIO);
    EXPECT_EQ(current(0x10), 50);
    EXPECT_EQ(monitor.onWrite(0x37, request({0x03, 0x10, 0x00, 0x01})), 0);
    EXPECT_EQ(current(0x10), 1);
}

TEST_F(SimulatedMonitorTest, UnplugAndOtherAddresses) {
    EXPECT_EQ(SimulatedDisplayI2C().open(), nullptr);
    auto shared = std::make_shared<SimulatedMonitor>(clock);
    SimulatedDisplayI2C bus(shared);
    auto channel = bus.open();
    ASSERT_NE(channel, nullptr);
    Bytes get{0x82, 0x01, 0x10, 0xAC};
    std::uint8_t buffer[11] = {};
    shared->unplugAfterWrites(1);
    EXPECT_EQ(channel->write(0x37, 0x51, get), 0);
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
    EXPECT_EQ(Bytes(buffer, buffer + 11), kBrightnessReply);
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

TEST_F(SimulatedMonitorTest, ButtonsMoveBrightnessAndFlagANewValueEvenDuringTraffic) {
    monitor.pressButton(MonitorButton::brightnessUp, 7);
    EXPECT_EQ(current(0x10), 57);
    EXPECT_EQ(current(0x02), 0x02);
    monitor.pressButton(MonitorButton::brightnessDown, 100);
    EXPECT_EQ(current(0x10), 0);
    monitor.pressButton(MonitorButton::contrastUp, 50);
    EXPECT_EQ(current(0x12), 100);
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
        auto reply = exchange({0x01, 0x10}, 11);
        replies += reply.bytes[4] == 0x10 && checksumValid(reply.bytes, 11);
    }
    presser.join();
    EXPECT_EQ(replies, 200);
    EXPECT_EQ(current(0x10), 0);
    EXPECT_EQ(monitor.stats().buttonPresses, 357);
}

}  // namespace
}  // namespace pellora::test
