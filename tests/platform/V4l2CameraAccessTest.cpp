#include <gtest/gtest.h>

#include "AsOrdinaryUser.h"
#include "TempDir.h"
#include "platform/linux/V4l2CameraAccess.h"
#include "platform/sim/SimulatedCameraAccess.h"

namespace pellora::test {
namespace {

TEST(V4l2CameraAccess, NoCameraAtAllIsNothingToRefuse) {
    TempDir dev;
    V4l2CameraAccess access(dev.path());
    EXPECT_EQ(access.authorizationStatus(), CameraAuthorization::authorized);
    EXPECT_EQ(access.repairHint(), "");
    bool answered = false;
    access.requestAccess([&](bool granted) { answered = granted; });
    EXPECT_TRUE(answered);
}

TEST(V4l2CameraAccess, NodesThatAreNotCamerasDoNotCount) {
    TempDir dev;
    writeFile(dev / "video0", "not a device");
    writeFile(dev / "null", "");
    EXPECT_EQ(V4l2CameraAccess(dev.path()).authorizationStatus(), CameraAuthorization::authorized);
}

TEST(V4l2CameraAccess, RefusedNodeIsDeniedWithAHint) {
    TempDir dev;
    writeFile(dev / "video0", "");
    std::filesystem::permissions(dev / "video0", std::filesystem::perms::none);
    AsOrdinaryUser::openWayTo(dev / "video0", dev.path());
    V4l2CameraAccess access(dev.path());
    AsOrdinaryUser user;  // root opens every node
    ASSERT_TRUE(user.ok());
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
