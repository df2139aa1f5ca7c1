#include "model/CurveStore.h"

#include <gtest/gtest.h>

#include "TestEnvironment.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.curvePointsV1";
using Points = std::vector<CurvePoint>;

TEST(CurveStore, LoadsThePointsStoredUnderTheMonitorsKeyInStoredOrder) {
    TestEnvironment env;
    env.settings->set("monitor.00000001-00000002-00000003.curvePointsV1",
                      Bytes{R"([{"luma":1,"brightness":2}])"});
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
    env.settings->set(kKey,
                      Bytes{R"([{"brightness":90,"luma":200},{"luma":10.5,"brightness":25}])"});
    EXPECT_EQ(CurveStore::create(kMonitor, *env.settings)->points(),
              (Points{{200, 90}, {10.5, 25}}));
    // One element without "brightness" makes the whole list unreadable.
    env.settings->set(kKey, Bytes{R"([{"luma":200,"brightness":90},{"luma":10}])"});
    EXPECT_TRUE(CurveStore::create(kMonitor, *env.settings)->points().empty());
}

TEST(CurveStore, EachRemoteChangeReloadsAndAnnouncesAndADroppedStoreIsNotCalled) {
    TestEnvironment env;
    auto store = CurveStore::create(kMonitor, *env.settings);
    int calls = 0;
    store->setOnChange([&] { ++calls; });
    env.remoteSet(kKey, Bytes{R"([{"luma":50,"brightness":60}])"});
    EXPECT_EQ(store->points(), (Points{{50, 60}}));
    env.remoteSet("userLat", 52.5);  // another key: the curve is the same, still announced
    EXPECT_EQ(store->points(), (Points{{50, 60}}));
    env.remoteSet(kKey, Bytes{"not json"});
    EXPECT_TRUE(store->points().empty());
    env.remoteSet(kKey, Bytes{R"([{"luma":70,"brightness":80}])"});
    env.remoteRemove(kKey);
    EXPECT_TRUE(store->points().empty());
    EXPECT_EQ(calls, 5);
    // The callback replaces itself and drops the store: neither kept alive nor called again.
    std::weak_ptr<CurveStore> weak = store;
    store->setOnChange([&] {
        store->setOnChange([&] { ++calls; });
        store.reset();
    });
    env.remoteSet(kKey, Bytes{"[]"});
    EXPECT_TRUE(weak.expired());
    env.remoteSet(kKey, Bytes{R"([{"luma":51,"brightness":60}])"});
    EXPECT_EQ(calls, 5);
}

}  // namespace
}  // namespace pellora::test
