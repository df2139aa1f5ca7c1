// Observing, merging, ageing, pruning, the stored form and remote reloads.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "AnchorStoreFixture.h"

namespace pellora::test {
namespace {

TEST(AnchorStore, AnObservationIsStoredUnderTheMonitorsKeyAndAnnounced) {
    AnchorStoreFixture f;
    EXPECT_EQ(f.store->key(), "monitor.00001234-00005678-00009ABC.anchorsV1");
    f.store->observe(100, 50, 12.5, 1.0);
    const std::vector<Anchor> expected{{100, 50, 12.5, f.now(), 1.0}};
    EXPECT_EQ(f.store->anchors(), expected);
    EXPECT_EQ(f.stored(), expected);
    EXPECT_EQ(f.changes, 1);
}

TEST(AnchorStore, MergesOnlyWithinTwentyLumaOfTheSamePeriod) {
    struct Case {
        double firstLuma, firstHour, luma, hour;
        bool merges;
    } cases[] = {{100, 12, 120, 13, true},     {100, 12, 80, 12, true},
                 {100, 12, 120.01, 12, false}, {100, 12, 100, 23, false},
                 {100, 23.5, 110, 3, true},    {100, 6.99, 100, 7.0, false},
                 {100, 21.99, 100, 22, false}};
    for (const Case& c : cases) {
        AnchorStoreFixture f;
        f.store->observe(c.firstLuma, 40, c.firstHour, 1.0);
        f.store->observe(c.luma, 60, c.hour, 1.0);
        const std::vector<Anchor> merged{{(c.firstLuma + c.luma) / 2, 50, c.hour, kStart, 2}};
        const std::vector<Anchor> apart{{c.firstLuma, 40, c.firstHour, kStart, 1},
                                        {c.luma, 60, c.hour, kStart, 1}};
        EXPECT_EQ(f.store->anchors(), c.merges ? merged : apart) << c.luma << " at " << c.hour;
    }
}

TEST(AnchorStore, TheNearestCandidateTakesTheMergeInPlaceAndTiesGoToTheEarlier) {
    AnchorStoreFixture f({{50, 10, 12, 0, 1}, {85, 30, 12, 0, 1}, {115, 70, 12, 0, 1}});
    f.store->observe(103, 50, 14, 1.0);  // 18 from 85, 12 from 115
    f.store->observe(97, 50, 14, 1.0);   // 12 from 85, 12 from 109
    EXPECT_EQ(f.store->anchors(),
              (std::vector<Anchor>{
                  {50, 10, 12, f.now(), 1}, {91, 40, 14, f.now(), 2}, {109, 60, 14, f.now(), 2}}));
}

TEST(AnchorStore, MergedWeightAddsTheDecayedOldWeightAndStopsAtSix) {
    AnchorStoreFixture f;
    f.store->observe(100, 50, 12, 2.0);
    f.env.clock.advance(30 * kDay);
    f.store->observe(100, 50, 12, 1.0);
    EXPECT_NEAR(f.store->anchors().at(0).weight, 2.0, 1e-12);  // 1 + 2 × ½
    std::vector<double> weights;
    for (int i = 0; i < 5; ++i) {
        f.store->observe(100, 50, 12, 1.0);
        weights.push_back(f.store->anchors().at(0).weight);
    }
    EXPECT_EQ(weights, (std::vector<double>{3, 4, 5, 6, 6}));
}

TEST(AnchorStore, AnEleventhAnchorSortsByDecayedWeightAndDropsTheWeakest) {
    // Weight and age in days of each stored anchor; luma is 20 × the position.
    const std::vector<std::pair<double, double>> stored{{3, 0}, {1, 0}, {4, 60}, {2, 0},   {5, 0},
                                                        {4, 0}, {6, 0}, {1, 0},  {0.5, 0}, {2, 0}};
    std::vector<Anchor> anchors;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto [weight, age] = stored[i];
        anchors.push_back({i * 20.0, 50, 12, kStart - age * kDay, weight});
    }
    AnchorStoreFixture f(anchors, kOwnTimes);
    f.store->observe(251, 50, 23, 2.0);
    std::vector<double> lumas;
    for (const auto& a : f.store->anchors()) {
        lumas.push_back(a.luma);
    }
    // Ties keep their previous order (the 60-day-old 4 counts 1); the newcomer joins its tie
    // last and the fresh 0.5 goes.
    EXPECT_EQ(lumas, (std::vector<double>{120, 80, 100, 0, 60, 180, 251, 20, 40, 140}));
    EXPECT_EQ(f.stored(), f.store->anchors());
}

TEST(AnchorStore, AnAnchorOfWeightOneFadesAfterAbout82DaysAtTheNextLoadOrObservation) {
    const double limitDays = 30.0 * std::log2(1 / 0.15);
    ASSERT_NEAR(limitDays, 82.1, 0.05);
    for (const bool kept : {true, false}) {
        AnchorStoreFixture f;
        f.store->observe(100, 50, 12, 1.0);
        f.env.clock.advance((limitDays + (kept ? -0.01 : 0.01)) * kDay);
        EXPECT_EQ(f.reopen()->anchors().size(), kept ? 1u : 0u);
        EXPECT_EQ(f.stored().size(), 1u);  // loading writes nothing back
        // The observation drops the faded anchor before looking for a merge.
        f.store->observe(105, 80, 12, 1.0);
        EXPECT_EQ(f.store->anchors().size(), 1u);
        EXPECT_EQ(f.store->anchors()[0].brightness, kept ? 65 : 80);
    }
}

TEST(AnchorStore, AnAnchorStampedInTheFutureCountsAsNew) {
    const Anchor future{100, 50, 12, kStart + 400 * kDay, 1.0};
    AnchorStoreFixture f({future}, kOwnTimes);
    EXPECT_EQ(f.store->anchors(), std::vector<Anchor>{future});
    f.store->observe(100, 60, 12, 1.0);
    EXPECT_EQ(f.store->anchors(), (std::vector<Anchor>{{100, 55, 12, kStart, 2.0}}));
}

TEST(AnchorStore, TheStoredFormIsCompactShortMembersThatReadBackExactly) {
    const std::vector<Anchor> anchors{{0.1, 1.0 / 3.0, 23.999, 1718960400.123456, 5.999999},
                                      {255, 100, 0, 0, 1e-300},
                                      {-0.0, 1e300, 7, -5, 6}};
    const auto bytes = AnchorStore::encode(anchors);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->find_first_of(" \n\t"), std::string::npos);
    EXPECT_EQ(AnchorStore::decode(*bytes), anchors);
    EXPECT_EQ(nlohmann::json::parse(*bytes)[2],
              nlohmann::json::parse(R"({"l":-0.0,"b":1e300,"h":7,"t":-5,"w":6})"));
    EXPECT_EQ(AnchorStore::decode(R"([{"w":2,"t":1718960400,"h":13.5,"b":55,"l":120}])"),
              (std::vector<Anchor>{{120, 55, 13.5, 1718960400, 2}}));
    const double nan = std::nan("");
    for (const Anchor& a :
         {Anchor{nan, 1, 1, 1, 1}, Anchor{1, INFINITY, 1, 1, 1}, Anchor{1, 1, -INFINITY, 1, 1},
          Anchor{1, 1, 1, nan, 1}, Anchor{1, 1, 1, 1, INFINITY}}) {
        EXPECT_EQ(AnchorStore::encode({{10, 20, 12, 0, 1}, a}), std::nullopt);
    }
}

