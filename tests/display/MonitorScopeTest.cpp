// Building a monitor's scope: the stores it opens, the model it trains, seeding an empty
// anchor list, and its capabilities.

#include <gtest/gtest.h>

#include <fstream>

#include "TestEnvironment.h"
#include "display/MonitorScope.h"

namespace pellora::test {
namespace {

const Monitor kMonitor{0x1234, 0x5678, 0x9ABC};
constexpr const char* kPrefix = "monitor.00001234-00005678-00009ABC.";

struct ScopeFixture : ::testing::Test {
    std::shared_ptr<MonitorScope> makeScope() {
        return MonitorScope::create(kMonitor, *env.settings, env.clock, env.paths.dataDir,
                                    *loggerQueue, env.log.get());
    }
    // Samples already in the monitor's log, as an earlier run left them.
    void writeSamples(const std::vector<Sample>& samples) {
        const auto file =
            env.paths.dataDir / "monitors" / kMonitor.identifier() / SampleLogger::fileName;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::app);
        for (const auto& s : samples) {
            out << *SampleLogger::encodeLine(s);
        }
    }
    TestEnvironment env;
    std::unique_ptr<ManualQueue> loggerQueue = env.clock.makeQueue("pellora.logger");
};

TEST_F(ScopeFixture, OpensTheMonitorsOwnStoresAndLog) {
    auto scope = makeScope();
    EXPECT_EQ(scope->monitor(), kMonitor);
    EXPECT_EQ(scope->keyPrefix(), kPrefix);
    EXPECT_EQ(scope->anchors().key(), std::string(kPrefix) + "anchorsV1");
    EXPECT_EQ(scope->curve().key(), std::string(kPrefix) + "curvePointsV1");
    EXPECT_EQ(scope->logger().fileURL(),
              env.paths.dataDir / "monitors" / "00001234-00005678-00009ABC" / "samples.jsonl");
    EXPECT_TRUE(std::filesystem::exists(scope->logger().fileURL()));
    EXPECT_EQ(scope->capabilities(), std::nullopt);
    EXPECT_TRUE(scope->anchors().anchors().empty());
    EXPECT_EQ(scope->model(), BrightnessModel::train({}));
}

TEST_F(ScopeFixture, TrainsFromTheLogAndSeedsAnEmptyAnchorList) {
    const double t = env.clock.now() - 3600;
    std::vector<Sample> samples = {{t, 100, 40, 12, true},
                                   {t + 60, 104, 44, 12, true},
                                   {t + 120, 30, 70, 13, false},
                                   {t + 180, 10, 15, 23, true}};
    writeSamples(samples);
    auto scope = makeScope();
    EXPECT_EQ(scope->model(), BrightnessModel::train(samples));
    ASSERT_EQ(scope->anchors().anchors().size(), 2u);  // one day bucket, one night bucket
    EXPECT_EQ(scope->anchors().editable(12)[0].brightness, 42);
    EXPECT_EQ(scope->anchors().editable(23)[0].brightness, 15);
    // The seed is stored, so the next scope loads it instead of seeding again.
    EXPECT_TRUE(env.settings->data(std::string(kPrefix) + "anchorsV1"));
}

TEST_F(ScopeFixture, AnchorsAlreadyLearntAreNotReseeded) {
    const double t = env.clock.now();
    const std::vector<Anchor> learnt = {{200, 90, 14, t, 2.0}};
    env.settings->set(std::string(kPrefix) + "anchorsV1", Bytes{*AnchorStore::encode(learnt)});
    writeSamples({{t, 100, 40, 12, true}, {t, 10, 15, 23, true}});
    auto scope = makeScope();
    EXPECT_EQ(scope->anchors().anchors(), learnt);
}

TEST_F(ScopeFixture, StoredCapabilitiesAreAdoptedAndDamagedOnesIgnored) {
    const auto caps = MonitorCapabilities::parse("(type(LCD)model(X)vcp(10 14(05 08)))");
    env.settings->set(std::string(kPrefix) + "capabilities", Bytes{*caps.encodeJSON()});
    EXPECT_EQ(makeScope()->capabilities(), caps);

    for (const char* damaged : {"", "{", "[1,2]", "{\"rawString\":3}", "\xff\xfe"}) {
        env.settings->set(std::string(kPrefix) + "capabilities", Bytes{damaged});
        EXPECT_EQ(makeScope()->capabilities(), std::nullopt) << damaged;
    }
}

TEST_F(ScopeFixture, PersistedCapabilitiesReachTheNextScope) {
    auto scope = makeScope();
    const auto caps = MonitorCapabilities::parse("(model(Desk 27)vcp(10 12 60(0F 11)))");
    scope->persistCapabilities(caps);
    EXPECT_EQ(scope->capabilities(), caps);
    env.reopenSettings();
    EXPECT_EQ(makeScope()->capabilities(), caps);
}

TEST_F(ScopeFixture, CapabilitiesThatCannotBeEncodedStayInMemoryOnly) {
    auto scope = makeScope();
    const auto stored = MonitorCapabilities::parse("(model(A)vcp(10))");
    scope->persistCapabilities(stored);
    const auto notUtf8 = MonitorCapabilities::parse("(model(\xff\xfe)vcp(12))");
    ASSERT_EQ(notUtf8.encodeJSON(), std::nullopt);
    scope->persistCapabilities(notUtf8);
    EXPECT_EQ(scope->capabilities(), notUtf8);
    EXPECT_EQ(makeScope()->capabilities(), stored);
}

TEST_F(ScopeFixture, ScopesOfTwoMonitorsKeepApart) {
    auto first = makeScope();
    first->anchors().observe(100, 50, 12, 1.0);
    auto other = MonitorScope::create({0x1234, 0x5678, 0x9ABD}, *env.settings, env.clock,
                                      env.paths.dataDir, *loggerQueue, env.log.get());
    EXPECT_TRUE(other->anchors().anchors().empty());
    EXPECT_NE(other->logger().fileURL(), first->logger().fileURL());
}

}  // namespace
}  // namespace pellora::test
