#include "display/BrightnessController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "RecordingDisplayI2C.h"
#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace pellora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Write {
    std::uint8_t code;
    int value;
    double at;
    bool operator==(const Write&) const = default;
};

struct BrightnessControllerTest : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> queue = env.clock.makeQueue("pellora.brightness");
    std::shared_ptr<SimulatedMonitor> monitor = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C simBus{monitor};
    RecordingDisplayI2C recorder{env.clock};
    DisplayI2C* bus = &simBus;
    int transportsMade = 0;
    std::shared_ptr<BrightnessController> controller;

    void make() {
        controller = BrightnessController::create(*env.main, *queue, [this] {
            ++transportsMade;
            return std::make_shared<DDCService>(*bus, env.clock, *env.log, env.systemLog);
        });
    }

    // Exchanges wait on virtual time (80 ms a read), so run the queues well past them.
    void settle() { env.clock.advance(5.0); }

    // Set packets seen by the recorder, one entry per pair of identical writes.
    std::vector<Write> recordedSets() {
        std::vector<Write> out;
        const auto& ops = recorder.operations;
        for (std::size_t i = 0; i < ops.size(); ++i) {
            if (ops[i].isWrite && ops[i].bytes.size() == 6 && ops[i].bytes[1] == 0x03) {
                EXPECT_TRUE(i + 1 < ops.size() && ops[i + 1].bytes == ops[i].bytes);
                out.push_back({ops[i].bytes[2], ops[i].bytes[3] << 8 | ops[i].bytes[4], ops[i].at});
                ++i;
            }
        }
        return out;
    }
};

TEST_F(BrightnessControllerTest, BrightnessWritesAreClampedAndSetVCPIsNot) {
    bus = &recorder;
    make();
    controller->setBrightness(-5);
    controller->setBrightness(150);
    controller->setBrightness(37);
    controller->setVCP(0x14, 300);
    EXPECT_TRUE(recorder.operations.empty());  // nothing runs on the caller's thread
    settle();
    auto sets = recordedSets();
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[0].value, 0);
    EXPECT_EQ(sets[1].value, 100);
    EXPECT_EQ(sets[2].value, 37);
    EXPECT_EQ(sets[2].code, 0x10);
    EXPECT_EQ(sets[3].code, 0x14);
    EXPECT_EQ(sets[3].value, 300);
}

TEST_F(BrightnessControllerTest, RequestsRunInOrderAndAnswerOnMain) {
    make();
    std::vector<std::optional<int>> answers;
    bool allOnMain = true;
    auto record = [&](std::optional<int> v) {
        allOnMain = allOnMain && env.main->isCurrent() && !queue->isCurrent();
        answers.push_back(v);
    };
    monitor->pressButton(MonitorButton::brightnessUp, 4);
    controller->getBrightness(record);  // queued before the write: the old value
    controller->setBrightness(30);
    controller->getBrightness(record);
    EXPECT_THAT(answers, IsEmpty());
    settle();
    EXPECT_THAT(answers, ElementsAre(54, 30));
    EXPECT_TRUE(allOnMain);
    controller->getBrightness(record);
    settle();
    EXPECT_EQ(answers.back(), 30);
}

TEST_F(BrightnessControllerTest, FailedReadAnswersNothingOnceOnMain) {
    make();
    monitor->setFault(SimulatedMonitorFault::noReply);
    int calls = 0;
    std::optional<int> answer = 7;
    bool onMain = false;
    controller->getBrightness([&](std::optional<int> v) {
        ++calls;
        answer = v;
        onMain = env.main->isCurrent() && !queue->isCurrent();
    });
    env.clock.advance(1.0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(answer);
    EXPECT_TRUE(onMain);
    // Both attempts and the wait between them happened on the brightness queue.
    EXPECT_EQ(monitor->stats().reads, 2);
}

TEST_F(BrightnessControllerTest, ThrottledWritesSendOnlyTheLastAfterTheDebounce) {
    bus = &recorder;
    make();
    double start = env.clock.monotonic();
    controller->setBrightnessThrottled(10);
    env.clock.advance(0.05);
    controller->setBrightnessThrottled(20);
    env.clock.advance(0.05);
    controller->setBrightnessThrottled(30);
    env.clock.advance(0.149);
    EXPECT_TRUE(recordedSets().empty());
    env.clock.advance(0.002);
    auto sets = recordedSets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].value, 30);
    EXPECT_NEAR(sets[0].at - start, 0.10 + 0.15, 1e-9);
    env.clock.advance(1.0);
    EXPECT_EQ(recordedSets().size(), 1u);

    // Throttled values are clamped like direct ones; a pause lets each one through.
    controller->setBrightnessThrottled(140);
    env.clock.advance(0.2);
    controller->setBrightnessThrottled(-1);
    env.clock.advance(0.2);
    sets = recordedSets();
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[1].value, 100);
    EXPECT_EQ(sets[2].value, 0);
}

