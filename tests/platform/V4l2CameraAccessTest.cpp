#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AsOrdinaryUser.h"
#include "TempDir.h"
#include "platform/linux/V4l2Camera.h"
#include "platform/linux/V4l2CameraAccess.h"
#include "platform/sim/SimulatedCameraAccess.h"

namespace pellora::test {
namespace {

using OpenError = V4l2FrameSource::OpenError;

// Files, a FIFO and a missing node where capture devices would be: none is a camera, and
// none may hold up the caller (nothing ever writes to the FIFO).
TEST(V4l2Nodes, WhatIsNoCaptureDeviceIsRefusedWithoutWaiting) {
    TempDir dev;
    writeFile(dev / "video0", "");
    writeFile(dev / "video12", "not a device");
    writeFile(dev / "videoX", "");
    writeFile(dev / "null", "");
    ASSERT_EQ(::mkfifo((dev / "video3").c_str(), 0600), 0);
    for (const char* node : {"video0", "video3", "video12"}) {
        SCOPED_TRACE(node);
        EXPECT_EQ(V4l2Capture::probe(dev / node), OpenError::notCapture);
        EXPECT_FALSE(V4l2Capture::describe(dev / node));
        EXPECT_FALSE(V4l2Capture::preferredMode(dev / node));
        V4l2Capture capture;
        EXPECT_EQ(capture.open(dev / node), OpenError::notCapture);
        EXPECT_FALSE(capture.isOpen());
        EXPECT_FALSE(capture.readFrame(0));
        EXPECT_EQ(capture.lastReadFailure(), V4l2FrameSource::ReadFailure::other);
    }
    EXPECT_EQ(V4l2Capture::probe(dev / "video9"), OpenError::noDevice);
    auto camera = V4l2Camera::create(V4l2CameraBackend::system(dev.path()));
    EXPECT_TRUE(camera->devices().empty());
    EXPECT_EQ(camera->defaultDevice(), std::nullopt);

    // With no camera at all there is nothing to refuse.
    V4l2CameraAccess access(dev.path());
    EXPECT_EQ(access.authorizationStatus(), CameraAuthorization::authorized);
    EXPECT_EQ(access.repairHint(), "");
    bool granted = false;
    access.requestAccess([&](bool answer) { granted = answer; });
    EXPECT_TRUE(granted);
}

TEST(V4l2CameraAccess, RefusedNodeIsDeniedWithAHint) {
    TempDir dev;
    writeFile(dev / "video0", "");
    std::error_code error;
    std::filesystem::permissions(dev / "video0", std::filesystem::perms::none, error);
    ASSERT_FALSE(error);
    AsOrdinaryUser::openWayTo(dev / "video0", dev.path());
    V4l2CameraAccess access(dev.path());
    AsOrdinaryUser user;  // root opens every node
    ASSERT_TRUE(user.ok());
    EXPECT_EQ(V4l2Capture::probe(dev / "video0"), OpenError::permissionDenied);
    EXPECT_EQ(access.authorizationStatus(), CameraAuthorization::denied);
    EXPECT_NE(access.repairHint().find("video group"), std::string::npos);
}

TEST(SimulatedCameraAccess, UndecidedRequestTakesTheConfiguredAnswer) {
    SimulatedCameraAccess access;
    access.setStatus(CameraAuthorization::notDetermined);
    access.setAnswer(false);
    bool granted = true;
    access.requestAccess([&](bool g) { granted = g; });
    EXPECT_FALSE(granted);
    EXPECT_EQ(access.authorizationStatus(), CameraAuthorization::denied);
    EXPECT_NE(access.repairHint(), "");
}

}  // namespace
}  // namespace pellora::test
