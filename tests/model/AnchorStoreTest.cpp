// Observing, merging, ageing, pruning, the stored form and remote reloads.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestEnvironment.h"
#include "model/AnchorStore.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.anchorsV1";
constexpr double kDay = 86400.0;

std::shared_ptr<AnchorStore> makeStore(TestEnvironment& env) {
    return AnchorStore::create(kMonitor, *env.settings, env.clock, env.log.get());
}

void storeRaw(TestEnvironment& env, const std::string& bytes) {
    env.settings->set(kKey, Bytes{bytes});
}

std::vector<Anchor> storedAnchors(TestEnvironment& env) {
    const auto bytes = env.settings->data(kKey);
    if (!bytes) {
        return {};
    }
    return AnchorStore::decode(*bytes).value_or(std::vector<Anchor>{});
}

TEST(AnchorStoreBasics, KeyFollowsTheMonitorIdentifier) {
    TestEnvironment env;
    EXPECT_EQ(makeStore(env)->key(), kKey);
}

TEST(AnchorStoreBasics, FirstObservationIsStoredAndAnnounced) {
    TestEnvironment env;
    auto store = makeStore(env);
    int changes = 0;
    store->setOnChange([&] { ++changes; });
    store->observe(100, 50, 12.5, 1.0);
    const Anchor expected{100, 50, 12.5, env.clock.now(), 1.0};
    ASSERT_EQ(store->anchors(), std::vector<Anchor>{expected});
    EXPECT_EQ(storedAnchors(env), std::vector<Anchor>{expected});
    EXPECT_EQ(changes, 1);
}

struct MergeCase {
    const char* name;
    double firstLuma, firstHour;
    double luma, hour;
    bool merges;
};

class AnchorStoreMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(AnchorStoreMerge, MergesOnlyWithinDistanceAndPeriod) {
    const auto& c = GetParam();
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(c.firstLuma, 40, c.firstHour, 1.0);
    env.clock.advance(60);
    store->observe(c.luma, 60, c.hour, 1.0);
    if (c.merges) {
        ASSERT_EQ(store->anchors().size(), 1u);
        const Anchor& a = store->anchors()[0];
        EXPECT_DOUBLE_EQ(a.luma, (c.firstLuma + c.luma) / 2);
        EXPECT_DOUBLE_EQ(a.brightness, 50);
        EXPECT_EQ(a.hour, c.hour);
        EXPECT_EQ(a.t, env.clock.now());
        EXPECT_NEAR(a.weight, 2.0, 1e-4);
    } else {
        ASSERT_EQ(store->anchors().size(), 2u);
        EXPECT_EQ(store->anchors()[1].luma, c.luma);
        EXPECT_EQ(store->anchors()[0].weight, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnchorStoreMerge,
    ::testing::Values(MergeCase{"ExactlyTwentyAbove", 100, 12, 120, 13, true},
                      MergeCase{"ExactlyTwentyBelow", 100, 12, 80, 12, true},
                      MergeCase{"JustOverTwenty", 100, 12, 120.01, 12, false},
                      MergeCase{"SameLumaOtherPeriod", 100, 12, 100, 23, false},
                      MergeCase{"NightAcrossMidnight", 100, 23.5, 110, 3, true},
                      MergeCase{"SevenIsDay", 100, 6.99, 100, 7.0, false},
                      MergeCase{"TwentyTwoIsNight", 100, 21.99, 100, 22.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnchorStoreMerges, EqualDistanceGoesToTheEarlierAnchor) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(115, 70, 12, 1.0);
    store->observe(85, 30, 12, 1.0);
    store->observe(100, 50, 14, 1.0);
    ASSERT_EQ(store->anchors().size(), 2u);
    EXPECT_EQ(store->anchors()[0], (Anchor{107.5, 60, 14, env.clock.now(), 2.0}));
    EXPECT_EQ(store->anchors()[1], (Anchor{85, 30, 12, env.clock.now(), 1.0}));
}

TEST(AnchorStoreMerges, NearestCandidateWinsAndKeepsItsPlace) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(50, 10, 12, 1.0);
    store->observe(85, 30, 12, 1.0);
    store->observe(115, 70, 12, 1.0);
    store->observe(103, 50, 12, 1.0);  // 18 from 85, 12 from 115
    ASSERT_EQ(store->anchors().size(), 3u);
    EXPECT_EQ(store->anchors()[1].luma, 85);
    EXPECT_EQ(store->anchors()[2].luma, 109);
    EXPECT_EQ(store->anchors()[2].brightness, 60);
}

TEST(AnchorStoreMerges, WeightStopsAtSix) {
    TestEnvironment env;
    auto store = makeStore(env);
    std::vector<double> weights;
    for (int i = 0; i < 8; ++i) {
        store->observe(100, 50, 12, 1.0);
        weights.push_back(store->anchors().at(0).weight);
    }
    EXPECT_EQ(weights, (std::vector<double>{1, 2, 3, 4, 5, 6, 6, 6}));
    store->observe(100, 50, 12, 3.0);
    EXPECT_EQ(store->anchors().at(0).weight, 6.0);
}

TEST(AnchorStoreMerges, OldEvidenceCountsDecayed) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(100, 50, 12, 2.0);
    env.clock.advance(30 * kDay);
    store->observe(100, 50, 12, 1.0);
    EXPECT_NEAR(store->anchors().at(0).weight, 2.0, 1e-12);
}

// Ten anchors of weights 1..10 except that the 9th, fresh, has 0.5; the 11th has weight 2.
TEST(AnchorStorePrune, EleventhSortsByDecayedWeightAndDropsTheWeakest) {
    TestEnvironment env;
    auto store = makeStore(env);
    const std::vector<double> weights{3, 1, 2, 2, 5, 4, 6, 1, 0.5, 2};
    for (std::size_t i = 0; i < weights.size(); ++i) {
        store->observe(static_cast<double>(i) * 25, 50, 12, weights[i]);
    }
    ASSERT_EQ(store->anchors().size(), 10u);
    store->observe(251, 50, 23, 2.0);
    std::vector<double> lumas;
    for (const auto& a : store->anchors()) {
        lumas.push_back(a.luma);
    }
    // Ties (1, 1 and 2, 2, 2, 2) keep their previous order; the new one joins its tie last.
    EXPECT_EQ(lumas, (std::vector<double>{150, 100, 125, 0, 50, 75, 225, 251, 25, 175}));
    EXPECT_EQ(storedAnchors(env), store->anchors());
}

TEST(AnchorStorePrune, AgedAnchorsLoseToFreshOnes) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(0, 50, 12, 4.0);  // 4 × 2^-2 = 1 after 60 days
    env.clock.advance(60 * kDay);
    for (int i = 1; i <= 10; ++i) {
        store->observe(i * 23.0, 50, i % 2 ? 12 : 23, 1.5);
    }
    ASSERT_EQ(store->anchors().size(), 10u);
    for (const auto& a : store->anchors()) {
        EXPECT_NE(a.luma, 0);
    }
}

TEST(AnchorStoreAgeing, WeightOneFadesAfterAbout82Days) {
    const double limitDays = 30.0 * std::log2(1 / 0.15);
    ASSERT_NEAR(limitDays, 82.1, 0.05);
    struct Case {
        double days;
        bool kept;
    };
    for (const Case& c : {Case{limitDays - 0.01, true}, Case{limitDays + 0.01, false}}) {
        SCOPED_TRACE(c.days);
        TestEnvironment env;
        {
            auto store = makeStore(env);
            store->observe(100, 50, 12, 1.0);
        }
        env.clock.advance(c.days * kDay);
        auto reloaded = makeStore(env);
        EXPECT_EQ(reloaded->anchors().size(), c.kept ? 1u : 0u);
        // Loading writes nothing back.
        EXPECT_EQ(storedAnchors(env).size(), 1u);
        // The next observation drops the faded one before looking for a merge.
        reloaded->observe(240, 90, 12, 1.0);
        EXPECT_EQ(storedAnchors(env).size(), c.kept ? 2u : 1u);
    }
}