TEST_F(BrightnessControllerTest, BrightnessCodeCarriesOverReconnect) {
    make();
    EXPECT_EQ(controller->brightnessCode(), 0x10);
    EXPECT_EQ(controller->transport()->brightnessCode(), 0x10);
    controller->setBrightnessCode(0x6B);
    EXPECT_EQ(controller->transport()->brightnessCode(), 0x6B);
    controller->setBrightness(22);
    settle();
    EXPECT_EQ(monitor->vcpRegister(0x6B)->current, 22);
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 50);

    auto old = controller->transport();
    controller->reconnect();
    EXPECT_EQ(transportsMade, 2);
    EXPECT_NE(controller->transport(), old);
    EXPECT_EQ(controller->transport()->brightnessCode(), 0x6B);
    std::optional<int> answer;
    controller->setBrightness(64);
    controller->getBrightness([&](std::optional<int> v) { answer = v; });
    settle();
    EXPECT_EQ(monitor->vcpRegister(0x6B)->current, 64);
    EXPECT_EQ(answer, 64);
}

TEST_F(BrightnessControllerTest, QueuedWorkFinishesWithItsTransport) {
    bus = &recorder;  // the old monitor's channel
    make();
    controller->setBrightness(11);
    bus = &simBus;  // the new one's
    controller->reconnect();
    controller->setBrightness(22);
    settle();
    auto old = recordedSets();
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].value, 11);
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 22);
    EXPECT_EQ(monitor->stats().setRequests, 2);  // one Set, sent twice
}

TEST_F(BrightnessControllerTest, CapabilitiesArriveOnMain) {
    make();
    std::optional<MonitorCapabilities> caps;
    bool onMain = false;
    controller->readCapabilities([&](std::optional<MonitorCapabilities> c) {
        caps = std::move(c);
        onMain = env.main->isCurrent() && !queue->isCurrent();
    });
    settle();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->model, "SimMon");
    EXPECT_TRUE(onMain);

    monitor->setConnected(false);
    controller->reconnect();
    bool called = false;
    controller->readCapabilities([&](std::optional<MonitorCapabilities> c) {
        called = true;
        caps = std::move(c);
    });
    settle();
    EXPECT_TRUE(called);
    EXPECT_FALSE(caps);
}

TEST_F(BrightnessControllerTest, QueuedWorkDoesNotKeepTheControllerAlive) {
    bus = &recorder;
    make();
    std::weak_ptr<BrightnessController> weak = controller;
    int answers = 0;
    std::optional<int> answer = 1;
    controller->setBrightnessThrottled(40);
    controller->setBrightness(50);
    controller->getBrightness([&](std::optional<int> v) {
        ++answers;
        answer = v;
    });
    controller.reset();
    EXPECT_TRUE(weak.expired());
    env.clock.advance(1.0);
    EXPECT_TRUE(recorder.operations.empty());  // neither write reached the bus
    EXPECT_EQ(answers, 1);                     // the read still answers, with nothing
    EXPECT_FALSE(answer);
}

// Real worker threads and a clock running 20 times fast (a get waits 4 ms), with the user
// pressing the monitor's buttons on another thread meanwhile.
TEST(BrightnessControllerThreads, RequestsFromMainAnswerOnMainInOrder) {
    SystemClock clock(20.0);
    RecordingSystemLog systemLog;
    TempDir dir;
    SerialQueue logQueue("pellora.debug-log", clock);
    DebugLog log(clock, logQueue, dir.path(), systemLog);
    SerialQueue main("main", clock);
    SerialQueue queue("pellora.brightness", clock);
    auto monitor = std::make_shared<SimulatedMonitor>(clock);
    SimulatedDisplayI2C bus(monitor);

    std::shared_ptr<BrightnessController> controller;
    std::vector<std::optional<int>> answers;
    bool allOnMain = true;
    std::promise<void> done;
    std::thread presser([&] {
        for (int i = 0; i < 50; ++i) {
            monitor->pressButton(MonitorButton::contrastUp);
        }
    });
    main.sync([&] {
        controller = BrightnessController::create(
            main, queue, [&] { return std::make_shared<DDCService>(bus, clock, log, systemLog); });
        controller->setBrightnessCode(0x6B);
        for (int value : {10, 20, 30}) {
            controller->setBrightness(value);
            controller->getBrightness([&](std::optional<int> v) {
                allOnMain = allOnMain && main.isCurrent();
                answers.push_back(v);
            });
        }
        controller->readCapabilities([&](std::optional<MonitorCapabilities>) {
            allOnMain = allOnMain && main.isCurrent();
            done.set_value();
        });
    });
    presser.join();
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    main.sync([&] { controller.reset(); });
    EXPECT_THAT(answers, ElementsAre(10, 20, 30));
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(monitor->vcpRegister(0x12)->current, 100);
}

}  // namespace
}  // namespace pellora::test
