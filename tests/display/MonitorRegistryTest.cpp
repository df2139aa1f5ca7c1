#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestEnvironment.h"
#include "display/MonitorRegistry.h"
#include "platform/sim/SimulatedDisplayList.h"

namespace pellora::test {
namespace {

DisplayInfo panel() {
    return DisplayInfo{"card0-eDP-1", true, 0x09E5, 0x0BCA, 0, "Built-in"};
}
DisplayInfo monitorA() {
    return DisplayInfo{"card0-DP-1", false, 0x10AC, 0xA0C5, 1, "DELL U2720Q"};
}
DisplayInfo monitorB() {
    return DisplayInfo{"card0-DP-2", false, 0x1E6D, 0x5B7F, 2, std::nullopt};
}
Monitor of(const DisplayInfo& d) {
    return Monitor{d.vendor, d.model, d.serial};
}

struct RegistryTest : ::testing::Test {
    TestEnvironment env;
    SimulatedDisplayList displays;
    std::vector<std::optional<Monitor>> changes;

    std::shared_ptr<MonitorRegistry> make() {
        auto registry = MonitorRegistry::create(displays, *env.settings, *env.main);
        registry->setOnChange([this](const std::optional<Monitor>& m) { changes.push_back(m); });
        return registry;
    }
};

TEST(MonitorIdentity, IdentifierKeyPrefixAndJson) {
    Monitor m{0x1234, 0x5678, 0x9ABC};
    EXPECT_EQ(m.identifier(), "00001234-00005678-00009ABC");
    EXPECT_EQ(m.keyPrefix(), "monitor.00001234-00005678-00009ABC.");
    EXPECT_EQ((Monitor{0xFFFFFFFF, 0, 0xABCDEF01}).identifier(), "FFFFFFFF-00000000-ABCDEF01");
    EXPECT_EQ(Monitor::decodeJSON(m.encodeJSON()), m);
    Monitor expected{1, 2, 3};
    EXPECT_EQ(Monitor::decodeJSON(R"({"serial":3,"model":2,"vendor":1})"), expected);
    for (const char* bad : {R"({"vendor":1,"model":2})", R"({"vendor":-1,"model":2,"serial":3})",
                            R"({"vendor":4294967296,"model":2,"serial":3})",
                            R"({"vendor":1.5,"model":2,"serial":3})", "[1,2,3]", "{"}) {
        EXPECT_EQ(Monitor::decodeJSON(bad), std::nullopt) << bad;
    }
}

TEST_F(RegistryTest, FirstExternalDisplayIsCurrentAndBuiltInIsSkipped) {
    displays.plug(panel());
    displays.plug(monitorA());
    displays.plug(monitorB());
    auto registry = make();
    EXPECT_EQ(registry->allExternal(), (std::vector<Monitor>{of(monitorA()), of(monitorB())}));
    EXPECT_EQ(registry->current(), of(monitorA()));
    EXPECT_TRUE(changes.empty()) << "no callback can fire during construction";
}

TEST_F(RegistryTest, UnpluggingMovesToTheNextThenToNoneAndThenStaysQuiet) {
    displays.plug(panel());
    displays.plug(monitorA());
    displays.plug(monitorB());
    auto registry = make();

    displays.unplug("card0-DP-1");
    EXPECT_TRUE(changes.empty()) << "the refresh is handed to the main queue";
    env.clock.runPending();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], of(monitorB()));
    EXPECT_EQ(registry->current(), of(monitorB()));

    displays.unplug("card0-DP-2");
    env.clock.runPending();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1], std::nullopt);
    EXPECT_EQ(registry->current(), std::nullopt);

    registry->refresh();
    displays.notify(DisplayChange::changed);
    env.clock.runPending();
    EXPECT_EQ(changes.size(), 2u);
}

TEST_F(RegistryTest, CurrentHoldsTheNewValueWhenTheCallbackRuns) {
    auto registry = make();
    std::optional<Monitor> seen;
    registry->setOnChange([&](const std::optional<Monitor>&) { seen = registry->current(); });
    displays.plug(monitorA());
    env.clock.runPending();
    EXPECT_EQ(seen, of(monitorA()));
}

TEST_F(RegistryTest, EveryChangeHandsARefreshToTheMainQueue) {
    displays.plug(monitorA());
    auto registry = make();
    displays.plug(monitorB());
    displays.notify(DisplayChange::changed);
    displays.unplug("card0-DP-2");
    EXPECT_EQ(env.clock.pendingCount(), 3u);
    env.clock.runPending();
    EXPECT_TRUE(changes.empty()) << "A stayed first throughout";
}

TEST_F(RegistryTest, RefreshFindingTheSameMonitorCallsNothing) {
    displays.plug(monitorA());
    auto registry = make();
    displays.notify(DisplayChange::added);
    displays.notify(DisplayChange::added);
    env.clock.runPending();
    EXPECT_TRUE(changes.empty());
}

TEST_F(RegistryTest, UnreadableDisplayListCountsAsNoMonitor) {
    displays.plug(monitorA());
    auto registry = make();
    displays.setFailing(true);
    registry->refresh();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::nullopt);
}

TEST_F(RegistryTest, DestroyedRegistryIgnoresLateCallbacks) {
    displays.plug(monitorA());
    auto registry = make();
    displays.notify(DisplayChange::removed);
    registry.reset();
    displays.notify(DisplayChange::removed);
    env.clock.runPending();  // must not touch the destroyed registry
    EXPECT_TRUE(changes.empty());
}

// News arrives on the platform's own thread while registries come and go on the main one;
// under ThreadSanitizer a handler that touched a dying registry is reported.
TEST_F(RegistryTest, NewsFromAnotherThreadNeverTouchesADyingRegistry) {
    displays.plug(monitorA());
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::thread platform([&] {
        while (!stop.load()) {
            displays.notify(DisplayChange::changed);
            started = true;
        }
    });
    while (!started.load()) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 300; ++i) {
        auto registry = make();
        registry.reset();
        env.clock.runPending();
    }
    stop = true;
    platform.join();
    env.clock.runPending();
    EXPECT_TRUE(changes.empty());
}

TEST_F(RegistryTest, FriendlyNameFallsBackFromStoredToDisplayNameToVendorDigits) {
    displays.plug(monitorA());
    displays.plug(monitorB());
    auto registry = make();
    EXPECT_EQ(registry->friendlyName(of(monitorA())), "DELL U2720Q");
    EXPECT_EQ(registry->friendlyName(Monitor{0x1234, 1, 2}), "Monitor 00001234");
    EXPECT_EQ(registry->friendlyName(of(monitorB())), "Monitor 00001E6D");

    registry->setFriendlyName("  Desk left \n", of(monitorA()));
    EXPECT_EQ(env.settings->string("monitor.000010AC-0000A0C5-00000001.name"), "Desk left");
    EXPECT_EQ(registry->friendlyName(of(monitorA())), "Desk left");

    registry->setFriendlyName("   \t\n ", of(monitorA()));
    EXPECT_EQ(env.settings->string("monitor.000010AC-0000A0C5-00000001.name"), std::nullopt);
    EXPECT_EQ(registry->friendlyName(of(monitorA())), "DELL U2720Q");
}

}  // namespace
}  // namespace pellora::test