TEST(AnchorStoreAgeing, FadedAnchorIsNotMergedInto) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(100, 50, 12, 1.0);
    env.clock.advance(90 * kDay);
    store->observe(105, 80, 12, 1.0);
    EXPECT_EQ(store->anchors(), (std::vector<Anchor>{{105, 80, 12, env.clock.now(), 1.0}}));
}

TEST(AnchorStoreAgeing, FutureStampCountsAsNew) {
    TestEnvironment env;
    const double now = env.clock.now();
    const Anchor future{100, 50, 12, now + 400 * kDay, 1.0};
    EXPECT_EQ(future.decayedWeight(now), 1.0);
    storeRaw(env, *AnchorStore::encode({future}));
    auto store = makeStore(env);
    ASSERT_EQ(store->anchors(), std::vector<Anchor>{future});
    store->observe(100, 60, 12, 1.0);
    EXPECT_EQ(store->anchors().at(0).weight, 2.0);
    EXPECT_EQ(store->anchors().at(0).t, now);
}

TEST(AnchorStoreCodec, RoundTripsExactly) {
    const std::vector<Anchor> anchors{{0.1, 1.0 / 3.0, 23.999, 1718960400.123456, 5.999999},
                                      {255, 100, 0, 0, 1e-300},
                                      {-0.0, 1e300, 7, -5, 6}};
    const auto bytes = AnchorStore::encode(anchors);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->find_first_of(" \n\t"), std::string::npos);
    EXPECT_EQ(AnchorStore::decode(*bytes), anchors);
}

TEST(AnchorStoreCodec, WritesTheFiveShortMembers) {
    const auto bytes = AnchorStore::encode({{120, 55, 13.5, 1718960400, 2}});
    ASSERT_TRUE(bytes);
    const auto value = nlohmann::json::parse(*bytes);
    ASSERT_TRUE(value.is_array());
    ASSERT_EQ(value.size(), 1u);
    EXPECT_EQ(value[0],
              nlohmann::json::parse(R"({"l":120.0,"b":55.0,"h":13.5,"t":1718960400.0,"w":2.0})"));
    EXPECT_EQ(*AnchorStore::encode({}), "[]");
}

TEST(AnchorStoreCodec, ReadsAnyMemberOrderAndIntegers) {
    const auto decoded =
        AnchorStore::decode(R"([{"w":2,"t":1718960400,"h":13.5,"b":55,"l":120,"extra":"x"}])");
    EXPECT_EQ(decoded, (std::vector<Anchor>{{120, 55, 13.5, 1718960400, 2}}));
    EXPECT_EQ(AnchorStore::decode("[]"), std::vector<Anchor>{});
}

TEST(AnchorStoreCodec, NonFiniteNumbersDoNotEncode) {
    const double nan = std::nan("");
    const double inf = INFINITY;
    for (const Anchor& a :
         {Anchor{nan, 1, 1, 1, 1}, Anchor{1, inf, 1, 1, 1}, Anchor{1, 1, -inf, 1, 1},
          Anchor{1, 1, 1, nan, 1}, Anchor{1, 1, 1, 1, inf}}) {
        EXPECT_EQ(AnchorStore::encode({{10, 20, 12, 0, 1}, a}), std::nullopt);
    }
}

struct BadBytes {
    const char* name;
    std::string bytes;
};

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

