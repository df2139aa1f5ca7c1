#include "display/MonitorRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestEnvironment.h"
#include "platform/sim/SimulatedDisplayList.h"

namespace pellora::test {
namespace {

const DisplayInfo kPanel{"card0-eDP-1", true, 0x09E5, 0x0BCA, 0, "Built-in"};
const DisplayInfo kA{"card0-DP-1", false, 0x10AC, 0xA0C5, 1, "DELL U2720Q"};
const DisplayInfo kB{"card0-DP-2", false, 0x1E6D, 0x5B7F, 2, std::nullopt};
Monitor of(const DisplayInfo& d) {
    return Monitor{d.vendor, d.model, d.serial};
}

TEST(MonitorIdentity, IdentifierKeyPrefixAndJson) {
    Monitor m{0x1234, 0x5678, 0x9ABC};
    EXPECT_EQ(m.identifier(), "00001234-00005678-00009ABC");
    EXPECT_EQ(Monitor::decodeJSON(m.encodeJSON()), m);
    EXPECT_EQ(Monitor::decodeJSON(R"({"serial":3,"model":2,"vendor":1})"), (Monitor{1, 2, 3}));
    for (const char* bad : {R"({"vendor":1,"model":2})", R"({"vendor":-1,"model":2,"serial":3})",
                            R"({"vendor":4294967296,"model":2,"serial":3})"}) {
        EXPECT_EQ(Monitor::decodeJSON(bad), std::nullopt) << bad;
    }
}

struct RegistryTest : ::testing::Test {
    TestEnvironment env;
    SimulatedDisplayList displays;
    std::vector<std::optional<Monitor>> changes;

    std::shared_ptr<MonitorRegistry> make() {
        auto registry = MonitorRegistry::create(displays, *env.settings, *env.main);
        registry->setOnChange(
            [this, weak = std::weak_ptr(registry)](const std::optional<Monitor>& m) {
                EXPECT_EQ(weak.lock()->current(), m);  // current holds the new value already
                changes.push_back(m);
            });
        return registry;
    }
};

TEST_F(RegistryTest, FirstExternalDisplayIsCurrentAndChangesArriveOnMain) {
    displays.plug(kPanel);
    displays.plug(kA);
    displays.plug(kB);
    auto registry = make();
    EXPECT_EQ(registry->allExternal(), (std::vector<Monitor>{of(kA), of(kB)}));
    EXPECT_EQ(registry->current(), of(kA));

    displays.unplug("card0-DP-1");
    EXPECT_TRUE(changes.empty()) << "the refresh is handed to the main queue";
    env.clock.runPending();
    displays.notify(DisplayChange::added);  // nothing new: no callback
    env.clock.runPending();
    displays.unplug("card0-DP-2");
    env.clock.runPending();
    registry->refresh();
    EXPECT_EQ(changes, (std::vector<std::optional<Monitor>>{of(kB), std::nullopt}));

    displays.plug(kA);
    displays.setFailing(true);  // an unreadable list counts as no monitor
    registry->refresh();
    EXPECT_EQ(registry->current(), std::nullopt);
}

// News arrives on the platform's own thread while registries come and go on the main one;
// under ThreadSanitizer a handler that touched a dying registry is reported. News handed to
// main before its registry went away finds nobody there.
TEST_F(RegistryTest, LateNewsFromAnyThreadNeverTouchesADestroyedRegistry) {
    displays.plug(kA);
    auto registry = make();
    displays.unplug("card0-DP-1");
    registry.reset();
    env.clock.runPending();
    displays.plug(kA);
    std::atomic<bool> stop{false}, started{false};
    // Bounded, so that the main queue can always drain what it was sent.
    std::thread platform([&] {
        for (int i = 0; i < 20000 && !stop.load(); ++i) {
            displays.notify(DisplayChange::changed);
            started = true;
        }
    });
    while (!started.load()) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 300; ++i) {
        make().reset();
        env.clock.runPending();
    }
    stop = true;
    platform.join();
    env.clock.runPending();
    EXPECT_TRUE(changes.empty());
}

TEST_F(RegistryTest, FriendlyNameFallsBackFromStoredToDisplayNameToVendorDigits) {
    displays.plug(kA);
    displays.plug(kB);
    auto registry = make();
    EXPECT_EQ(registry->friendlyName(of(kA)), "DELL U2720Q");
    EXPECT_EQ(registry->friendlyName(of(kB)), "Monitor 00001E6D");

    registry->setFriendlyName("  Desk left \n", of(kA));
    EXPECT_EQ(env.settings->string("monitor.000010AC-0000A0C5-00000001.name"), "Desk left");
    registry->setFriendlyName("   \t\n ", of(kA));
    EXPECT_EQ(env.settings->string("monitor.000010AC-0000A0C5-00000001.name"), std::nullopt);

    // A synced file's name of megabytes reaches the menu cut, never inside a character.
    env.remoteSet("monitor.000010AC-0000A0C5-00000001.name",
                  std::string(127, 'x') + "é" + std::string(1 << 20, 'y'));
    EXPECT_EQ(registry->friendlyName(of(kA)), std::string(127, 'x') + "…");
}

}  // namespace
}  // namespace pellora::test
