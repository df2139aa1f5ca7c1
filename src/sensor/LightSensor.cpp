#include "sensor/LightSensor.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace pellora {

namespace {

constexpr const char* kTag = "sensor";
constexpr const char* kNone = "(none)";

// The shortest decimal that reads back as the same double, always with a fractional part
// (123 prints as 123.0, 3.5 as 3.5).
std::string shortestDecimal(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char buffer[400];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (error != std::errc()) {
        std::snprintf(buffer, sizeof buffer, "%.17g", value);
        return buffer;
    }
    std::string text(buffer, end);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

}  // namespace

struct LightSensor::State : std::enable_shared_from_this<State> {
    State(Camera& camera, Queue& queue, Queue& main, const Clock& clock, DebugLog& log)
        : camera(camera), queue(queue), main(main), clock(clock), debugLog(log) {}

    Camera& camera;
    Queue& queue;
    Queue& main;
    const Clock& clock;
    DebugLog& debugLog;

    // On `queue` only.
    std::optional<Completion> pending;
    double sessionStartedAt = 0;
    WorkItemPtr timeoutWork;
    int frameCount = 0;
    std::string selectedDeviceName = kNone;
    std::string selectedDeviceTypeRaw = kNone;
    bool outputAttached = false;

    // On `main` only: the copies the rest of the program reads.
    std::string mainDeviceName = kNone;
    std::string mainDeviceTypeRaw = kNone;

    // Set when the owner goes; work already queued then does nothing.
    std::atomic<bool> closing{false};

    // The state, unless it is gone or closing.
    static std::shared_ptr<State> live(const std::weak_ptr<State>& weak) {
        auto self = weak.lock();
        return self && !self->closing.load(std::memory_order_acquire) ? self : nullptr;
    }

    void log(const std::string& message) { debugLog.log(message, kTag); }

    void select(const std::string& name, const std::string& typeRaw) {
        if (name == selectedDeviceName && typeRaw == selectedDeviceTypeRaw) {
            return;
        }
        selectedDeviceName = name;
        selectedDeviceTypeRaw = typeRaw;
        main.post([weak = weak_from_this(), name, typeRaw] {
            if (auto self = live(weak)) {
                self->mainDeviceName = name;
                self->mainDeviceTypeRaw = typeRaw;
            }
        });
    }

    void configureSession() {
        PELLORA_ASSERT_ON(queue);
        std::optional<CameraDevice> device = LightSensor::discoverDevice(camera);
        std::optional<CameraDevice> attached = camera.inputDevice();
        if (attached && device && attached->uniqueID == device->uniqueID) {
            return;
        }
        camera.removeInput();
        if (!device) {
            select(kNone, kNone);
            log("No video device available (camera not enumerated)");
            return;
        }
        select(device->localizedName, device->deviceTypeRaw);
        log("Using camera \"" + device->localizedName + "\" [" + device->deviceTypeRaw + "]");
        CameraInputResult input = camera.addInput(*device);
        if (input.status == CameraInputResult::Status::creationFailed) {
            log("AVCaptureDeviceInput failed: " + input.error);
        } else if (input.status == CameraInputResult::Status::cannotAdd) {
            log("Can't add input for " + device->localizedName);
        }
        if (!outputAttached) {
            camera.setFrameHandler(queue, [weak = weak_from_this()](const CameraFrame& frame) {
                if (auto self = live(weak)) {
                    self->handleFrame(frame);
                }
            });
            outputAttached = true;
        }
        log("Session configured (preset=" + camera.preset() + ")");
    }

    void request(double timeout, Completion completion) {
        PELLORA_ASSERT_ON(queue);
        if (pending) {
            log("sampleOnce coalesced (already pending)");
            pending = [earlier = std::move(*pending),
                       later = std::move(completion)](std::optional<double> result) {
                earlier(result);
                later(result);
            };
            return;
        }
        pending = std::move(completion);
        frameCount = 0;
        configureSession();
        if (!camera.inputDevice()) {
            log("sampleOnce aborted — no camera device connected");
            finish(std::nullopt);
            return;
        }
        log("Starting session…");
        camera.start();
        sessionStartedAt = clock.monotonic();
        log(std::string("session.isRunning=") + (camera.isRunning() ? "true" : "false"));
        // A timeout that is not a finite positive number would keep the camera on for good.
        double delay = std::isfinite(timeout) && timeout > 0 ? timeout : 0.0;
        timeoutWork = queue.postAfter(delay, [weak = weak_from_this(), timeout] {
            if (auto self = live(weak)) {
                self->log("Timeout " + shortestDecimal(timeout) + "s — no frame accepted");
                self->finish(std::nullopt);
            }
        });
    }

