#include "display/DDCService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "RecordingDisplayI2C.h"
#include "TestEnvironment.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace pellora::test {
namespace {

using ::testing::Contains;
using ::testing::DoubleEq;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;
using Reply = RecordingDisplayI2C::Reply;

// A standard capabilities reply for `offset` carrying `data` (checksum included).
Bytes capsReply(std::uint16_t offset, const std::string& data) {
    Bytes reply{0x6E, std::uint8_t(0x80 | (3 + data.size())), 0xE3, std::uint8_t(offset >> 8),
                std::uint8_t(offset & 0xFF)};
    reply.insert(reply.end(), data.begin(), data.end());
    std::uint8_t sum = 0x50;
    for (auto b : reply) {
        sum ^= b;
    }
    reply.push_back(sum);
    return reply;
}

std::uint16_t offsetOf(const Bytes& capsRequest) {
    return std::uint16_t(capsRequest[2] << 8 | capsRequest[3]);
}

struct DDCServiceTest : ::testing::Test {
    TestEnvironment env;
    RecordingDisplayI2C bus{env.clock};
    std::unique_ptr<DDCService> ddc;

    void make() {
        ddc = std::make_unique<DDCService>(bus, env.clock, *env.log, env.systemLog);
        bus.operations.clear();
        env.clock.clearSleeps();
    }

    // Debug-log messages with the "ddc" tag, without their stamp.
    std::vector<std::string> ddcLog() {
        std::vector<std::string> out;
        for (const auto& line : env.logLines()) {
            auto at = line.find("] [ddc] ");
            if (at != std::string::npos) {
                out.push_back(line.substr(at + 8));
            }
        }
        return out;
    }
    // System-log lines that did not come through the debug log.
    std::vector<std::string> systemOnly() {
        std::vector<std::string> out;
        for (const auto& line : env.systemLog.lines()) {
            if (line.empty() || line[0] != '[') {
                out.push_back(line);
            }
        }
        return out;
    }
};

TEST(DDCPackets, MatchTheWireExamples) {
    EXPECT_THAT(DDCService::getVCPPacket(0x10), ElementsAre(0x82, 0x01, 0x10, 0xAC));
    EXPECT_THAT(DDCService::setVCPPacket(0x10, 50),
                ElementsAre(0x84, 0x03, 0x10, 0x00, 0x32, 0x9A));
    EXPECT_THAT(DDCService::capabilitiesPacket(0), ElementsAre(0x83, 0xF3, 0x00, 0x00, 0x4F));
    EXPECT_THAT(DDCService::capabilitiesPacket(32), ElementsAre(0x83, 0xF3, 0x00, 0x20, 0x6F));
}

TEST(DDCPackets, ChecksumsCancelWithTheAddresses) {
    auto xorAll = [](auto packet) {
        std::uint8_t sum = 0x6E ^ 0x51;
        for (auto b : packet) {
            sum ^= b;
        }
        return sum;
    };
    for (int code : {0x00, 0x10, 0x6B, 0xDC, 0xFF}) {
        EXPECT_EQ(xorAll(DDCService::getVCPPacket(std::uint8_t(code))), 0) << code;
        for (int value : {0, 1, 100, 300, 0xFFFF}) {
            auto set = DDCService::setVCPPacket(std::uint8_t(code), std::uint16_t(value));
            EXPECT_EQ(xorAll(set), 0) << code << " " << value;
            EXPECT_EQ(set[3] << 8 | set[4], value);
        }
    }
    for (int offset : {0, 32, 0x1FF, 4095}) {
        EXPECT_EQ(xorAll(DDCService::capabilitiesPacket(std::uint16_t(offset))), 0) << offset;
    }
}

TEST_F(DDCServiceTest, GetWritesTheRequestWaitsAndParsesTheStandardReply) {
    make();
    bus.replies.push_back({0, {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xAB}});
    auto value = ddc->getVCP(0x10);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->current, 50);
    EXPECT_EQ(value->max, 100);