TEST(AnchorStore, UnreadableStoredDataLoadsEmptyAndStaysUntilTheNextWrite) {
    for (const char* bytes : {"", "[{\"l\":1}]", "{\"l\":1,\"b\":2,\"h\":3,\"t\":4,\"w\":5}"}) {
        AnchorStoreFixture f;
        f.env.settings->set(kKey, Bytes{bytes});
        EXPECT_TRUE(f.reopen()->anchors().empty());
        EXPECT_EQ(f.env.settings->data(kKey), bytes);
        f.store->observe(100, 50, 12, 1.0);
        EXPECT_EQ(f.stored().size(), 1u);
    }
}

TEST(AnchorStore, AHugeStoredListLoadsWholeAndTheNextObservationPrunesItToTen) {
    std::vector<Anchor> many;
    for (int i = 0; i < 5000; ++i) {
        many.push_back({i % 256 * 1.0, 50, 12, kStart - (i % 100) * 3600.0, 1.0});
    }
    many[3777].weight = 6.0;
    AnchorStoreFixture f(many, kOwnTimes);
    EXPECT_EQ(f.store->anchors().size(), many.size());
    f.store->observe(3, 40, 23, 1.0);
    ASSERT_EQ(f.store->anchors().size(), 10u);
    EXPECT_EQ(f.store->anchors()[0], many[3777]);
    for (std::size_t i = 1; i < 10; ++i) {
        EXPECT_EQ(f.store->anchors()[i].t, kStart);  // then the freshest, in stored order
    }
}

