#include "sensor/LightSensor.h"
#include "platform/WhileAlive.h"

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

std::shared_ptr<LightSensor> LightSensor::create(Camera& camera, Queue& queue, Queue& mainQueue,
                                                 const Clock& clock, DebugLog& log) {
    std::shared_ptr<LightSensor> sensor(new LightSensor(camera, queue, mainQueue, clock, log));
    // Listing and opening cameras can take a while; the main thread does not wait for it.
    queue.post([weak = sensor->weak_from_this()] {
        if (auto self = weak.lock()) {
            self->configureSession();
        }
    });
    return sensor;
}

LightSensor::LightSensor(Camera& camera, Queue& queue, Queue& mainQueue, const Clock& clock,
                         DebugLog& log)
    : camera_(camera),
      queue_(queue),
      main_(mainQueue),
      clock_(clock),
      debugLog_(log),
      selectedDeviceName_(kNone),
      selectedDeviceTypeRaw_(kNone),
      mainDeviceName_(kNone),
      mainDeviceTypeRaw_(kNone) {}

LightSensor::~LightSensor() {
    // Whatever is still queued finds the sensor gone; the camera must neither keep running
    // nor keep calling.
    if (queue_.isCurrent()) {
        shutdown();
    } else {
        queue_.sync([this] { shutdown(); });
    }
}

void LightSensor::endRun() {
    if (timeoutWork_) {
        timeoutWork_->cancel();
        timeoutWork_.reset();
    }
    if (camera_.isRunning()) {
        camera_.stop();
    }
}

void LightSensor::shutdown() {
    pending_.reset();
    endRun();
    if (outputAttached_) {
        camera_.setFrameHandler(queue_, {});
        outputAttached_ = false;
    }
    // The input goes with the sensor too; a later sensor on this camera starts afresh and
    // attaches its own output.
    camera_.removeInput();
}

void LightSensor::log(const std::string& message) {
    debugLog_.log(message, kTag);
}

void LightSensor::select(const std::string& name, const std::string& typeRaw) {
    if (name == selectedDeviceName_ && typeRaw == selectedDeviceTypeRaw_) {
        return;
    }
    selectedDeviceName_ = name;
    selectedDeviceTypeRaw_ = typeRaw;
    main_.post(whileAlive(this, [name, typeRaw](const auto& self) {
        self->mainDeviceName_ = name;
        self->mainDeviceTypeRaw_ = typeRaw;
    }));
}

std::optional<CameraDevice> LightSensor::chooseDevice() {
    std::vector<CameraDevice> devices = camera_.devices();
    for (const auto& device : devices) {
        if (!sawOnlyBlack_.contains(device.uniqueID)) {
            return device;
        }
    }
    return devices.empty() ? camera_.defaultDevice() : std::optional(devices.front());
}

void LightSensor::configureSession() {
    PELLORA_ASSERT_ON(queue_);
    std::optional<CameraDevice> device = chooseDevice();
    std::optional<CameraDevice> attached = camera_.inputDevice();
    if (attached && device && attached->uniqueID == device->uniqueID) {
        return;
    }
    camera_.removeInput();
    if (!device) {
        select(kNone, kNone);
        log("No video device available (camera not enumerated)");
        return;
    }
    select(device->localizedName, device->deviceTypeRaw);
    log("Using camera \"" + device->localizedName + "\" [" + device->deviceTypeRaw + "]");
    CameraInputResult input = camera_.addInput(*device);
    if (input.status == CameraInputResult::Status::creationFailed) {
        log("Camera input failed: " + input.error);
    } else if (input.status == CameraInputResult::Status::cannotAdd) {
        log("Can't add input for " + device->localizedName);
    }
    if (!outputAttached_) {
        camera_.setFrameHandler(queue_,
                                whileAlive(this, [](const auto& self, const CameraFrame& frame) {
                                    self->handleFrame(frame);
                                }));
        outputAttached_ = true;
    }
    log("Session configured (preset=" + camera_.preset() + ")");
}