    ASSERT_EQ(bus.operations.size(), 2u);
    const auto& write = bus.operations[0];
    EXPECT_TRUE(write.isWrite);
    EXPECT_EQ(write.device, 0x37);
    EXPECT_EQ(write.dataAddress, 0x51);
    EXPECT_THAT(write.bytes, ElementsAre(0x82, 0x01, 0x10, 0xAC));
    const auto& read = bus.operations[1];
    EXPECT_FALSE(read.isWrite);
    EXPECT_EQ(read.device, 0x37);
    EXPECT_EQ(read.readLength, 11u);
    EXPECT_NEAR(read.at - write.at, 0.080, 1e-9);
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.080)));
    EXPECT_THAT(ddcLog(), ElementsAre("getVCP 0x10 raw: 6E 88 02 00 10 00 00 64 00 32 AB 00"));
    EXPECT_EQ(bus.liveChannels, 0);
}

TEST_F(DDCServiceTest, GetFindsTheCodeWhenTheSourceByteIsLeftOut) {
    make();
    bus.replies.push_back({0, {0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xAB}});
    auto value = ddc->getVCP(0x10);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, (VCPValue{50, 100}));
}

TEST_F(DDCServiceTest, ReplyWithoutTheCodeIsRetriedOnceThenGivesNothing) {
    make();
    Bytes wrong{0x6E, 0x88, 0x02, 0x00, 0x12, 0x00, 0x00, 0x64, 0x00, 0x32, 0xAB};
    bus.replies = {{0, wrong}, {0, wrong}};
    EXPECT_FALSE(ddc->getVCP(0x10));
    EXPECT_EQ(bus.writes().size(), 2u);
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.080), DoubleEq(0.100), DoubleEq(0.080)));
    EXPECT_THAT(ddcLog(), ElementsAre("getVCP 0x10 raw: 6E 88 02 00 12 00 00 64 00 32 AB 00",
                                      "getVCP 0x10: VCP code not echoed in reply",
                                      "getVCP 0x10 attempt 1 failed \u2014 retrying",
                                      "getVCP 0x10 raw: 6E 88 02 00 12 00 00 64 00 32 AB 00",
                                      "getVCP 0x10: VCP code not echoed in reply"));
}

TEST_F(DDCServiceTest, RetryAfterAFailedReadReturnsTheSecondAnswer) {
    make();
    bus.replies = {{EIO, {}}, {0, {0x6E, 0x88, 0x02, 0x00, 0x6B, 0x00, 0x00, 0x64, 0x00, 0x21}}};
    auto value = ddc->getVCP(0x6B);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->current, 0x21);
    auto log = ddcLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "getVCP 0x6B I2C read failed: kr=0x5");
    EXPECT_EQ(log[1], "getVCP 0x6B attempt 1 failed \u2014 retrying");
    // A first success is not retried.
    bus.operations.clear();
    bus.replies = {{0, {0x6E, 0x88, 0x02, 0x00, 0x6B, 0x00, 0x00, 0x64, 0x00, 0x22}}};
    EXPECT_EQ(ddc->getVCP(0x6B)->current, 0x22);
    EXPECT_EQ(bus.writes().size(), 1u);
}

TEST_F(DDCServiceTest, FailedRequestWriteSkipsTheWaitAndLogsOnlyTheRetry) {
    make();
    bus.writeStatuses = {EREMOTEIO, EREMOTEIO};
    EXPECT_FALSE(ddc->getVCP(0x10));
    EXPECT_EQ(bus.readCount(), 0u);
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.100)));
    // The dash is U+2014 in UTF-8.
    EXPECT_THAT(ddcLog(), ElementsAre("getVCP 0x10 attempt 1 failed \xE2\x80\x94 retrying"));
    EXPECT_EQ(bus.liveChannels, 0);
}

