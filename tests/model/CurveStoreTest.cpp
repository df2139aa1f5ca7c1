#include "model/CurveStore.h"

#include <gtest/gtest.h>

#include <string>

#include "TestEnvironment.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.curvePointsV1";

TEST(CurveStoreLoading, KeyIsTheMonitorsCurvePointsKey) {
    TestEnvironment env;
    EXPECT_EQ(CurveStore::create(kMonitor, *env.settings)->key(), kKey);
}

TEST(CurveStoreLoading, NothingStoredIsAnEmptyList) {
    TestEnvironment env;
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
}

TEST(CurveStoreLoading, StoredListLoadsInStoredOrder) {
    TestEnvironment env;
    env.settings->set(kKey,
                      Bytes{R"([{"luma":200,"brightness":90},{"luma":10.5,"brightness":25}])"});
    auto store = CurveStore::create(kMonitor, *env.settings);
    EXPECT_EQ(store->points(), (std::vector<CurvePoint>{{200, 90}, {10.5, 25}}));
}

TEST(CurveStoreLoading, ElementsWithoutBrightnessLoadAsAnEmptyList) {
    TestEnvironment env;
    env.settings->set(kKey, Bytes{R"([{"luma":200,"brightness":90},{"luma":10}])"});
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
}

TEST(CurveStoreLoading, OtherMonitorsCurveIsNotRead) {
    TestEnvironment env;
    env.settings->set("monitor.00000001-00000002-00000003.curvePointsV1",
                      Bytes{R"([{"luma":1,"brightness":2}])"});
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
}

// ---- remote changes ----

TEST(CurveStoreRemoteChange, ReloadsAndNotifiesOncePerChange) {
    TestEnvironment env;
    auto store = CurveStore::create(kMonitor, *env.settings);
    int calls = 0;
    store->setOnChange([&] { ++calls; });

    env.remoteSet(kKey, Bytes{R"([{"luma":50,"brightness":60}])"});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(store->points(), (std::vector<CurvePoint>{{50, 60}}));

    env.remoteSet(kKey, Bytes{"not json"});
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(store->points().empty());

    env.remoteSet(kKey, Bytes{R"([{"luma":70,"brightness":80}])"});
    env.remoteRemove(kKey);
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(store->points().empty());
}

TEST(CurveStoreRemoteChange, ChangeOfAnotherKeyStillReloads) {
    TestEnvironment env;
    env.settings->set(kKey, Bytes{R"([{"luma":50,"brightness":60}])"});
    auto store = CurveStore::create(kMonitor, *env.settings);
    int calls = 0;
    store->setOnChange([&] { ++calls; });
    env.remoteSet("userLat", 52.5);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(store->points(), (std::vector<CurvePoint>{{50, 60}}));
}

TEST(CurveStoreRemoteChange, DroppedStoreIsNeitherKeptAliveNorCalled) {
    TestEnvironment env;
    auto store = CurveStore::create(kMonitor, *env.settings);
    int calls = 0;
    store->setOnChange([&] { ++calls; });
    std::weak_ptr<CurveStore> weak = store;
    store.reset();
    EXPECT_TRUE(weak.expired());
    env.remoteSet(kKey, Bytes{R"([{"luma":50,"brightness":60}])"});
    EXPECT_EQ(calls, 0);
}

TEST(CurveStoreRemoteChange, StoreDroppedByItsOwnCallbackIsSafe) {
    TestEnvironment env;
    auto store = CurveStore::create(kMonitor, *env.settings);
    int calls = 0;
    store->setOnChange([&] {
        ++calls;
        store.reset();
    });
    env.remoteSet(kKey, Bytes{R"([{"luma":50,"brightness":60}])"});
    env.remoteSet(kKey, Bytes{R"([{"luma":51,"brightness":60}])"});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(store, nullptr);
}

// ---- decoding ----

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::optional<std::vector<CurvePoint>> expected;
};

void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << c.name;
}

class CurveStoreDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(CurveStoreDecode, TakesOnlyArraysOfWholePoints) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(CurveStore::decode(c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, CurveStoreDecode,
    ::testing::Values(
        DecodeCase{"EmptyArray", "[]", std::vector<CurvePoint>{}},
        DecodeCase{"IntegersAndFloats",
                   R"([{"luma":0,"brightness":20},{"luma":1.25e2,"brightness":-0.5}])",
                   std::vector<CurvePoint>{{0, 20}, {125, -0.5}}},
        DecodeCase{"MembersInAnyOrderWithExtras",
                   R"( [ {"brightness":30,"note":[1,{"x":null}],"luma":40} ] )",
                   std::vector<CurvePoint>{{40, 30}}},
        DecodeCase{"UnicodeElsewhere", R"([{"luma":1,"brightness":2,"name":"Büro ☀"}])",
                   std::vector<CurvePoint>{{1, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, CurveStoreDecode,
    ::testing::Values(
        DecodeCase{"Empty", "", std::nullopt}, DecodeCase{"NotJson", "curve", std::nullopt},
        DecodeCase{"TopLevelObject", R"({"luma":1,"brightness":2})", std::nullopt},
        DecodeCase{"TopLevelNull", "null", std::nullopt},
        DecodeCase{"ElementNotAnObject", R"([{"luma":1,"brightness":2},[1,2]])", std::nullopt},
        DecodeCase{"MissingLuma", R"([{"brightness":2}])", std::nullopt},
        DecodeCase{"MissingBrightness", R"([{"luma":1}])", std::nullopt},
        DecodeCase{"NumberAsString", R"([{"luma":"1","brightness":2}])", std::nullopt},
        DecodeCase{"NullValue", R"([{"luma":1,"brightness":null}])", std::nullopt},
        DecodeCase{"BoolValue", R"([{"luma":true,"brightness":2}])", std::nullopt},
        DecodeCase{"OverflowingNumber", R"([{"luma":1e400,"brightness":2}])", std::nullopt},
        DecodeCase{"NaNLiteral", R"([{"luma":NaN,"brightness":2}])", std::nullopt},
        DecodeCase{"CutShort", R"([{"luma":1,"brightness":2},{"luma":3,"bri)", std::nullopt},
        DecodeCase{"TrailingGarbage", R"([{"luma":1,"brightness":2}]])", std::nullopt},
        DecodeCase{"InvalidUtf8", "[{\"luma\":1,\"brightness\":2,\"n\":\"\xc3\x28\"}]",
                   std::nullopt},
        DecodeCase{"NulBytes", std::string("[{\"luma\":1,\0\"brightness\":2}]", 29), std::nullopt},
        DecodeCase{"DeepNesting", std::string(1u << 20, '[') + std::string(1u << 20, ']'),
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CurveStoreDecodeLarge, HugeListDecodesWhole) {
    std::string bytes = "[";
    constexpr int count = 50000;
    for (int i = 0; i < count; ++i) {
        bytes += R"({"luma":)" + std::to_string(i % 256) + R"(,"brightness":50},)";
    }
    bytes.back() = ']';
    auto points = CurveStore::decode(bytes);
    ASSERT_TRUE(points);
    ASSERT_EQ(points->size(), std::size_t(count));
    EXPECT_EQ(points->back(), (CurvePoint{double((count - 1) % 256), 50}));
}

TEST(CurveStoreDecodeLarge, MegabytesOfGarbageReadAsEmpty) {
    TestEnvironment env;
    env.settings->set(kKey, Bytes{"[" + std::string(1u << 20, '{')});
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
}

}  // namespace
}  // namespace pellora::test