    void handleFrame(const CameraFrame& frame) {
        PELLORA_ASSERT_ON(queue);
        if (!pending) {
            return;
        }
        ++frameCount;
        double elapsed = clock.monotonic() - sessionStartedAt;
        if (elapsed < warmupSec) {
            if (frameCount == 1) {
                log(format("First frame arrived after %.2fs (warmup)", elapsed));
            }
            return;
        }
        if (!frame.hasImage) {
            log("No CVPixelBuffer in sample");
            return;
        }
        if (frame.luma.data() == nullptr) {
            log("No Y-plane base address");
            return;
        }
        std::optional<double> luma =
            LightSensor::meanLuma(frame.luma, frame.width, frame.height, frame.bytesPerRow);
        if (!luma) {
            return;
        }
        log(format("Frame %d accepted after %.2fs: luma=%.1f (%dx%d)", frameCount, elapsed, *luma,
                   frame.width, frame.height));
        finish(*luma);
    }

    // Always goes round the queue once, so frames already queued may still be accepted;
    // only the first finish of a reading counts.
    void finish(std::optional<double> result) {
        queue.post([weak = weak_from_this(), result] {
            if (auto self = live(weak)) {
                self->finishNow(result);
            }
        });
    }

    void finishNow(std::optional<double> result) {
        PELLORA_ASSERT_ON(queue);
        if (!pending) {
            return;
        }
        Completion completion = std::move(*pending);
        pending.reset();
        if (timeoutWork) {
            timeoutWork->cancel();
            timeoutWork.reset();
        }
        if (camera.isRunning()) {
            camera.stop();
        }
        log("Session stopped. result=" + (result ? shortestDecimal(*result) : "nil") +
            " frames=" + std::to_string(frameCount));
        main.post([completion = std::move(completion), result] { completion(result); });
    }
};

LightSensor::LightSensor(Camera& camera, Queue& queue, Queue& mainQueue, const Clock& clock,
                         DebugLog& log)
    : queue_(queue), state_(std::make_shared<State>(camera, queue, mainQueue, clock, log)) {
    std::string name;
    std::string typeRaw;
    queue_.sync([state = state_, &name, &typeRaw] {
        state->configureSession();
        name = state->selectedDeviceName;
        typeRaw = state->selectedDeviceTypeRaw;
    });
    state_->mainDeviceName = std::move(name);
    state_->mainDeviceTypeRaw = std::move(typeRaw);
}

LightSensor::~LightSensor() {
    // Whatever is still queued holds the state weakly and does nothing once it is closing;
    // the camera must not keep running or calling back into it.
    state_->closing.store(true, std::memory_order_release);
    auto shutdown = [state = state_] {
        state->pending.reset();
        if (state->timeoutWork) {
            state->timeoutWork->cancel();
            state->timeoutWork.reset();
        }
        if (state->camera.isRunning()) {
            state->camera.stop();
        }
        if (state->outputAttached) {
            state->camera.setFrameHandler(state->queue, {});
            state->outputAttached = false;
        }
    };
    if (queue_.isCurrent()) {
        shutdown();
    } else {
        queue_.sync(shutdown);
    }
}

std::optional<CameraDevice> LightSensor::discoverDevice(Camera& camera) {
    std::vector<CameraDevice> devices = camera.devices();
    if (!devices.empty()) {
        return devices.front();
    }
    return camera.defaultDevice();
}

void LightSensor::sampleOnce(double timeout, Completion completion) {
    if (!completion) {
        completion = [](std::optional<double>) {};
    }
    queue_.post([weak = std::weak_ptr<State>(state_), timeout,
                 completion = std::move(completion)]() mutable {
        if (auto state = State::live(weak)) {
            state->request(timeout, std::move(completion));
        }
    });
}

const std::string& LightSensor::selectedDeviceName() const {
    PELLORA_ASSERT_ON(state_->main);
    return state_->mainDeviceName;
}

const std::string& LightSensor::selectedDeviceTypeRaw() const {
    PELLORA_ASSERT_ON(state_->main);
    return state_->mainDeviceTypeRaw;
}

std::optional<double> LightSensor::meanLuma(std::span<const std::uint8_t> plane, int width,
                                            int height, std::size_t bytesPerRow) {
    if (width < 1 || height < 1 || plane.data() == nullptr) {
        return std::nullopt;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    // The whole plane, last row without its padding, must lie inside the buffer.
    if (bytesPerRow < w || plane.size() < w || (h - 1) > (plane.size() - w) / bytesPerRow) {
        return std::nullopt;
    }
    std::uint64_t sum = 0;
    std::uint64_t count = 0;
    for (std::size_t y = 0; y < h; y += 4) {
        const std::uint8_t* row = plane.data() + y * bytesPerRow;
        for (std::size_t x = 0; x < w; x += 4) {
            sum += row[x];
            ++count;
        }
    }
    return static_cast<double>(sum) / static_cast<double>(count);
}

}  // namespace pellora