TEST_F(DDCServiceTest, UnsupportedCodeIsNoReading) {
    make();
    Bytes unsupported{0x6E, 0x88, 0x02, 0x01, 0x6B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    bus.replies = {{0, unsupported}, {0, unsupported}};
    EXPECT_FALSE(ddc->getVCP(0x6B));
    EXPECT_THAT(ddcLog(), Contains("getVCP 0x6B: VCP code unsupported by the monitor"));
    EXPECT_EQ(DDCService::parseGetReply(0x6B, std::span<const std::uint8_t, 12>(Bytes{
                                                  0x88, 0x02, 0x01, 0x6B, 0, 0, 0, 0, 0, 0, 0, 0}))
                  .kind,
              VCPReply::Kind::unsupported);
}

TEST_F(DDCServiceTest, SetWritesThePacketTwiceWithoutWaiting) {
    make();
    EXPECT_TRUE(ddc->setVCP(0x10, 50));
    EXPECT_THAT(bus.writes(), ElementsAre(ElementsAre(0x84, 0x03, 0x10, 0x00, 0x32, 0x9A),
                                          ElementsAre(0x84, 0x03, 0x10, 0x00, 0x32, 0x9A)));
    EXPECT_EQ(bus.operations[1].dataAddress, 0x51);
    EXPECT_EQ(bus.readCount(), 0u);
    EXPECT_THAT(env.clock.sleeps(), IsEmpty());
    EXPECT_EQ(bus.liveChannels, 0);
}

TEST_F(DDCServiceTest, OnlyTheSecondSetWriteDecides) {
    make();
    bus.writeStatuses = {ENXIO, 0};
    EXPECT_TRUE(ddc->setVCP(0x10, 20));
    EXPECT_THAT(systemOnly(), IsEmpty());

    bus.writeStatuses = {0, ENXIO};
    EXPECT_FALSE(ddc->setVCP(0x6B, 300));
    EXPECT_THAT(systemOnly(), ElementsAre("DDC setVCP 0x6B failed: kr=0x6"));
    EXPECT_THAT(ddcLog(), IsEmpty());
}

TEST_F(DDCServiceTest, NoChannelFailsEveryExchangeQuietly) {
    bus.available = false;
    make();
    EXPECT_FALSE(ddc->lastAvailable());
    EXPECT_FALSE(ddc->setVCP(0x10, 10));
    EXPECT_FALSE(ddc->readCapabilitiesChunk(0));
    EXPECT_FALSE(ddc->getVCP(0x10));
    EXPECT_TRUE(bus.operations.empty());
    EXPECT_THAT(ddcLog(), ElementsAre("getVCP 0x10 attempt 1 failed \u2014 retrying"));
    EXPECT_THAT(systemOnly(), IsEmpty());
}

TEST_F(DDCServiceTest, LastAvailableFollowsTheLatestOpen) {
    make();
    EXPECT_TRUE(ddc->lastAvailable());
    bus.available = false;
    EXPECT_FALSE(ddc->setVCP(0x10, 10));
    EXPECT_FALSE(ddc->lastAvailable());

    // While the channel was missing, the capabilities are not even asked for.
    int opens = bus.openCalls;
    bus.available = true;
    EXPECT_FALSE(ddc->readCapabilities());
    EXPECT_EQ(bus.openCalls, opens);
    EXPECT_TRUE(bus.operations.empty());

    EXPECT_TRUE(ddc->setVCP(0x10, 10));
    EXPECT_TRUE(ddc->lastAvailable());
    bus.operations.clear();
    bus.replies = {{0, capsReply(0, "(vcp(10))")}, {0, capsReply(9, "")}};
    auto caps = ddc->readCapabilities();
    ASSERT_TRUE(caps);
    EXPECT_TRUE(caps->vcps.contains(0x10));
}

TEST_F(DDCServiceTest, CapabilitiesChunkRequestWaitAndLog) {
    make();
    std::string data(32, 'a');
    bus.replies = {{0, capsReply(32, data)}};
    EXPECT_EQ(ddc->readCapabilitiesChunk(32), data);
    ASSERT_EQ(bus.operations.size(), 2u);
    EXPECT_THAT(bus.operations[0].bytes, ElementsAre(0x83, 0xF3, 0x00, 0x20, 0x6F));
    EXPECT_EQ(bus.operations[1].readLength, 38u);
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.100)));
    EXPECT_THAT(ddcLog(), ElementsAre("caps off=32 raw: 6E A3 E3 00 20 61 61 61 61 61 61 61 61 "
                                      "61 61 61"));
}

