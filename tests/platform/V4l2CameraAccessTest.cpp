#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AsOrdinaryUser.h"
#include "TempDir.h"
#include "VirtualClock.h"
#include "platform/linux/V4l2Camera.h"
#include "platform/linux/V4l2CameraAccess.h"

namespace pellora::test {
namespace {

using OpenError = V4l2FrameSource::OpenError;

// A probe queue and the main queue on virtual time: answers must come on main, not inline.
struct AccessQueues {
    VirtualClock clock;
    std::unique_ptr<ManualQueue> probe = clock.makeQueue("pellora.sensor");
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);

    // What checkAuthorization answers.
    std::optional<CameraAuthorization> ask(CameraAccess& access) {
        std::optional<CameraAuthorization> status;
        access.checkAuthorization([&](CameraAuthorization found) {
            EXPECT_TRUE(main->isCurrent() && !probe->isCurrent());
            status = found;
        });
        EXPECT_FALSE(status) << "answered inline";
        clock.runPending();
        return status;
    }
};

// Files, a FIFO and a missing node where capture devices would be: none is a camera, and
// none may hold up the caller (nothing ever writes to the FIFO).
TEST(V4l2Nodes, WhatIsNoCaptureDeviceIsRefusedWithoutWaiting) {
    TempDir dev;
    for (const char* file : {"video0", "video12", "videoX", "null"}) {
        writeFile(dev / file, "not a device");
    }
    ASSERT_EQ(::mkfifo((dev / "video3").c_str(), 0600), 0);
    for (const char* node : {"video0", "video3", "video12"}) {
        SCOPED_TRACE(node);
        EXPECT_EQ(V4l2Capture::probe(dev / node), OpenError::notCapture);
        EXPECT_FALSE(V4l2Capture::describe(dev / node));
        EXPECT_FALSE(V4l2Capture::preferredMode(dev / node));
        V4l2Capture capture;
        EXPECT_EQ(capture.open(dev / node), OpenError::notCapture);
        EXPECT_FALSE(capture.isOpen() || capture.readFrame(0));
        EXPECT_EQ(capture.lastReadFailure(), V4l2FrameSource::ReadFailure::other);
    }
    EXPECT_EQ(V4l2Capture::probe(dev / "video9"), OpenError::noDevice);
    auto camera = V4l2Camera::create(V4l2CameraBackend::system(dev.path()));
    EXPECT_TRUE(camera->devices().empty());
    EXPECT_EQ(camera->defaultDevice(), std::nullopt);

    // With no camera at all there is nothing to refuse.
    AccessQueues queues;
    auto access = V4l2CameraAccess::create(*queues.probe, *queues.main, dev.path());
    EXPECT_EQ(access->lastKnownStatus(), std::nullopt);
    EXPECT_EQ(queues.ask(*access), CameraAuthorization::authorized);
    EXPECT_EQ(access->lastKnownStatus(), CameraAuthorization::authorized);
    EXPECT_EQ(access->repairHint(), "");

    // Answers that arrive once the service is gone reach nobody.
    int answers = 0;
    access->checkAuthorization([&](CameraAuthorization) { ++answers; });
    access->checkAuthorization([&](CameraAuthorization) { ++answers; });
    queues.probe->sync([] {});  // the probe has looked; its answers wait on main
    access.reset();
    queues.clock.runPending();
    EXPECT_EQ(answers, 0);
}

TEST(V4l2CameraAccess, RefusedNodeIsDeniedWithAHint) {
    TempDir dev;
    writeFile(dev / "video0", "");
    std::error_code error;
    std::filesystem::permissions(dev / "video0", std::filesystem::perms::none, error);
    ASSERT_FALSE(error);
    AsOrdinaryUser::openWayTo(dev / "video0", dev.path());
    AccessQueues queues;
    auto access = V4l2CameraAccess::create(*queues.probe, *queues.main, dev.path());
    AsOrdinaryUser user;  // root opens every node
    ASSERT_TRUE(user.ok());
    EXPECT_EQ(V4l2Capture::probe(dev / "video0"), OpenError::permissionDenied);
    EXPECT_EQ(queues.ask(*access), CameraAuthorization::denied);
    EXPECT_EQ(access->lastKnownStatus(), CameraAuthorization::denied);
    EXPECT_NE(access->repairHint().find((dev / "video0").string()), std::string::npos);
    EXPECT_NE(access->repairHint().find("video group"), std::string::npos);
}

}  // namespace
}  // namespace pellora::test
