#include "display/DDCService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <numeric>
#include <string>
#include <tuple>

#include "TestEnvironment.h"
#include "display/BrightnessController.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace pellora::test {
namespace {

using ::testing::Contains;
using ::testing::DoubleEq;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using WireBytes = std::vector<std::uint8_t>;

std::uint8_t replySum(const WireBytes& b) {
    return std::accumulate(b.begin(), b.end(), std::uint8_t(0x50), std::bit_xor<>());
}
// "6E 88 02 ... *": bytes in hexadecimal; "*" is the reply checksum of those before it.
WireBytes hex(std::string_view text) {
    WireBytes b;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        b.push_back(text[i] == '*' ? replySum(b)
                                   : std::stoi(std::string(text.substr(i, 2)), {}, 16));
    }
    return b;
}
// A capabilities reply for `offset` carrying `data`, from source 0x6E or with it left out.
WireBytes caps(std::uint16_t offset, std::string_view data, bool source = true) {
    WireBytes b{0x6E, std::uint8_t(0x83 + data.size()), 0xE3, std::uint8_t(offset >> 8),
                std::uint8_t(offset)};
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(replySum(b));
    return source ? b : WireBytes(b.begin() + 1, b.end());
}
template <typename T>
T take(std::deque<T>& q, T otherwise) {
    if (!q.empty()) {
        otherwise = q.front();
        q.pop_front();
    }
    return otherwise;
}

// Each write takes its status from `writeStatuses` (then 0); each read its reply from
// `replies`, then from `responder`, which sees the latest write, else EIO.
struct FakeBus final : DisplayI2C {
    struct Reply {
        int status = 0;
        WireBytes bytes;
    };
    struct Channel final : DisplayI2CChannel {
        FakeBus& bus;
        explicit Channel(FakeBus& b) : bus(b) {}
        int write(std::uint8_t device, std::uint8_t address,
                  std::span<const std::uint8_t> bytes) override {
            EXPECT_EQ(device << 8 | address, 0x3751);
            bus.writes.emplace_back(bytes.begin(), bytes.end());
            return take(bus.writeStatuses, 0);
        }
        int read(std::uint8_t device, std::uint8_t address, std::span<std::uint8_t> out) override {
            EXPECT_EQ(device << 8 | address, 0x3751);
            Reply r = !bus.replies.empty() ? take(bus.replies, {})
                      : bus.responder      ? bus.responder(bus.writes.back())
                                           : Reply{EIO, {}};
            std::copy_n(r.bytes.begin(), std::min(r.bytes.size(), out.size()), out.begin());
            return r.status;
        }
    };
    std::unique_ptr<DisplayI2CChannel> open() override { return std::make_unique<Channel>(*this); }

    std::deque<int> writeStatuses;
    std::deque<Reply> replies;
    std::function<Reply(const WireBytes& lastWrite)> responder;
    std::vector<WireBytes> writes;
};

struct DDCServiceTest : ::testing::Test {
    TestEnvironment env;
    FakeBus bus;
    std::unique_ptr<DDCService> ddc =
        std::make_unique<DDCService>(bus, env.clock, *env.log, env.systemLog);
};

// Hand-built replies to a Get of code 0x10, as a monitor, a noisy bus or a host that drops
// the source byte may deliver them. Only an intact reply for the code asked gives a value;
// any other is a failed attempt (retried once) with one line saying what was wrong.
TEST_F(DDCServiceTest, GetRepliesAreBelievedOnlyWhenIntact) {
    // Name, reply, value, and what the log says was wrong.
    const std::tuple<const char*, const char*, std::optional<VCPValue>, const char*> cases[] = {
        {"intact", "6E 88 02 00 10 00 00 64 00 25 *", VCPValue{37, 100}, nullptr},
        // The checksum still covers the source byte 0x6E.
        {"source byte left out", "88 02 00 10 00 00 64 00 25 E5", VCPValue{37, 100}, nullptr},
        {"16-bit values", "6E 88 02 00 10 00 FF FF 12 34 *", VCPValue{0x1234, 0xFFFF}, nullptr},
        {"bad checksum", "6E 88 02 00 10 00 00 64 00 25 E4", {}, "checksum 0xE4, expected 0xE5"},
        {"bad checksum, source left out", "88 02 00 10 00 00 64 00 25 E4", {}, "checksum 0xE4"},
        {"other code, max 0x1064", "6E 88 02 00 12 00 10 64 00 32 *", {}, "code not echoed"},
        {"null message", "6E 80 BE", {}, "null message"},
        {"null message, source left out", "80 BE", {}, "null message"},
        {"wrong source", "6F 88 02 00 10 00 00 64 00 25 *", {}, "source byte 0x6F is not 0x6E"},
        {"length past the read", "6E 89 02 00 10 00 00 64 00 25 00 *", {}, "past the 11 bytes"},
        {"length short", "6E 87 02 00 10 00 00 64 00 *", {}, "length byte 0x87, expected 0x88"},
        {"wrong opcode", "6E 88 03 00 10 00 00 64 00 25 *", {}, "opcode 0x03, expected 0x02"},
        {"unsupported code", "6E 88 02 01 10 00 00 00 00 00 *", {}, "unsupported by the monitor"},
        {"unknown result code", "6E 88 02 05 10 00 00 64 00 25 *", {}, "result code 0x05"},
        {"maximum 0", "6E 88 02 00 10 00 00 00 00 25 *", {}, "maximum 0"},
    };
    for (const auto& [name, reply, value, failure] : cases) {
        const std::size_t before = env.logLines().size();
        bus.replies = {{0, hex(reply)}, {0, hex(reply)}};
        EXPECT_EQ(ddc->getVCP(0x10), value) << name;
        // raw, failure, "retrying", raw, failure
        const auto log = env.logLines();
        EXPECT_EQ(log.size() - before, failure ? 5u : 1u) << name;
        EXPECT_THAT(log.back(), HasSubstr(failure ? failure : "raw")) << name;
    }
}