TEST_F(DDCServiceTest, CapabilitiesChunkFailuresAreLogged) {
    make();
    bus.writeStatuses = {EIO};
    EXPECT_FALSE(ddc->readCapabilitiesChunk(64));
    EXPECT_EQ(bus.readCount(), 0u);
    bus.replies = {{ENXIO, {}}};
    EXPECT_FALSE(ddc->readCapabilitiesChunk(96));
    bus.replies = {{0, {0x6E, 0x80, 0xBE}}};
    EXPECT_FALSE(ddc->readCapabilitiesChunk(128));
    auto log = ddcLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "caps write failed at off=64 kr=0x5");
    EXPECT_EQ(log[1], "caps read failed at off=96 kr=0x6");
    EXPECT_EQ(log[2], "caps off=128 raw: 6E 80 BE 00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(log[3], "caps off=128 no parseable fragment");
    EXPECT_EQ(bus.liveChannels, 0);
}

struct CapsCase {  // a reply buffer and what it gives
    const char* name;
    Bytes reply;
    std::uint16_t offset;
    std::optional<std::string> fragment;
};

TEST(DDCCapabilitiesReply, Parsing) {
    Bytes full = capsReply(0, std::string(32, 'x'));
    EXPECT_EQ(full[1], 0xA3);
    Bytes overlong = full;
    overlong[1] = 0xA4;  // n = 36: not trusted, searched instead
    Bytes highBit = capsReply(0, "ab\xC3z");
    // Opcode lost, offset 0x0020 at bytes 3 and 4, printable checksum '!' joins the run.
    Bytes odd{0x6E, 0x86, 0x00, 0x00, 0x20, 'v', 'c', 'p', '!', 0x00};
    Bytes noOffset{0x6E, 0x86, 0x00, 0x11, 0x22, 'v', 'c', 'p'};
    Bytes emptyRun{0x6E, 0x86, 0x00, 0x00, 0x20, 0x01};
    const CapsCase cases[] = {
        {"end of string", capsReply(200, ""), 200, ""},
        {"32 data bytes", full, 0, std::string(32, 'x')},
        {"short fragment", capsReply(192, "12345678"), 192, "12345678"},
        {"non-ASCII data", highBit, 0, ""},
        // The checksum here is 0x7E, printable, so the search takes it into the run.
        {"length over 35 searched", overlong, 0, std::string(32, 'x') + '~'},
        {"offset found at bytes 3 and 4", odd, 32, "vcp!"},
        {"no offset anywhere", noOffset, 32, std::nullopt},
        {"empty printable run", emptyRun, 32, ""},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 64> buffer{};
        std::copy_n(c.reply.begin(), std::min<std::size_t>(c.reply.size(), 38), buffer.begin());
        EXPECT_EQ(DDCService::parseCapabilitiesReply(c.offset, buffer), c.fragment) << c.name;
    }
}

TEST_F(DDCServiceTest, ReadsA200CharacterStringInFragmentsOf32) {
    std::string text = "(prot(monitor)type(LCD)model(LONG)vcp(";
    while (text.size() < 199) {
        text += "10 ";
    }
    text.resize(199);
    text += ')';
    ASSERT_EQ(text.size(), 200u);
    bus.responder = [&](const Bytes& request) {
        std::uint16_t offset = offsetOf(request);
        return Reply{0, capsReply(offset, offset < text.size() ? text.substr(offset, 32) : "")};
    };
    make();
    auto caps = ddc->readCapabilities();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->rawString, text);
    EXPECT_EQ(caps->model, "LONG");

    std::vector<int> offsets;
    for (const auto& w : bus.writes()) {
        offsets.push_back(offsetOf(w));
    }
    EXPECT_THAT(offsets, ElementsAre(0, 32, 64, 96, 128, 160, 192, 200));
    EXPECT_EQ(env.clock.sleeps().size(), 8u);
    EXPECT_THAT(systemOnly(), ElementsAre("DDC capabilities (200 bytes): " + text));
    EXPECT_THAT(ddcLog(), Not(Contains("caps off=200 no parseable fragment")));
}

