#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pellora {

// One V4L2 video-capture device as found.
struct V4l2DeviceInfo {
    std::filesystem::path node;  // /dev/videoN
    std::string name;            // the driver's card name
    std::string busInfo;         // stable across reboots for the same port, e.g. usb-0000:00:14.0-2
    std::string driver;
};

// One captured frame, copied out of the driver's buffer.
struct V4l2Frame {
    std::uint32_t fourcc = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerLine = 0;
    bool limitedRange = true;  // luma in 16..235 rather than 0..255
    std::vector<std::uint8_t> bytes;
};

// A capture session on one device with mmap streaming. The device is open only between
// open() and close() (the destructor closes), so the camera's light is on only then.
class V4l2Capture {
  public:
    enum class OpenError { none, noDevice, permissionDenied, busy, notCapture, other };

    // Capture devices under `devDir` that can stream, in node order.
    static std::vector<V4l2DeviceInfo> listDevices(const std::filesystem::path& devDir = "/dev");
    // Why a node cannot be opened, without keeping it open.
    static OpenError probe(const std::filesystem::path& node);

    V4l2Capture() = default;
    ~V4l2Capture();
    V4l2Capture(const V4l2Capture&) = delete;
    V4l2Capture& operator=(const V4l2Capture&) = delete;

    // Opens the node, picks the pixel format (GREY, NV12, YUV420, YUYV, UYVY, else MJPEG)
    // at the smallest frame size it offers, and starts streaming.
    OpenError open(const std::filesystem::path& node);
    // The next frame, waiting at most `timeoutMs`; nothing on timeout or error.
    std::optional<V4l2Frame> readFrame(int timeoutMs);
    void close();

    bool isOpen() const { return fd_ >= 0; }
    std::uint32_t fourcc() const { return fourcc_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    const std::string& lastError() const { return lastError_; }

    // Preference rank of a pixel format (lower is better); nothing when it cannot be used.
    static std::optional<int> formatRank(std::uint32_t fourcc);

  private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };
    bool chooseFormat();
    bool startStreaming();

    int fd_ = -1;
    std::uint32_t fourcc_ = 0;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t bytesPerLine_ = 0;
    bool limitedRange_ = true;
    std::vector<Buffer> buffers_;
    bool streaming_ = false;
    std::string lastError_;
};

}  // namespace pellora