void LightSensor::request(double timeout, Completion completion) {
    PELLORA_ASSERT_ON(queue_);
    if (pending_) {
        log("sampleOnce coalesced (already pending)");
        pending_ = [earlier = std::move(*pending_),
                    later = std::move(completion)](std::optional<double> result) {
            earlier(result);
            later(result);
        };
        return;
    }
    pending_ = std::move(completion);
    frameCount_ = 0;
    trouble_ = Trouble::none;
    configureSession();
    if (!camera_.inputDevice()) {
        log("sampleOnce aborted — no camera device connected");
        finish(std::nullopt);
        return;
    }
    log("Starting session…");
    if (!camera_.start() && camera_.busyElsewhere()) {
        // Waiting out the timeout would not free it; the call goes on undisturbed.
        log("Camera in use by another program — left alone until the next reading");
        trouble_ = Trouble::cameraBusy;
        finish(std::nullopt);
        return;
    }
    sessionStartedAt_ = clock_.monotonic();
    log(std::string("session.isRunning=") + (camera_.isRunning() ? "true" : "false"));
    // A timeout that is not a finite positive number would keep the camera on for good.
    const double delay = std::isfinite(timeout) && timeout > 0 ? timeout : 0.0;
    timeoutWork_ = queue_.postAfter(
        delay, whileAlive(this, [timeout](const auto& self) {
            self->log("Timeout " + shortestDecimal(timeout) + "s — no frame accepted");
            self->finish(std::nullopt);
        }));
}

void LightSensor::handleFrame(const CameraFrame& frame) {
    PELLORA_ASSERT_ON(queue_);
    if (!pending_) {
        return;
    }
    ++frameCount_;
    const double elapsed = clock_.monotonic() - sessionStartedAt_;
    if (elapsed < warmupSec) {
        if (frameCount_ == 1) {
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
    std::optional<double> luma = meanLuma(frame.luma, frame.width, frame.height, frame.bytesPerRow);
    if (!luma) {
        return;
    }
    if (*luma == 0) {
        // No room is that dark with its monitor on: the picture is not there yet (some cameras
        // start with green or black frames) or a privacy shutter is closed.
        if (trouble_ != Trouble::onlyBlack) {
            log(format("Frame %d is all black — waiting for a picture", frameCount_));
            trouble_ = Trouble::onlyBlack;
        }
        return;
    }
    trouble_ = Trouble::none;
    if (auto device = camera_.inputDevice()) {
        sawOnlyBlack_.erase(device->uniqueID);
    }
    log(format("Frame %d accepted after %.2fs: luma=%.1f (%dx%d)", frameCount_, elapsed, *luma,
               frame.width, frame.height));
    finish(*luma);
}

// Always goes round the queue once, so frames already queued may still be accepted; only
// the first finish of a reading counts.
void LightSensor::finish(std::optional<double> result) {
    queue_.post(whileAlive(this, [result](const auto& self) { self->finishNow(result); }));
}

void LightSensor::finishNow(std::optional<double> result) {
    PELLORA_ASSERT_ON(queue_);
    if (!pending_) {
        return;
    }
    Completion completion = std::move(*pending_);
    pending_.reset();
    endRun();
    if (auto device = camera_.inputDevice(); device && trouble_ == Trouble::onlyBlack) {
        sawOnlyBlack_.insert(device->uniqueID);  // another camera, if there is one, goes next
    }
    log("Session stopped. result=" + (result ? shortestDecimal(*result) : "nil") +
        " frames=" + std::to_string(frameCount_));
    main_.post(
        whileAlive(this, [trouble = trouble_](const auto& self) { self->mainTrouble_ = trouble; }));
    main_.post([completion = std::move(completion), result] { completion(result); });
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
    queue_.post(
        whileAlive(this, [timeout, completion = std::move(completion)](const auto& self) mutable {
            self->request(timeout, std::move(completion));
        }));
}

const std::string& LightSensor::selectedDeviceName() const {
    PELLORA_ASSERT_ON(main_);
    return mainDeviceName_;
}

const std::string& LightSensor::selectedDeviceTypeRaw() const {
    PELLORA_ASSERT_ON(main_);
    return mainDeviceTypeRaw_;
}

LightSensor::Trouble LightSensor::lastReadingTrouble() const {
    PELLORA_ASSERT_ON(main_);
    return mainTrouble_;
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
