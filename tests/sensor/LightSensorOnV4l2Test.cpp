// The light sensor end to end on the real V4L2 path: a white YUYV test source in PipeWire,
// reached through PipeWire's V4L2 layer as /dev/video0 by a helper program that takes one
// LightSensor reading over V4l2Camera with the production queues.

#include <gtest/gtest.h>

#include "PipeWireCamera.h"

namespace pellora::test {
namespace {

TEST(PipeWireLightSensor, ReadsTheRoomThroughTheV4l2Layer) {
    if (std::string missing = PipeWireCamera::missing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    PipeWireCamera camera({"-q", "videotestsrc", "is-live=true", "pattern=white", "!",
                           "video/x-raw,format=YUY2,width=160,height=120,framerate=15/1"});
    ASSERT_EQ(camera.failure(), "");
    auto run = camera.runUnderV4l2Layer(PELLORA_LIGHT_SENSOR_V4L2_CHILD);
    ASSERT_TRUE(run.finished && run.exitCode == 0) << run.output;
    EXPECT_EQ(run.values["completions"], "1") << run.output;
    EXPECT_EQ(run.values["luma"], "255.0");  // limited-range white expanded to full range
    EXPECT_EQ(run.values["camera"], PipeWireCamera::name);
    EXPECT_EQ(run.values["descriptorsBack"], "1") << run.output;
}

}  // namespace
}  // namespace pellora::test
