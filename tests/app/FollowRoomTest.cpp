// "Follow the room closely": readings every ten minutes while the user is at the desk, the
// usual cadence while away, and a filter that forgets stale light.

#include <cmath>

#include "ControllerFixture.h"
#include "app/SnapshotPolicy.h"
#include "store/SettingsStore.h"

namespace pellora::test {
namespace {

using Id = MenuItemId;

// Noon in New York, far from sunrise and sunset: the usual cadence is 60 minutes.
constexpr double noon = 1718985600.0;  // 2024-06-21 16:00 UTC

struct FollowRoomTest : ControllerFixture {
    void SetUp() override {
        restart({.startWall = noon});
        d().env.settings->setForThisMachine("followRoomClosely", true);
    }
    int readings() { return d().camera.stats().starts; }
    double nextIn() { return d().app->nextSnapshotAt() - d().env.clock.now(); }
};

TEST_F(FollowRoomTest, EveryTenMinutesAtTheDeskTheUsualCadenceAway) {
    d().launch();
    d().advance(5);
    EXPECT_EQ(readings(), 1);
    EXPECT_EQ(title(Id::samples), "Samples: 1 · next 16:10 (10m)");
    d().advance(3600);
    EXPECT_EQ(readings(), 7);  // 16:00, then every 600 s

    // Away, screen still unlocked: checks every ten minutes, the camera only once the usual
    // 60 minutes have passed since the last reading.
    d().session->setIdleSeconds(400);
    double last = d().app->lastSampleAt();
    d().advance(nextIn() + 1);  // the check that finds them gone
    EXPECT_EQ(readings(), 7);
    EXPECT_EQ(title(Id::samples).substr(title(Id::samples).size() - 5), "(60m)");
    EXPECT_NEAR(d().app->nextSnapshotAt(), last + 3600, 1);
    d().advance(last + 3600 - d().env.clock.now() - 10);
    EXPECT_EQ(readings(), 7);
    d().advance(20);
    EXPECT_EQ(readings(), 8);

    // Back at the desk: seen at the next check, at most ten minutes on, and read at once.
    d().advance(120);
    d().session->setIdleSeconds(0);
    d().advance(600);
    EXPECT_EQ(readings(), 9);
    EXPECT_EQ(title(Id::samples).substr(title(Id::samples).size() - 5), "(10m)");

    // Locked: the due readings are skipped at the usual cadence, not every ten minutes.
    d().session->setLocked(true);
    d().advance(0.1);
    std::size_t skipped = count("takeSnapshot skipped (screen locked)");
    d().advance(2 * 3600);
    EXPECT_EQ(readings(), 9);
    EXPECT_EQ(count("takeSnapshot skipped (screen locked)") - skipped, 2u);
}

// Readings ten minutes apart stand almost alone, one seconds after another is smoothed
// against it; turned off, the usual cadence and smoothing come back.
TEST_F(FollowRoomTest, TheFilterForgetsStaleLightUntilTurnedOff) {
    d().camera.setScriptedLuma({40, 200, 100, 100});
    d().launch();
    d().advance(5);
    EXPECT_NEAR(d().app->smoothedLuma(), 40, 0.05);  // no blend with a made-up start value
    const double tau = SnapshotPolicy::forgetSeconds;
    auto weightOfNext = [&](double advance, double reading) {
        double before = d().app->smoothedLuma(), at = d().app->lastSampleAt();
        d().advance(advance);
        double since = d().app->lastSampleAt() - at;
        EXPECT_NEAR((d().app->smoothedLuma() - before) / (reading - before),
                    -std::expm1(-since / tau), 1e-3)
            << since;
        return since;
    };
    EXPECT_DOUBLE_EQ(weightOfNext(600, 200), 600);
    d().app->menu().activate(Id::snapshot);
    EXPECT_LT(weightOfNext(5, 100), 5);

    d().app->setFollowRoomClosely(false);
    EXPECT_DOUBLE_EQ(nextIn(), 3600);
    EXPECT_EQ(title(Id::samples), "Samples: 3 · next 17:10 (60m)");
    double smoothed = d().app->smoothedLuma();
    d().advance(3605);
    EXPECT_EQ(readings(), 4);
    EXPECT_NEAR(d().app->smoothedLuma(), 0.25 * 100 + 0.75 * smoothed, 0.05);
}

}  // namespace
}  // namespace pellora::test
