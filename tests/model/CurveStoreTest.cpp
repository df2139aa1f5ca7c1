#include "model/CurveStore.h"

#include <gtest/gtest.h>

#include "TestEnvironment.h"

namespace pellora::test {
namespace {

constexpr const char* kCurveMonitor = "00001234-00005678-00009ABC";
constexpr const char* kCurveKey = "monitor.00001234-00005678-00009ABC.curvePointsV1";
using Points = std::vector<CurvePoint>;

TEST(CurveStore, LoadsTheMonitorsKeyAndReloadsAndAnnouncesEachRemoteChangeUntilDropped) {
    TestEnvironment env;
    env.settings->set("monitor.00000001-00000002-00000003.curvePointsV1",
                      Bytes{R"([{"luma":1,"brightness":2}])"});
    env.settings->set(kCurveKey,
                      Bytes{R"([{"brightness":90,"luma":200},{"luma":10.5,"brightness":25}])"});
    auto store = CurveStore::create(kCurveMonitor, *env.settings);
    EXPECT_EQ(store->points(), (Points{{200, 90}, {10.5, 25}}));
    int calls = 0;
    store->setOnChange([&] { ++calls; });
    // One element without "brightness" makes the whole synced list unreadable: this
    // machine's own stands.
    env.remoteSet(kCurveKey, Bytes{R"([{"luma":200,"brightness":90},{"luma":10}])"});
    EXPECT_EQ(store->points(), (Points{{200, 90}, {10.5, 25}}));
    env.remoteSet(kCurveKey, Bytes{R"([{"luma":70,"brightness":80}])"});
    EXPECT_EQ(store->points(), (Points{{70, 80}}));
    env.remoteRemove(kCurveKey);
    EXPECT_TRUE(store->points().empty());
    EXPECT_EQ(calls, 3);
    // The callback replaces itself and drops the store: neither kept alive nor called again.
    std::weak_ptr<CurveStore> weak = store;
    store->setOnChange([&] {
        store->setOnChange([&] { ++calls; });
        store.reset();
    });
    env.remoteSet(kCurveKey, Bytes{"[]"});
    EXPECT_TRUE(weak.expired());
    env.remoteSet(kCurveKey, Bytes{R"([{"luma":51,"brightness":60}])"});
    EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace pellora::test
