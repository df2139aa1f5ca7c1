#include "display/MonitorScope.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TestEnvironment.h"

namespace pellora::test {
namespace {

const Monitor kMonitor{0x1234, 0x5678, 0x9ABC};
const std::string kPrefix = "monitor.00001234-00005678-00009ABC.";

struct ScopeFixture : ::testing::Test {
    TestEnvironment env;
    // On a clock of its own, so a test can hold the logger's queue back.
    VirtualClock workClock;
    std::unique_ptr<ManualQueue> loggerQueue = workClock.makeQueue("pellora.logger");
    std::filesystem::path file =
        env.paths.dataDir / "monitors" / kMonitor.identifier() / SampleLogger::fileName;

    std::shared_ptr<MonitorScope> scope;

    void start(const Monitor& monitor = kMonitor) {
        scope.reset();
        MonitorScope::load(monitor, *env.settings, env.clock, env.paths.dataDir, *loggerQueue,
                           env.log.get(), *env.main, [this](auto s) { scope = std::move(s); });
    }
    std::shared_ptr<MonitorScope> load(const Monitor& monitor = kMonitor) {
        start(monitor);
        workClock.runPending();
        env.clock.runPending();
        return scope;
    }
};

TEST_F(ScopeFixture, TrainsFromTheLogAndSeedsAnEmptyAnchorList) {
    const double t = env.clock.now() - 3600;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << *SampleLogger::encodeLine({t, 100, 40, 12, true})
                        << *SampleLogger::encodeLine({t + 60, 104, 44, 12, true})
                        << *SampleLogger::encodeLine({t + 120, 30, 70, 13, false})
                        << *SampleLogger::encodeLine({t + 180, 10, 15, 23, true});
    load();
    EXPECT_EQ(scope->model().totalWeight(), 16);  // user-set samples weigh 5, the rest 1
    // From the user's own settings only: one day bucket, one night bucket.
    ASSERT_EQ(scope->anchors().anchors().size(), 2u);
    EXPECT_EQ(scope->anchors().editable(12)[0].brightness, 42);
    EXPECT_TRUE(env.settings->data(kPrefix + "anchorsV1"));  // stored, not seeded again
    scope->anchors().clear();  // "Clear anchors": the curve stays cleared at the next connect
    EXPECT_TRUE(load()->anchors().anchors().empty());

    // Anchors already learnt are kept as they are.
    const std::vector<Anchor> learnt = {{200, 90, 14, env.clock.now(), 2.0}};
    env.settings->set(kPrefix + "anchorsV1", Bytes{*AnchorStore::encode(learnt)});
    EXPECT_EQ(load()->anchors().anchors(), learnt);
    // Another monitor's scope keeps apart.
    EXPECT_TRUE(load({0x1234, 0x5678, 0x9ABD})->anchors().anchors().empty());

    // A sample the last scope left queued (the monitor was unplugged and plugged back in
    // meanwhile) is read by the next one.
    auto before = load();
    before->logger().log({t + 240, 200, 95, 14, false});
    before.reset();
    start();
    workClock.runPending();
    env.clock.runPending();
    EXPECT_EQ(scope->model().totalWeight(), 17);
}

// The scope is read on the logger's queue and built on main, under this monitor's keys.
TEST_F(ScopeFixture, IsBuiltOnMainAndCapabilitiesAreStoredAdoptedAndDamagedOnesIgnored) {
    start();
    env.clock.runPending();
    EXPECT_FALSE(scope || std::filesystem::exists(file));  // main has not touched the disk
    workClock.runPending();
    EXPECT_FALSE(scope);
    env.clock.runPending();
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->curve().key(), kPrefix + "curvePointsV1");
    EXPECT_EQ(scope->logger().fileURL(), file);
    const auto caps = MonitorCapabilities::parse("(model(Desk 27)vcp(10 12 60(0F 11)))");
    scope->persistCapabilities(caps);
    const auto notUtf8 = MonitorCapabilities::parse("(model(\xff\xfe)vcp(12))");
    load()->persistCapabilities(notUtf8);  // kept in memory only
    EXPECT_EQ(scope->capabilities(), notUtf8);
    env.reopenSettings();
    EXPECT_EQ(load()->capabilities(), caps);
    env.settings->set(kPrefix + "capabilities", Bytes{"{\"rawString\":3}"});
    EXPECT_EQ(load()->capabilities(), std::nullopt);
}

}  // namespace
}  // namespace pellora::test
