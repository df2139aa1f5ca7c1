#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LumaExtraction.h"

namespace pellora {

// One captured frame, copied out of the driver's buffer.
struct V4l2Frame {
    V4l2FrameFormat format;
    std::vector<std::uint8_t> bytes;
};

// The pixel format and frame size a capture uses.
struct V4l2Mode {
    std::uint32_t fourcc = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// A streaming capture from one device node: V4l2Capture on a real node, a scripted source in
// tests. Used from one thread at a time.
class V4l2FrameSource {
  public:
    enum class OpenError { none, noDevice, permissionDenied, busy, notCapture, other };
    // Why the last readFrame returned nothing.
    enum class ReadFailure { none, timedOut, cancelled, tryAgain, deviceGone, badBuffer, other };

    virtual ~V4l2FrameSource() = default;

    // Opens the node and starts streaming.
    virtual OpenError open(const std::filesystem::path& node) = 0;
    // The next frame, waiting at most `timeoutMs` (-1: no limit); nothing on timeout or error.
    // A readable `cancelFd` (an eventfd, say) ends the wait early.
    virtual std::optional<V4l2Frame> readFrame(int timeoutMs, int cancelFd = -1) = 0;
    virtual ReadFailure lastReadFailure() const = 0;
    // Stops streaming and closes the node; the camera's light goes off.
    virtual void close() = 0;
    // The mode agreed with the driver, while open.
    virtual V4l2Mode mode() const = 0;
    virtual const std::string& lastError() const = 0;
};

}  // namespace pellora
