// In adapting mode a cycle's brightness read is judged against what we held before its own
// write, and a change the user made with the monitor's buttons is respected, not written
// over.

#include <gtest/gtest.h>

#include "ControllerFixture.h"

namespace pellora::test {
namespace {

using AdaptingReadTest = ControllerFixture;

TEST_F(AdaptingReadTest, OwnWriteIsNotTheUsersAndTheUsersChangeIsNotMissed) {
    SimulatedDesk& d = *desk;
    d.env.settings->set(d.keyPrefix() + "mode", std::string("adapting"));
    // Smoothed from 128: 121 → 71, 140.75 → 80, 166.06 → 93 by the default map.
    d.camera.setScriptedLuma({100, 200, 242, 166});
    d.launch();
    d.advance(4);
    ASSERT_EQ(d.monitorBrightness(), 71);
    d.advance(200);  // the first cycle's read (50, nothing held yet) is dropped at its check

    // The room brightens: 71 → 80 is written; the read still shows our own 71.
    d.app->snapshotNow();
    d.advance(4);
    EXPECT_EQ(d.monitorBrightness(), 80);
    ASSERT_EQ(d.samples().size(), 2u);
    EXPECT_EQ(d.samples()[1].brightness, 71);
    EXPECT_FALSE(d.samples()[1].userSet);
    EXPECT_EQ(count("external brightness change 80→71"), 0u);
    EXPECT_FALSE(d.app->pendingAnchor().has_value());

    // The user presses up to 95 with the monitor's buttons. The next cycle's target is 93,
    // but their change pauses adapting as a slider change would, and stands.
    d.monitor->pressButton(MonitorButton::brightnessUp, 15);
    d.app->snapshotNow();
    d.advance(4);
    ASSERT_EQ(d.samples().size(), 3u);
    EXPECT_EQ(d.samples()[2].brightness, 95);
    EXPECT_TRUE(d.samples()[2].userSet);
    EXPECT_EQ(count("external brightness change 80→95 — pending anchor"), 1u);
    EXPECT_EQ(d.monitorBrightness(), 95);
    EXPECT_EQ(title(MenuItemId::brightness), "Paused — resumes in 300s");
    EXPECT_EQ(d.app->lastAppliedBrightness(), 95);
    d.advance(200);
    EXPECT_EQ(count("anchor committed: luma=166 brightness=95"), 1u);
    // Past the pause, in the same light, the curve now holding their choice keeps it.
    d.advance(200);
    d.app->snapshotNow();
    d.advance(4);
    EXPECT_EQ(d.monitorBrightness(), 95);
}

}  // namespace
}  // namespace pellora::test
