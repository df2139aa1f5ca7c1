#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Camera.h"
#include "platform/UniqueFd.h"
#include "platform/linux/V4l2Capture.h"
#include "platform/linux/V4l2FrameSource.h"

namespace pellora {

class MjpegLuma;

// How V4l2Camera reaches the devices: the kernel's by default, scripted ones in tests.
struct V4l2CameraBackend {
    std::function<std::vector<V4l2DeviceInfo>()> listDevices;
    std::function<V4l2FrameSource::OpenError(const std::filesystem::path&)> probe;
    std::function<std::optional<V4l2Mode>(const std::filesystem::path&)> preferredMode;
    std::function<std::unique_ptr<V4l2FrameSource>()> makeSource;

    // The capture nodes under `devDir`, through V4l2Capture.
    static V4l2CameraBackend system(std::filesystem::path devDir = "/dev");
};

// The camera on Linux: V4L2 capture devices. The device is opened only by start() and closed
// by stop(), so the camera's light is on only during a reading. While it runs, a capture
// thread reads frames, turns them into a full-range luma plane (MJPEG decoded to grey) and
// posts them to the frame handler's queue, dropping a frame while the previous one is still
// queued or being handled. A device that vanishes while running just ends the frames.
//
// Thread-safe; the control calls are meant for the frame handler's queue. Frames still queued
// when the camera goes are dropped, so it is made shared.
class V4l2Camera final : public Camera, public std::enable_shared_from_this<V4l2Camera> {
  public:
    static constexpr const char* smallestPreset = "smallest";

    static std::shared_ptr<V4l2Camera> create(
        V4l2CameraBackend backend = V4l2CameraBackend::system());
    ~V4l2Camera() override;
    V4l2Camera(const V4l2Camera&) = delete;
    V4l2Camera& operator=(const V4l2Camera&) = delete;

    // Colour cameras first, in node order; grey-only (infrared) and unreadable nodes after.
    std::vector<CameraDevice> devices() override;
    // Linux has no system-wide default camera: the first of `devices` stands in.
    std::optional<CameraDevice> defaultDevice() override;
    std::optional<CameraDevice> inputDevice() override;
    void removeInput() override;
    CameraInputResult addInput(const CameraDevice& device) override;
    // "smallest" without an input, else the size and format in use, e.g. "160x120 YUYV".
    std::string preset() override;
    void setFrameHandler(Queue& queue, FrameHandler handler) override;
    bool start() override;
    bool busyElsewhere() override;
    bool isRunning() override;
    void stop() override;

    // Why the last start failed, or "".
    std::string lastError();

    // Camera identities for the devices found: the unique ID joins bus and card name (a
    // repeat of both gets "#2", "#3", … in node order), the type names the bus.
    static std::vector<CameraDevice> identify(const std::vector<V4l2DeviceInfo>& found);
    // "v4l2-usb", "v4l2-platform", "v4l2-pci", else "v4l2".
    static std::string deviceType(const std::string& busInfo);
    // e.g. "320x240 YUYV".
    static std::string presetName(const V4l2Mode& mode);
    static std::string fourccText(std::uint32_t fourcc);

  private:
    struct Delivery;

    struct Input {
        CameraDevice device;
        std::filesystem::path node;
    };

    explicit V4l2Camera(V4l2CameraBackend backend);

    std::optional<std::filesystem::path> findNode(const std::string& uniqueID);
    void captureLoop(std::uint64_t run);
    void deliver(std::uint64_t run, V4l2Frame&& frame, MjpegLuma& decoder);
    // On the handler's queue.
    void hand(const Delivery& delivery, std::uint64_t generation, std::uint64_t run);
    void stopLocked();
    bool runEnded();

    const V4l2CameraBackend backend_;

    // start, stop, addInput and removeInput hold this for their whole run; the capture thread
    // never takes it.
    std::mutex control_;
    std::optional<Input> input_;
    std::string preset_ = smallestPreset;
    std::string lastError_;
    std::unique_ptr<V4l2FrameSource> source_;  // the capture thread's while it runs
    std::thread thread_;
    UniqueFd cancelFd_;
    bool running_ = false;
    bool busy_ = false;  // the last start met another program streaming
    std::uint64_t runs_ = 0;

    // The handler side, shared by the control calls, the capture thread and the deliveries.
    std::mutex output_;
    Queue* queue_ = nullptr;
    FrameHandler handler_;
    std::uint64_t generation_ = 0;  // changes with every handler
    std::uint64_t wantedRun_ = 0;   // the run whose frames are wanted; 0 while stopped
    bool framePending_ = false;     // a frame is queued or being handled
    bool ended_ = false;            // the capture thread gave up (device gone)
};

}  // namespace pellora