std::vector<BadBytes> badInputs() {
    const std::string good = R"({"l":1,"b":2,"h":3,"t":4,"w":5})";
    return {
        {"Empty", ""},
        {"NotJson", "anchors"},
        {"Truncated", "[" + good.substr(0, 20)},
        {"TruncatedAfterElement", "[" + good + ","},
        {"TopLevelObject", good},
        {"TopLevelNumber", "42"},
        {"TopLevelString", "\"[]\""},
        {"TopLevelNull", "null"},
        {"ElementNotObject", "[" + good + ",[1,2,3,4,5]]"},
        {"MissingL", R"([{"b":2,"h":3,"t":4,"w":5}])"},
        {"MissingB", R"([{"l":1,"h":3,"t":4,"w":5}])"},
        {"MissingH", R"([{"l":1,"b":2,"t":4,"w":5}])"},
        {"MissingT", R"([{"l":1,"b":2,"h":3,"w":5}])"},
        {"MissingW", "[" + good + R"(,{"l":1,"b":2,"h":3,"t":4}])"},
        {"StringNumber", R"([{"l":"1","b":2,"h":3,"t":4,"w":5}])"},
        {"NullMember", R"([{"l":1,"b":null,"h":3,"t":4,"w":5}])"},
        {"BoolMember", R"([{"l":1,"b":2,"h":true,"t":4,"w":5}])"},
        {"ArrayMember", R"([{"l":1,"b":2,"h":3,"t":[4],"w":5}])"},
        {"NaNLiteral", R"([{"l":NaN,"b":2,"h":3,"t":4,"w":5}])"},
        {"HugeExponent", R"([{"l":1,"b":2,"h":3,"t":4,"w":1e400}])"},
        {"NegativeHugeExponent", R"([{"l":-1e400,"b":2,"h":3,"t":4,"w":5}])"},
        {"HugeIntegerDigits",
         R"([{"l":1,"b":2,"h":3,"t":)" + std::string(400, '9') + R"(,"w":5}])"},
        {"NotUtf8", "[" + good + ",{\"l\xff\xfe\":1}]"},
        {"NotUtf8Only", "\xc3\x28\xa0\xa1"},
        {"NulByte", std::string("[\0]", 3)},
        {"DeepNesting", nested(100000)},
        {"DeepNestingUnclosed", std::string(100000, '[')},
        {"DeepNestingInElement", "[" + good + "," + nested(100000) + "]"},
    };
}

class AnchorStoreBadData : public ::testing::TestWithParam<BadBytes> {};