TEST_F(DDCServiceTest, MissingFragmentsAtTheStartAndLater) {
    make();
    bus.replies = {{EIO, {}}};
    EXPECT_FALSE(ddc->readCapabilities());
    EXPECT_THAT(systemOnly(), IsEmpty());

    bus.replies = {{0, capsReply(0, "(type(LCD)vcp(10 12)")}, {EIO, {}}};
    auto caps = ddc->readCapabilities();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->type, "LCD");
    EXPECT_TRUE(caps->vcps.contains(0x12));
    EXPECT_THAT(systemOnly(), ElementsAre("DDC capabilities (20 bytes): (type(LCD)vcp(10 12)"));

    // An empty first fragment still gives an (empty) result.
    bus.replies = {{0, capsReply(0, "")}};
    auto empty = ddc->readCapabilities();
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, MonitorCapabilities::parse(""));
}

TEST_F(DDCServiceTest, ReadingStopsAt4096) {
    bus.responder = [](const Bytes& request) {
        return Reply{0, capsReply(offsetOf(request), std::string(32, 'z'))};
    };
    make();
    auto caps = ddc->readCapabilities();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->rawString.size(), 4096u);
    EXPECT_EQ(bus.writes().size(), 128u);
}

// Against the simulated monitor, over the same bytes a real one would see.
struct DDCOverSimulatedMonitor : DDCServiceTest {
    std::shared_ptr<SimulatedMonitor> monitor = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C simBus{monitor};
    std::unique_ptr<DDCService> sim =
        std::make_unique<DDCService>(simBus, env.clock, *env.log, env.systemLog);
};

TEST_F(DDCOverSimulatedMonitor, GetSetAndCapabilities) {
    EXPECT_EQ(sim->getVCP(0x10), (VCPValue{50, 100}));
    EXPECT_TRUE(sim->setVCP(0x10, 80));
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 80);
    monitor->pressButton(MonitorButton::brightnessDown, 5);
    EXPECT_EQ(sim->getVCP(0x10)->current, 75);

    auto caps = sim->readCapabilities();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->model, "SimMon");
    EXPECT_THAT(caps->vcps.at(0x14), ElementsAre(0x05, 0x06, 0x08, 0x0B));
    EXPECT_EQ(caps->rawString, SimulatedMonitorOptions{}.capabilities);
    EXPECT_EQ(monitor->stats().checksumErrors, 0);
}

TEST_F(DDCOverSimulatedMonitor, FaultsGiveNothingAndOneRetry) {
    monitor->setFault(SimulatedMonitorFault::nullReply, 1);
    EXPECT_EQ(sim->getVCP(0x10), (VCPValue{50, 100}));  // the retry gets through
    EXPECT_EQ(monitor->stats().getRequests, 2);

    monitor->setFault(SimulatedMonitorFault::floatingBus);
    EXPECT_FALSE(sim->getVCP(0x10));
    monitor->setFault(SimulatedMonitorFault::noReply);
    EXPECT_FALSE(sim->getVCP(0x10));
    EXPECT_THAT(ddcLog(), Contains("getVCP 0x10 I2C read failed: kr=0x5"));
    monitor->setFault(SimulatedMonitorFault::none);

    // A monitor slower than the 80 ms wait answers noise both times.
    monitor->setProcessingSeconds(0.090);
    monitor->resetStats();
    EXPECT_FALSE(sim->getVCP(0x10));
    EXPECT_EQ(monitor->stats().earlyReads, 2);
    monitor->setProcessingSeconds(0.050);
    EXPECT_TRUE(sim->getVCP(0x10));
}

TEST_F(DDCOverSimulatedMonitor, UnplugMidExchange) {
    monitor->unplugAfterWrites(1);
    EXPECT_FALSE(sim->getVCP(0x10));
    EXPECT_FALSE(sim->lastAvailable());
    EXPECT_THAT(ddcLog(), Contains("getVCP 0x10 I2C read failed: kr=0x6"));
    EXPECT_FALSE(sim->readCapabilities());
    monitor->setConnected(true);
    EXPECT_TRUE(sim->getVCP(0x10));
    EXPECT_TRUE(sim->lastAvailable());
}

}  // namespace
}  // namespace pellora::test
