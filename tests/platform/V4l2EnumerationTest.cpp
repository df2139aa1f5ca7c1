// The formats and frame sizes a V4L2 driver lists, on a device node faked by umockdev.

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>

#include "UmockdevTestbed.h"
#include "platform/linux/V4l2Capture.h"

namespace pellora::test {
namespace {

// A capture device whose driver answers every index it is asked for (up to 5000), as one that
// ignores the index would answer for ever.
struct EndlessDriver {
    std::atomic<int> formats{0}, sizes{0};

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, EndlessDriver* self) {
        const auto request = umockdev_ioctl_client_get_request(client);
        const bool format = request == VIDIOC_ENUM_FMT, size = request == VIDIOC_ENUM_FRAMESIZES;
        const int asked = format ? self->formats++ : size ? self->sizes++ : 0;
        const std::size_t length = format ? sizeof(v4l2_fmtdesc)
                                   : size ? sizeof(v4l2_frmsizeenum)
                                          : sizeof(v4l2_capability);
        UMockdevIoctlData* data =
            (format || size || request == VIDIOC_QUERYCAP) && asked < 5000
                ? umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length,
                                              nullptr)
                : nullptr;
        if (!data) {
            umockdev_ioctl_client_complete(client, -1, format || size ? EINVAL : ENOTTY);
            return TRUE;
        }
        void* answer = data->data;
        if (format) {
            static_cast<v4l2_fmtdesc*>(answer)->pixelformat = V4L2_PIX_FMT_YUYV;
        } else if (size) {
            auto* frame = static_cast<v4l2_frmsizeenum*>(answer);
            frame->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            frame->discrete = {640u + std::uint32_t(asked % 7) * 16, 480};
        } else {
            *static_cast<v4l2_capability*>(answer) = {};
            static_cast<v4l2_capability*>(answer)->capabilities =
                V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        }
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
};

// A driver that never says "no more" would keep the camera's queue asking for ever (the index
// wraps round); a camera lists a handful of formats and a few dozen sizes.
TEST(V4l2Enumeration, ADriverThatNeverSaysNoMoreIsAskedOnlySoMuch) {
    if (!UmockdevTestbed::preloadActive()) {
        GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper";
    }
    UMockdevTestbed* bed = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_testbed_add_from_string(
        bed,
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/video4linux/video0\n"
        "N: video0\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video0\nA: dev=81:0\\n\n",
        nullptr));
    EndlessDriver driver;
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(EndlessDriver::onIoctl), &driver);
    ASSERT_TRUE(umockdev_testbed_attach_ioctl(bed, "/dev/video0", handler, nullptr));

    const auto mode = V4l2Capture::preferredMode("/dev/video0");

    umockdev_testbed_detach_ioctl(bed, "/dev/video0", nullptr);
    g_object_unref(bed);
    g_signal_handlers_disconnect_by_data(handler, &driver);
    g_object_unref(handler);
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->fourcc, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(mode->width, 640u);
    EXPECT_LE(driver.formats.load(), 256);
    EXPECT_LE(driver.sizes.load(), 1024);
}

}  // namespace
}  // namespace pellora::test