TEST(AnchorStore, NonFiniteObservationsAreNeverWrittenAndOutOfRangeOnesPredictInRange) {
    AnchorStoreFixture f({{1e308, 1e308, 12, 0, 1e308}, {-1e308, -1e308, 13, 0, 1e308}});
    const auto before = f.env.settings->data(kKey);
    const double nan = std::nan("");
    for (const auto& [l, b, h, w] : std::vector<std::array<double, 4>>{
             {nan, 50, 12, 1}, {100, nan, 12, 1}, {100, 50, nan, 1}, {INFINITY, 50, 12, 1}}) {
        f.store->observe(l, b, h, w);
    }
    EXPECT_EQ(f.env.settings->data(kKey), before);
    EXPECT_EQ(f.changes, 0);
    EXPECT_LE(f.store->predict(1e308, 12).value_or(0), 100);
    for (const auto& p : f.store->curveSamples(12, 8.0)) {
        EXPECT_TRUE(p.brightness >= 0 && p.brightness <= 100) << p.luma;
    }
}

TEST(AnchorStore, ARemoteChangeReplacesTheListAndAnnouncesItButTheFirstLoadDoesNot) {
    AnchorStoreFixture f({{100, 50, 12, 0, 1.0}});
    EXPECT_EQ(f.store->anchors().size(), 1u);
    EXPECT_EQ(f.changes, 0);
    const std::vector<Anchor> theirs{{30, 20, 23, kStart, 2.0}, {200, 90, 14, kStart, 4.0}};
    f.env.remoteSet(kKey, Bytes{*AnchorStore::encode(theirs)});
    EXPECT_EQ(f.store->anchors(), theirs);
    EXPECT_EQ(f.changes, 1);
    f.env.remoteSet(kKey, Bytes{"[{\"l\":1}]"});
    EXPECT_TRUE(f.store->anchors().empty());
    EXPECT_EQ(f.changes, 2);
}

TEST(AnchorStore, ADroppedStoreIsNeitherKeptAliveNorCalledAndACallbackMayReplaceItself) {
    AnchorStoreFixture f;
    int second = 0;
    f.store->setOnChange([&] { f.store->setOnChange([&] { ++second; }); });
    f.store->observe(100, 50, 12, 1.0);
    f.store->observe(100, 50, 12, 1.0);
    EXPECT_EQ(second, 1);
    std::weak_ptr<AnchorStore> weak = f.store;
    f.store.reset();
    EXPECT_TRUE(weak.expired());
    f.env.remoteSet(kKey, Bytes{*AnchorStore::encode({{1, 2, 3, kStart, 4}})});
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace pellora::test