// An intact reply whose brightness lies past the monitor's own maximum is no brightness.
TEST_F(DDCServiceTest, ABrightnessPastItsOwnMaximumIsNotBelieved) {
    auto queue = env.clock.makeQueue("pellora.brightness");
    auto controller = BrightnessController::create(*env.main, *queue, [this] {
        return std::make_shared<DDCService>(bus, env.clock, *env.log, env.systemLog);
    });
    std::vector<std::optional<int>> answers;
    for (const char* reply :
         {"6E 88 02 00 10 00 00 64 00 64 *", "6E 88 02 00 10 00 00 64 00 65 *"}) {
        bus.replies = {{0, hex(reply)}, {0, hex(reply)}};
        controller->getBrightness([&](std::optional<int> v) { answers.push_back(v); });
        env.clock.advance(5.0);
    }
    EXPECT_THAT(answers, ElementsAre(100, std::nullopt));
}

// A Get waits for the reply and is retried once; a Set is sent twice, and only the second
// status counts.
TEST_F(DDCServiceTest, GetWaitsAndRetriesOnceSetIsSentTwice) {
    bus.replies = {{EIO, {}}, {0, hex("6E 88 02 00 10 00 00 64 00 25 *")}};
    EXPECT_EQ(ddc->getVCP(0x10), (VCPValue{37, 100}));
    EXPECT_THAT(bus.writes, Contains(ElementsAre(0x82, 0x01, 0x10, 0xAC)).Times(2));
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.080), DoubleEq(0.100), DoubleEq(0.080)));
    EXPECT_THAT(env.logLines()[0], HasSubstr("getVCP 0x10 I2C read failed: errno=5 (Input/output"));
    // A failed request write skips the wait.
    env.clock.clearSleeps();
    bus.writeStatuses = {EREMOTEIO, EREMOTEIO};
    EXPECT_FALSE(ddc->getVCP(0x10));
    EXPECT_THAT(env.clock.sleeps(), ElementsAre(DoubleEq(0.100)));
    env.clock.clearSleeps();
    bus.writes.clear();
    EXPECT_TRUE(ddc->setVCP(0x10, 50));
    EXPECT_THAT(bus.writes, Contains(ElementsAre(0x84, 0x03, 0x10, 0x00, 0x32, 0x9A)).Times(2));
    EXPECT_TRUE(env.clock.sleeps().empty());
    bus.writeStatuses = {ENXIO, 0};
    EXPECT_TRUE(ddc->setVCP(0x10, 20));
    bus.writeStatuses = {0, ENXIO};
    EXPECT_FALSE(ddc->setVCP(0x6B, 300));
    EXPECT_THAT(env.systemLog.lines(), Contains(HasSubstr("setVCP")).Times(1));
    EXPECT_EQ(env.systemLog.lines().back(),
              "DDC setVCP 0x6B failed: errno=6 (No such device or address)");
}

