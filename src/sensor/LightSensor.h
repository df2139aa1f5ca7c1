#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
// run there. Completions run on `mainQueue`. Construct and destroy on the main thread.
class LightSensor {
  public:
    using Completion = std::function<void(std::optional<double> luma)>;

    static constexpr double warmupSec = 0.7;

    // Configures the camera once, synchronously, before returning. `camera`, the queues,
    // `clock` and `log` must outlive the sensor.
    LightSensor(Camera& camera, Queue& queue, Queue& mainQueue, const Clock& clock, DebugLog& log);
    ~LightSensor();

    LightSensor(const LightSensor&) = delete;
    LightSensor& operator=(const LightSensor&) = delete;

    // The camera a reading would use: the first of the preferred kind, else the default.
    // Needs no sensor; callable from any thread.
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

    // Mean of every fourth byte of every fourth row; nothing for an empty plane or one that
    // does not fit in `plane` (row padding past `width` is never read).
    static std::optional<double> meanLuma(std::span<const std::uint8_t> plane, int width,
                                          int height, std::size_t bytesPerRow);

  private:
    struct State;

    Queue& queue_;
    std::shared_ptr<State> state_;
};

}  // namespace pellora
