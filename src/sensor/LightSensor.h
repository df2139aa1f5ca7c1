#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "platform/Camera.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "store/DebugLog.h"

namespace pellora {

// Measures room light with the camera: on request it starts the camera, lets it warm up,
// takes the mean luma of the first frame after that and stops the camera again. The camera
// never runs between readings.
//
// All capture state lives on `queue` ("pellora.sensor"); frames, the timeout and the finish
// run there. Completions run on `mainQueue`. Made with `create`, so that queued work, frames
// and the timeout hold the sensor weakly and do nothing once it is gone. Create and drop it
// on the main thread.
class LightSensor : public std::enable_shared_from_this<LightSensor> {
  public:
    using Completion = std::function<void(std::optional<double> luma)>;

    // Why a reading that answered nothing found nothing, where it knows more than "no frame".
    enum class Trouble {
        none,
        cameraBusy,  // another program (a video call) streams from the camera; left alone
        onlyBlack,   // every frame was black: a closed privacy shutter, a covered lens
    };

    static constexpr double warmupSec = 0.7;

    // Configures the camera on `queue` without waiting for it; the camera's name reaches the
    // main queue as soon as it is known. `camera`, the queues, `clock` and `log` must outlive
    // the sensor.
    static std::shared_ptr<LightSensor> create(Camera& camera, Queue& queue, Queue& mainQueue,
                                               const Clock& clock, DebugLog& log);
    // Stops the camera and detaches from it, on `queue`.
    ~LightSensor();

    LightSensor(const LightSensor&) = delete;
    LightSensor& operator=(const LightSensor&) = delete;

    // The first camera of the preferred kind, else the default: the one a reading uses unless
    // it has shown only black. Needs no sensor; callable from any thread.
    static std::optional<CameraDevice> discoverDevice(Camera& camera);

    // Asks for one reading and returns at once. `completion` runs exactly once, on the main
    // queue, with the mean luma (0 to 255) or nothing when no frame was accepted within
    // `timeout` seconds. A request made while a reading runs joins it (and its timeout).
    void sampleOnce(double timeout, Completion completion);

    // The camera attached for the latest reading, or "(none)". Main thread only: the sensor's
    // queue sends each change to the main queue ahead of any completion it later posts, so
    // a completion always sees the name of the camera that produced (or failed) its reading.
    const std::string& selectedDeviceName() const;
    const std::string& selectedDeviceTypeRaw() const;
    // The latest answered reading's trouble. Main thread only; set ahead of its completion.
    Trouble lastReadingTrouble() const;

    // Mean of every fourth byte of every fourth row; nothing for an empty plane or one that
    // does not fit in `plane` (row padding past `width` is never read).
    static std::optional<double> meanLuma(std::span<const std::uint8_t> plane, int width,
                                          int height, std::size_t bytesPerRow);

  private:
    LightSensor(Camera& camera, Queue& queue, Queue& mainQueue, const Clock& clock, DebugLog& log);

    void log(const std::string& message);
    void select(const std::string& name, const std::string& typeRaw);
    // The camera to use: the first that has not shown only black, else the first of all.
    std::optional<CameraDevice> chooseDevice();
    void configureSession();
    void request(double timeout, Completion completion);
    void handleFrame(const CameraFrame& frame);
    void finish(std::optional<double> result);
    void finishNow(std::optional<double> result);
    // Cancels the timeout and stops the camera.
    void endRun();
    void shutdown();

    Camera& camera_;
    Queue& queue_;
    Queue& main_;
    const Clock& clock_;
    DebugLog& debugLog_;

    // On `queue_` only.
    std::optional<Completion> pending_;
    double sessionStartedAt_ = 0;
    WorkItemPtr timeoutWork_;
    int frameCount_ = 0;
    std::string selectedDeviceName_;
    std::string selectedDeviceTypeRaw_;
    bool outputAttached_ = false;
    Trouble trouble_ = Trouble::none;
    // Cameras whose last reading saw only black (a laptop's behind its shut lid).
    std::set<std::string> sawOnlyBlack_;

    // On `main_` only: the copies the rest of the program reads.
    std::string mainDeviceName_;
    std::string mainDeviceTypeRaw_;
    Trouble mainTrouble_ = Trouble::none;
};

}  // namespace pellora