TEST_F(DDCServiceTest, OnlyIntactCapabilitiesFragmentsAtTheOffsetAskedForCount) {
    // Name, reply, the offset asked for, data, and what the log says was wrong.
    const std::tuple<const char*, WireBytes, int, std::optional<std::string>, const char*> cases[] =
        {
            {"32 data bytes", caps(0, std::string(32, 'x')), 0, std::string(32, 'x'), nullptr},
            // Its checksum is '2': it must not be read as text.
            {"source left out", caps(0, "vcp(10)", false), 0, "vcp(10)", nullptr},
            {"bad checksum", hex("6E 86 E3 00 00 76 63 70 33"), 0, {}, "checksum 0x33"},
            {"stale repeat", caps(0, "abc"), 32, {}, "offset 0, not the 32 asked for"},
            {"null message", hex("6E 80 BE"), 64, {}, "null message"},
            {"wrong opcode",
             hex("6E 86 E2 00 20 76 63 70 *"),
             32,
             {},
             "opcode 0xE2, expected 0xE3"},
            {"over 32 data bytes", caps(0, std::string(33, 'a'), false), 0, {}, "over 32 data"},
            {"no offset", hex("6E 82 E3 00 *"), 0, {}, "no room for an offset"},
            {"non-ASCII data", caps(0, "ab\xC3z"), 0, {}, "data byte 0xC3 is not ASCII"},
        };
    for (const auto& [name, reply, offset, data, failure] : cases) {
        bus.replies = {{0, reply}};
        EXPECT_EQ(ddc->readCapabilitiesChunk(std::uint16_t(offset)), data) << name;
        EXPECT_THAT(env.logLines().back(), HasSubstr(failure ? failure : "raw")) << name;
    }
    EXPECT_THAT(bus.writes[3], ElementsAre(0x83, 0xF3, 0x00, 0x20, 0x6F));
}

// Fragment by fragment up to 4096 bytes. A busy monitor answers now and then with the null
// message or a stale fragment: asked again, it gives the right one. One that never does
// leaves no string at all, never part of one.
TEST_F(DDCServiceTest, CapabilitiesAreReadWholeOrNotAtAll) {
    std::string text = "(prot(monitor)type(LCD)model(LONG)vcp(";
    text.resize(199, ' ');
    text += ')';
    std::vector<int> offsets;    // of the fragments asked for
    std::deque<WireBytes> at32;  // wrong answers to the fragment at 32, before the right one
    bus.responder = [&](const WireBytes& request) {
        const int offset = request[2] << 8 | request[3];
        offsets.push_back(offset);
        if (offset == 32 && !at32.empty()) {
            return FakeBus::Reply{0, take(at32, {})};
        }
        return FakeBus::Reply{
            0, caps(offset, offset < int(text.size()) ? text.substr(offset, 32) : "")};
    };
    EXPECT_EQ(ddc->readCapabilities()->model, "LONG");
    EXPECT_THAT(env.clock.sleeps(), Contains(DoubleEq(0.100)).Times(8));

    text = "(type(LCD)vcp(10 12 14(05 08)) model(X))";
    at32 = {hex("6E 80 BE"), caps(0, "(typ")};
    offsets.clear();
    EXPECT_EQ(ddc->readCapabilities()->rawString, text);
    EXPECT_THAT(offsets, ElementsAre(0, 32, 32, 32, 40));

    at32.assign(4, caps(0, "(typ"));
    offsets.clear();
    EXPECT_FALSE(ddc->readCapabilities());
    EXPECT_THAT(offsets, ElementsAre(0, 32, 32, 32, 32));

    text = std::string(5000, 'z');
    EXPECT_EQ(ddc->readCapabilities()->rawString.size(), 4096u);
    // A character a fragment, never ending: given up after half a minute, not 410 s.
    bus.responder = [&](const WireBytes& request) {
        return FakeBus::Reply{0, caps(request[2] << 8 | request[3], "z")};
    };
    const double started = env.clock.monotonic();
    EXPECT_FALSE(ddc->readCapabilities());
    EXPECT_LT(env.clock.monotonic() - started, 31);

    // Failed transfers are failed attempts too, logged with the error.
    bus.responder = nullptr;
    bus.writeStatuses = {EIO};
    bus.replies = {{ENXIO, {}}};
    EXPECT_FALSE(ddc->readCapabilities());
    EXPECT_THAT(env.logLines(), Contains(HasSubstr("caps read failed at off=0 errno=6 (No such")));
}

// Against the simulated monitor: an unplug mid-read leaves nothing, and while it is away the
// capabilities are not even asked for until a get or set finds it again.
TEST_F(DDCServiceTest, OverTheSimulatedMonitor) {
    auto monitor = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C simBus{monitor};
    DDCService sim{simBus, env.clock, *env.log, env.systemLog};
    monitor->unplugAfterWrites(3);
    EXPECT_FALSE(sim.readCapabilities());
    monitor->setConnected(true);
    const int requests = monitor->stats().capabilitiesRequests;
    EXPECT_FALSE(sim.readCapabilities());
    EXPECT_EQ(monitor->stats().capabilitiesRequests, requests);
    EXPECT_TRUE(sim.getVCP(0x10));
    EXPECT_EQ(sim.readCapabilities()->rawString, SimulatedMonitorOptions{}.capabilities);
}

}  // namespace
}  // namespace pellora::test
