#include "display/BrightnessController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/sim/SimulatedDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"

namespace pellora::test {
namespace {

using ::testing::ElementsAre;

struct BrightnessControllerTest : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> queue = env.clock.makeQueue("pellora.brightness");
    std::shared_ptr<SimulatedMonitor> monitor = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C bus{monitor};
    SimulatedDisplayI2C* cable = &bus;  // where the next transport is made
    std::vector<std::string> transportsMadeOn;
    std::shared_ptr<BrightnessController> controller =
        BrightnessController::create(*env.main, *queue, [this] {
            transportsMadeOn.push_back(queue->isCurrent() && !env.main->isCurrent() ? queue->label()
                                                                                    : "elsewhere");
            return std::make_shared<DDCService>(*cable, env.clock, *env.log, env.systemLog);
        });

    // Exchanges wait on virtual time (80 ms a read), so run the queues well past them.
    void settle() { env.clock.advance(5.0); }
    int level(std::uint8_t code = 0x10) { return monitor->vcpRegister(code)->current; }

    std::vector<std::optional<int>> answers;
    void get() {
        controller->getBrightness([this](std::optional<int> v) { answers.push_back(v); });
    }
};

// The transport is made on the brightness queue, never on the caller's thread, and requests
// wait for it there. Work queued before a reconnect finishes on the old monitor; the
// brightness code carries over to the new one.
TEST_F(BrightnessControllerTest, TransportIsMadeOnTheBrightnessQueueAndReplacedInOrder) {
    get();
    settle();
    EXPECT_THAT(transportsMadeOn, ElementsAre("pellora.brightness"));

    auto next = std::make_shared<SimulatedMonitor>(env.clock);
    SimulatedDisplayI2C nextBus{next};
    controller->setBrightnessCode(0x6B);
    controller->setBrightness(11);
    cable = &nextBus;
    controller->reconnect();
    controller->setBrightness(22);
    get();
    settle();
    EXPECT_THAT(transportsMadeOn, ElementsAre("pellora.brightness", "pellora.brightness"));
    EXPECT_EQ(level(0x6B), 11);
    EXPECT_EQ(next->vcpRegister(0x6B)->current, 22);
    EXPECT_THAT(answers, ElementsAre(50, 22));
}

// Only the controller clamps (this register goes to 1000), and setVCP does not. Of throttled
// writes under 0.15 s apart only the last is sent, 0.15 s after it.
TEST_F(BrightnessControllerTest, BrightnessIsClampedAndThrottledWritesDebounced) {
    monitor->defineRegister(0x10, 50, 1000);
    controller->setBrightness(-5);
    settle();
    EXPECT_EQ(level(), 0);
    controller->setVCP(0x10, 300);
    settle();
    EXPECT_EQ(level(), 300);
    const int sets = monitor->stats().setRequests;
    for (int value : {10, 20, 140}) {
        controller->setBrightnessThrottled(value);
        env.clock.advance(0.05);
    }
    env.clock.advance(0.099);
    EXPECT_EQ(monitor->stats().setRequests, sets);
    env.clock.advance(0.002);
    EXPECT_EQ(level(), 100);
    EXPECT_EQ(monitor->stats().setRequests, sets + 2);  // one Set, sent twice
}

// The user swaps monitors on the cable while a write for the first waits its turn (behind a
// capabilities read, say): the write was worked out for that monitor and must not land on the
// one that took its place. The new one is talked to once the program reconnects for it, on
// its own scale, not the old one's.
TEST_F(BrightnessControllerTest, AWriteQueuedForOneMonitorDoesNotLandOnTheNext) {
    monitor->defineRegister(0x10, 200, 255);
    get();
    settle();
    auto next = std::make_shared<SimulatedMonitor>(env.clock);
    next->defineRegister(0x10, 35, 100);
    controller->setBrightness(90);
    controller->setVCP(0x12, 10);
    bus.setMonitor(next);  // the swap; the display news reaches main later
    settle();
    EXPECT_EQ(next->vcpRegister(0x10)->current, 35);
    EXPECT_EQ(next->vcpRegister(0x12)->current, 75);
    controller->reconnect();
    controller->setBrightness(60);
    settle();
    EXPECT_EQ(next->vcpRegister(0x10)->current, 60);
}

// A monitor whose brightness runs to 255: 200 of it is 78 %, and 50 % goes out as 128, not 50.
// Another code's range is its own.
TEST_F(BrightnessControllerTest, BrightnessIsAShareOfTheMonitorsOwnMaximum) {
    monitor->defineRegister(0x10, 200, 255);
    get();
    controller->setBrightness(50);
    settle();
    controller->setBrightnessCode(0x6B);
    controller->setBrightness(30);
    settle();
    EXPECT_THAT(answers, ElementsAre(78));
    EXPECT_EQ(level(), 128);
    EXPECT_EQ(level(0x6B), 30);
    // A lone reply telling another maximum does not rescale the writes; two in a row do.
    controller->setBrightnessCode(0x10);
    std::vector<int> written;
    for (std::uint16_t max : {1000, 255, 1000, 1000}) {
        monitor->defineRegister(0x10, 0, max);
        get();
        controller->setBrightness(50);
        settle();
        written.push_back(level());
    }
    EXPECT_THAT(written, ElementsAre(128, 128, 128, 500));
}

TEST_F(BrightnessControllerTest, QueuedWorkDoesNotKeepTheControllerAlive) {
    std::weak_ptr<BrightnessController> weak = controller;
    controller->setBrightnessThrottled(40);
    controller->setBrightness(60);
    get();
    controller.reset();
    EXPECT_TRUE(weak.expired());
    settle();
    EXPECT_TRUE(transportsMadeOn.empty());
    EXPECT_EQ(monitor->stats().writes, 0);
    EXPECT_THAT(answers, ElementsAre(std::nullopt));
}

// Real worker threads and a clock running 20 times fast (a get waits 4 ms); under
// ThreadSanitizer a transport touched off its queue is reported.
TEST(BrightnessControllerThreads, RequestsFromMainAnswerOnMainInOrder) {
    SystemClock clock(20.0);
    TestEnvironment env;  // for its logs
    SerialQueue main("main", clock);
    SerialQueue queue("pellora.brightness", clock);
    auto monitor = std::make_shared<SimulatedMonitor>(clock);
    SimulatedDisplayI2C bus(monitor);

    std::shared_ptr<BrightnessController> controller;
    std::vector<std::optional<int>> answers;
    bool allOnMain = true;
    std::promise<void> done;
    main.sync([&] {
        controller = BrightnessController::create(main, queue, [&] {
            return std::make_shared<DDCService>(bus, clock, *env.log, env.systemLog);
        });
        controller->setBrightnessCode(0x6B);
        for (int value : {10, 20, 30}) {
            controller->setBrightness(value);
            controller->getBrightness([&](std::optional<int> v) {
                allOnMain = allOnMain && main.isCurrent();
                answers.push_back(v);
                if (answers.size() == 3) {
                    done.set_value();
                }
            });
            controller->reconnect();
        }
    });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    main.sync([&] { controller.reset(); });
    EXPECT_THAT(answers, ElementsAre(10, 20, 30));
    EXPECT_TRUE(allOnMain);
}

}  // namespace
}  // namespace pellora::test