TEST_P(AnchorStoreBadData, ReadsAsEmpty) {
    const auto& c = GetParam();
    EXPECT_EQ(AnchorStore::decode(c.bytes), std::nullopt);
    TestEnvironment env;
    storeRaw(env, c.bytes);
    auto store = makeStore(env);
    EXPECT_TRUE(store->anchors().empty());
    EXPECT_EQ(store->predict(100, 12), std::nullopt);
    // The bad value stays until the next write replaces it.
    EXPECT_EQ(env.settings->data(kKey), c.bytes);
    store->observe(100, 50, 12, 1.0);
    EXPECT_EQ(storedAnchors(env).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, AnchorStoreBadData, ::testing::ValuesIn(badInputs()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AnchorStoreBadData, HugeStoredListLoadsWholeAndTheNextObservationPrunesItToTen) {
    TestEnvironment env;
    const double now = env.clock.now();
    std::vector<Anchor> many;
    for (int i = 0; i < 100000; ++i) {
        many.push_back({static_cast<double>(i % 256), 50, 12, now - (i % 1000) * 3600.0, 1.0});
    }
    many[77777].weight = 6.0;
    storeRaw(env, *AnchorStore::encode(many));
    auto store = makeStore(env);
    // A longer list from elsewhere is kept as it is until something changes it.
    EXPECT_EQ(store->anchors().size(), many.size());
    EXPECT_TRUE(store->predict(100, 12));
    EXPECT_EQ(store->curveSamples(12, 8.0).size(), 32u);

    store->observe(3, 40, 23, 1.0);
    ASSERT_EQ(store->anchors().size(), 10u);
    EXPECT_EQ(store->anchors()[0], many[77777]);
    // Then the freshest, in their previous order.
    for (std::size_t i = 1; i < 10; ++i) {
        EXPECT_EQ(store->anchors()[i].t, now);
    }
    EXPECT_EQ(storedAnchors(env).size(), 10u);
}

TEST(AnchorStoreBadData, NonFiniteObservationIsNeverWritten) {
    TestEnvironment env;
    auto store = makeStore(env);
    store->observe(100, 50, 12, 1.0);
    const auto before = env.settings->data(kKey);
    int changes = 0;
    store->setOnChange([&] { ++changes; });
    const double nan = std::nan("");
    for (const auto& args : std::vector<std::array<double, 4>>{{nan, 50, 12, 1},
                                                               {100, nan, 12, 1},
                                                               {100, 50, nan, 1},
                                                               {100, 50, 12, nan},
                                                               {INFINITY, 50, 12, 1},
                                                               {100, 50, 12, -INFINITY}}) {
        store->observe(args[0], args[1], args[2], args[3]);
    }
    EXPECT_EQ(env.settings->data(kKey), before);
    EXPECT_EQ(store->anchors().size(), 1u);
    EXPECT_EQ(changes, 0);
    // The store still writes afterwards.
    store->observe(200, 90, 12, 1.0);
    EXPECT_EQ(storedAnchors(env).size(), 2u);
}

TEST(AnchorStoreBadData, OutOfRangeFiniteValuesDoNotBreakPrediction) {
    TestEnvironment env;
    storeRaw(env, AnchorStore::encode({{1e308, 1e308, 12, env.clock.now(), 1e308},
                                       {1e308 - 1e292, -1e308, 13, env.clock.now(), 1e308},
                                       {-1e308, 50, 30, env.clock.now(), 3}})
                      .value());
    auto store = makeStore(env);
    ASSERT_EQ(store->anchors().size(), 3u);
    for (double luma : {0.0, 100.0, 1e308}) {
        const auto v = store->predict(luma, 12);
        if (v) {
            EXPECT_GE(*v, 0);
            EXPECT_LE(*v, 100);
        }
    }
    for (const auto& p : store->curveSamples(8, 8.0)) {
        EXPECT_TRUE(std::isfinite(p.brightness));
    }
}

TEST(AnchorStoreRemote, ChangeReplacesTheListAndAnnouncesIt) {
    TestEnvironment env;
    const Anchor mine{100, 50, 12, env.clock.now(), 1.0};
    storeRaw(env, *AnchorStore::encode({mine}));
    int changes = 0;
    auto store = makeStore(env);
    store->setOnChange([&] { ++changes; });
    EXPECT_EQ(store->anchors(), std::vector<Anchor>{mine});
    EXPECT_EQ(changes, 0);

    const std::vector<Anchor> theirs{{30, 20, 23, env.clock.now(), 2.0},
                                     {200, 90, 14, env.clock.now(), 4.0}};
    env.remoteSet(kKey, Bytes{*AnchorStore::encode(theirs)});
    EXPECT_EQ(store->anchors(), theirs);
    EXPECT_EQ(changes, 1);

    env.remoteSet(kKey, Bytes{"[{\"l\":1}]"});
    EXPECT_TRUE(store->anchors().empty());
    EXPECT_EQ(changes, 2);
}

TEST(AnchorStoreRemote, FirstLoadDoesNotAnnounce) {
    TestEnvironment env;
    storeRaw(env, *AnchorStore::encode({{100, 50, 12, env.clock.now(), 1.0}}));
    int changes = 0;
    auto store = makeStore(env);
    store->setOnChange([&] { ++changes; });
    env.clock.advance(10);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(store->anchors().size(), 1u);
}

TEST(AnchorStoreRemote, DestroyedStoreIsNeitherCalledNorKeptAlive) {
    TestEnvironment env;
    int changes = 0;
    auto store = makeStore(env);
    store->setOnChange([&] { ++changes; });
    std::weak_ptr<AnchorStore> weak = store;
    store.reset();
    EXPECT_TRUE(weak.expired());
    env.remoteSet(kKey, Bytes{*AnchorStore::encode({{1, 2, 3, env.clock.now(), 4}})});
    EXPECT_EQ(changes, 0);
}

TEST(AnchorStoreRemote, CallbackMayReplaceItself) {
    TestEnvironment env;
    auto store = makeStore(env);
    int first = 0, second = 0;
    store->setOnChange([&] {
        ++first;
        store->setOnChange([&] { ++second; });
    });
    store->observe(100, 50, 12, 1.0);
    store->observe(100, 50, 12, 1.0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace pellora::test
