#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "platform/linux/V4l2FrameSource.h"

namespace pellora {

// One V4L2 video-capture device as found.
struct V4l2DeviceInfo {
    std::filesystem::path node;  // /dev/videoN
    std::string name;            // the driver's card name
    std::string busInfo;         // stable across reboots for the same port, e.g. usb-0000:00:14.0-2
    std::string driver;
};

// A capture session on one device with mmap streaming. The device is open only between
// open() and close() (the destructor closes), so the camera's light is on only then.
class V4l2Capture final : public V4l2FrameSource {
  public:
    // Capture devices under `devDir` that can stream, in node order.
    static std::vector<V4l2DeviceInfo> listDevices(const std::filesystem::path& devDir = "/dev");
    // The /dev/videoN nodes in `devDir`, by number (video2 before video10).
    static std::vector<std::filesystem::path> videoNodes(const std::filesystem::path& devDir);
    // The node's identity when it is a capture device that can stream.
    static std::optional<V4l2DeviceInfo> describe(const std::filesystem::path& node);
    // Why a node cannot be opened, without keeping it open.
    static OpenError probe(const std::filesystem::path& node);
    // The format and size open() would ask the node for, without streaming.
    static std::optional<V4l2Mode> preferredMode(const std::filesystem::path& node);

    V4l2Capture() = default;
    ~V4l2Capture() override;
    V4l2Capture(const V4l2Capture&) = delete;
    V4l2Capture& operator=(const V4l2Capture&) = delete;

    // Opens the node, picks the pixel format (GREY, NV12, YUV420, YUYV, UYVY and their
    // swapped-chroma kin, else MJPEG) at the smallest frame size it offers, and starts
    // streaming.
    OpenError open(const std::filesystem::path& node) override;
    std::optional<V4l2Frame> readFrame(int timeoutMs, int cancelFd = -1) override;
    ReadFailure lastReadFailure() const override { return readFailure_; }
    void close() override;
    V4l2Mode mode() const override { return V4l2Mode{fourcc_, width_, height_}; }
    const std::string& lastError() const override { return lastError_; }

    bool isOpen() const { return bool(fd_); }
    std::uint32_t fourcc() const { return fourcc_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // Preference rank of a pixel format (lower is better); nothing when it cannot be used.
    // Formats whose luma reads directly come first, in lumaFormatRank's order; JPEG last.
    static std::optional<int> formatRank(std::uint32_t fourcc);

  private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };
    bool chooseFormat();
    bool startStreaming();

    UniqueFd fd_;
    std::uint32_t fourcc_ = 0;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t bytesPerLine_ = 0;
    LumaRange range_ = LumaRange::limited;
    std::vector<Buffer> buffers_;
    bool streaming_ = false;
    std::string lastError_;
    ReadFailure readFailure_ = ReadFailure::none;
};

}  // namespace pellora
