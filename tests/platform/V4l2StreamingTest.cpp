// Streaming through the real V4L2 API without a kernel device: PipeWire's V4L2 layer
// (libpw-v4l2, preloaded by its pw-v4l2 wrapper) turns the V4L2 calls of a helper program
// into a PipeWire stream, fed by a GStreamer test source.

#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>

#include "PipeWireCamera.h"

namespace pellora::test {
namespace {

struct StreamCase {
    const char* fourcc;   // as V4L2 names it
    const char* caps;     // what the source offers
    const char* pattern;  // videotestsrc pattern
    double luma;          // full-range mean the camera must hand over
    double tolerance;
};

// videotestsrc paints white as Y' 235 and black as 16 (limited range) in every YUV format and
// in GRAY8; JPEG keeps those codes as they are.
const StreamCase kCases[] = {
    {"YUYV", "video/x-raw,format=YUY2", "white", 255, 0},  // limited range, expanded
    {"UYVY", "video/x-raw,format=UYVY", "black", 0, 0},
    {"NV12", "video/x-raw,format=NV12", "white", 255, 0},
    {"YU12", "video/x-raw,format=I420", "black", 0, 0},
    {"GREY", "video/x-raw,format=GRAY8", "white", 235, 0},  // full range: bytes as they come
    {"MJPG", "video/x-raw,format=I420", "white", 235, 2},   // encoded below
};

class V4l2Streaming : public ::testing::TestWithParam<StreamCase> {};

TEST_P(V4l2Streaming, StreamsThroughTheV4l2Api) {
    const StreamCase& c = GetParam();
    if (std::string missing = PipeWireCamera::missing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    QString pipeline = QString(
                           "-q videotestsrc is-live=true pattern=%1 ! %2,width=160,height=120,"
                           "framerate=15/1")
                           .arg(c.pattern, c.caps);
    if (c.fourcc == std::string("MJPG")) {
        pipeline += " ! jpegenc ! image/jpeg";
    }
    PipeWireCamera camera(pipeline.split(' '));
    ASSERT_EQ(camera.failure(), "");
    auto run = camera.runUnderV4l2Layer(PELLORA_V4L2_CAPTURE_CHILD);
    ASSERT_TRUE(run.finished && run.exitCode == 0) << run.output;
    EXPECT_EQ(run.values["name"], PipeWireCamera::name);
    EXPECT_EQ(run.values["type"], "v4l2-platform");  // bus "platform:PipeWire-<id>"
    EXPECT_EQ(run.values["preset"], std::string("160x120 ") + c.fourcc);
    EXPECT_GE(std::atof(run.values["frames"].c_str()), 3) << run.output;
    EXPECT_EQ(run.values["geometry"], "160x120");
    EXPECT_NEAR(std::atof(run.values["meanLow"].c_str()), c.luma, c.tolerance);
    EXPECT_NEAR(std::atof(run.values["meanHigh"].c_str()), c.luma, c.tolerance);
    EXPECT_EQ(run.values["descriptorsBack"], "1") << run.output;
}

INSTANTIATE_TEST_SUITE_P(PipeWireSource, V4l2Streaming, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.fourcc); });

}  // namespace
}  // namespace pellora::test
