#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Camera.h"
#include "platform/Clock.h"

namespace pellora {

// Light in a room with a window and an evening lamp, as mean camera luma (0 to 255).
// Daylight follows the sun's elevation at the location, dimmed by slowly drifting clouds;
// the lamp is on in the evening by local solar time once the sun is low.
struct RoomLight {
    double latitude = 40.7128;   // degrees, north positive
    double longitude = -74.006;  // degrees, east positive
    std::uint32_t seed = 1;      // picks the cloud pattern
    double ambientLuma = 3;      // a dark room at night
    double daylightLuma = 170;   // full daylight through the window, clear sky
    double cloudDepth = 0.65;    // share of daylight a full overcast takes away
    double lampLuma = 60;
    double lampOnHour = 17.5;  // local solar time
    double lampOffHour = 23.5;

    double lumaAt(double wallTime) const;
    // 0 (clear) to 1 (overcast); changes over tens of minutes.
    double cloudinessAt(double wallTime) const;
    bool lampOnAt(double wallTime) const;
    // Degrees above the horizon, NOAA solar position approximation.
    static double sunElevation(double wallTime, double latitude, double longitude);
};

enum class SimulatedCameraFault {
    none,
    noFrames,     // runs, but delivers nothing
    noImage,      // delivers samples without an image
    noLumaPlane,  // images without a luma plane
    startFails,   // the camera never runs
    inUse,        // another program streams from it (a video call): it cannot start
    inputFails,   // the device cannot be opened
    cannotAdd,    // the device opens but cannot be attached
};

struct SimulatedCameraOptions {
    CameraDevice device{"sim-camera-0", "Simulated Camera", "pellora.camera.simulated"};
    int width = 160;
    int height = 120;
    std::size_t bytesPerRow = 0;  // 0: same as width; padding bytes are 255
    double framesPerSecond = 30;
    // Like real webcams, frames are dark and unsteady for this long after a start.
    double settleSeconds = 0.5;
    RoomLight room;
};

// A camera that films the simulated room. Frames go out on the frame handler's queue at the
// frame rate (timed by the clock, so tests run it on virtual time). Thread-safe: the scene,
// faults and devices may be changed from any thread while frames flow.
class SimulatedCamera final : public Camera {
  public:
    struct Stats {
        int starts = 0;  // starts that got the camera running
        int stops = 0;
        int framesDelivered = 0;
        double onSeconds = 0;      // total time running
        double lastOnSeconds = 0;  // the last run, start to stop
    };

    explicit SimulatedCamera(const Clock& clock, SimulatedCameraOptions options = {});
    ~SimulatedCamera() override;

    std::vector<CameraDevice> devices() override;
    std::optional<CameraDevice> defaultDevice() override;
    std::optional<CameraDevice> inputDevice() override;
    void removeInput() override;
    CameraInputResult addInput(const CameraDevice& device) override;
    std::string preset() override;
    void setFrameHandler(Queue& queue, FrameHandler handler) override;
    bool start() override;
    bool busyElsewhere() override;
    bool isRunning() override;
    void stop() override;

    // The scene. A scripted series gives each run of the camera the next value (the last one
    // repeats); an empty series goes back to the room light.
    void setRoomLight(const RoomLight& room);
    void setLocation(double latitude, double longitude);
    void setScriptedLuma(std::vector<double> perRun);
    // Every settled frame is exactly this plane (`bytes` as laid out, `bytesPerRow` apart).
    void setScriptedPlane(int width, int height, std::size_t bytesPerRow,
                          std::vector<std::uint8_t> bytes);
    void clearScript();
    // The mean luma a settled frame shows now.
    double sceneLuma();

    // Faults and hardware.
    void setFault(SimulatedCameraFault fault);
    void setDevices(std::vector<CameraDevice> devices);
    void setDefaultDevice(std::optional<CameraDevice> device);
    // The simulated camera is unplugged (or plugged back in as the only camera).
    void setPresent(bool present);

    Stats stats();
    void resetStats();

  private:
    void scheduleNextFrameLocked();
    void deliverFrame(std::uint64_t run);
    bool inputPresentLocked() const;
    void stopLocked();

    const Clock& clock_;
    const SimulatedCameraOptions options_;

    std::mutex mutex_;
    RoomLight room_;
    std::vector<double> scriptedLuma_;
    std::size_t scriptIndex_ = 0;
    std::optional<double> runLuma_;  // the scripted value of the current run
    struct Plane {
        int width = 0;
        int height = 0;
        std::size_t bytesPerRow = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<Plane> scriptedPlane_;
    SimulatedCameraFault fault_ = SimulatedCameraFault::none;
    std::vector<CameraDevice> devices_;
    std::optional<CameraDevice> defaultDevice_;
    std::optional<CameraDevice> input_;
    Queue* sinkQueue_ = nullptr;
    FrameHandler handler_;
    bool running_ = false;
    bool busy_ = false;
    double startedAt_ = 0;
    std::uint64_t run_ = 0;
    std::uint64_t frameIndex_ = 0;  // frames of this run
    WorkItemPtr nextFrame_;
    Stats stats_;

    // Touched only by frame delivery, on the handler's queue.
    std::vector<std::uint8_t> frameBytes_;
};

}  // namespace pellora
