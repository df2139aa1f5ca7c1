#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Queue.h"

namespace pellora {

// A camera as the platform lists it.
struct CameraDevice {
    std::string uniqueID;       // stable across reconnects; decides whether to reconfigure
    std::string localizedName;  // shown to the user
    std::string deviceTypeRaw;  // the platform's type identifier, as text
    bool operator==(const CameraDevice&) const = default;
};

// One delivered frame. The bytes are valid only during the frame handler's call.
struct CameraFrame {
    // False when the capture handed over a sample that carries no image at all.
    bool hasImage = true;
    // Plane 0: 8-bit full-range luma, one byte per sample, rows `bytesPerRow` apart. Empty
    // when the image has no luma plane.
    std::span<const std::uint8_t> luma;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
};

// Outcome of attaching a device as the camera's input.
struct CameraInputResult {
    enum class Status { added, creationFailed, cannotAdd };
    Status status = Status::added;
    std::string error;  // why creation failed
};

// The capture session the light sensor drives: at most one device input, one frame output.
//
// `devices` and `defaultDevice` may be called from any thread. Everything else is called on
// the queue given to `setFrameHandler` (or before any frame handler exists).
class Camera {
  public:
    using FrameHandler = std::function<void(const CameraFrame&)>;

    virtual ~Camera() = default;

    // The cameras of the preferred kind, best first.
    virtual std::vector<CameraDevice> devices() = 0;
    // The system's default camera; consulted only when `devices` is empty.
    virtual std::optional<CameraDevice> defaultDevice() = 0;

    // The device of the current input, if any.
    virtual std::optional<CameraDevice> inputDevice() = 0;
    // Drops the input and selects the smallest frame size for the next one.
    virtual void removeInput() = 0;
    virtual CameraInputResult addInput(const CameraDevice& device) = 0;
    // The frame-size preset in use, as the platform names it.
    virtual std::string preset() = 0;

    // While running, every frame goes to `handler` on `queue`, one at a time; a frame that
    // would queue up behind another is dropped. An empty handler detaches the output.
    virtual void setFrameHandler(Queue& queue, FrameHandler handler) = 0;

    // Blocks until the camera runs (or fails to); returns whether it runs.
    virtual bool start() = 0;
    // Whether the last start failed because another program streams from the camera (a video
    // call): nothing is wrong with it, and it is best left alone until the next reading.
    virtual bool busyElsewhere() = 0;
    virtual bool isRunning() = 0;
    virtual void stop() = 0;
};

}  // namespace pellora
