#include "platform/sim/SimulatedCamera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pellora {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr double kRadians = std::numbers::pi / 180.0;

// A well-mixed 32-bit hash; deterministic across platforms.
std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double unitNoise(std::uint32_t seed, std::int64_t knot) {
    auto k = static_cast<std::uint64_t>(knot);
    std::uint32_t h = mix(seed ^ mix(static_cast<std::uint32_t>(k) ^
                                     mix(static_cast<std::uint32_t>(k >> 32) + 0x9e3779b9U)));
    return static_cast<double>(h) / 4294967295.0;
}

bool sameDevice(const std::optional<CameraDevice>& a, const CameraDevice& b) {
    return a && a->uniqueID == b.uniqueID;
}

}  // namespace

double RoomLight::sunElevation(double wallTime, double latitude, double longitude) {
    double julianDay = wallTime / 86400.0 + 2440587.5;
    double t = (julianDay - 2451545.0) / 36525.0;
    double meanLong = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
    double meanAnomaly = 357.52911 + t * (35999.05029 - 0.0001537 * t);
    double eccentricity = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
    double m = meanAnomaly * kRadians;
    double centre = std::sin(m) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                    std::sin(2 * m) * (0.019993 - 0.000101 * t) + std::sin(3 * m) * 0.000289;
    double omega = (125.04 - 1934.136 * t) * kRadians;
    double apparentLong = meanLong + centre - 0.00569 - 0.00478 * std::sin(omega);
    double meanObliquity =
        23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
    double obliquity = (meanObliquity + 0.00256 * std::cos(omega)) * kRadians;
    double declination = std::asin(std::sin(obliquity) * std::sin(apparentLong * kRadians));

    double y = std::tan(obliquity / 2) * std::tan(obliquity / 2);
    double l0 = meanLong * kRadians;
    double equationOfTime =
        4.0 * kDegrees *
        (y * std::sin(2 * l0) - 2 * eccentricity * std::sin(m) +
         4 * eccentricity * y * std::sin(m) * std::cos(2 * l0) - 0.5 * y * y * std::sin(4 * l0) -
         1.25 * eccentricity * eccentricity * std::sin(2 * m));

    double minutesUtc = std::fmod(wallTime, 86400.0) / 60.0;
    if (minutesUtc < 0) {
        minutesUtc += 1440.0;
    }
    double trueSolarMinutes = std::fmod(minutesUtc + equationOfTime + 4.0 * longitude, 1440.0);
    if (trueSolarMinutes < 0) {
        trueSolarMinutes += 1440.0;
    }
    double hourAngle = (trueSolarMinutes / 4.0 - 180.0) * kRadians;
    double lat = latitude * kRadians;
    double cosZenith = std::sin(lat) * std::sin(declination) +
                       std::cos(lat) * std::cos(declination) * std::cos(hourAngle);
    return 90.0 - std::acos(std::clamp(cosZenith, -1.0, 1.0)) * kDegrees;
}

double RoomLight::cloudinessAt(double wallTime) const {
    // Value noise with a knot every 40 minutes, eased between knots.
    constexpr double knotSeconds = 2400.0;
    double position = wallTime / knotSeconds;
    double base = std::floor(position);
    double f = position - base;
    double ease = f * f * (3 - 2 * f);
    auto knot = static_cast<std::int64_t>(base);
    double a = unitNoise(seed, knot);
    double b = unitNoise(seed, knot + 1);
    return a + (b - a) * ease;
}

bool RoomLight::lampOnAt(double wallTime) const {
    double hour = std::fmod(wallTime / 3600.0 + longitude / 15.0, 24.0);
    if (hour < 0) {
        hour += 24.0;
    }
    return hour >= lampOnHour && hour < lampOffHour &&
           sunElevation(wallTime, latitude, longitude) < 10.0;
}

double RoomLight::lumaAt(double wallTime) const {
    double elevation = sunElevation(wallTime, latitude, longitude);
    double daylight = 0;
    if (elevation > 0) {
        daylight = std::min(1.0, 0.04 + 0.96 * std::sqrt(std::sin(elevation * kRadians)));
    } else if (elevation > -6) {
        daylight = 0.04 * (elevation + 6) / 6;  // civil twilight
    }
    double luma = ambientLuma + daylightLuma * daylight * (1 - cloudDepth * cloudinessAt(wallTime));
    if (lampOnAt(wallTime)) {
        luma += lampLuma;
    }
    return std::clamp(luma, 0.0, 255.0);
}

SimulatedCamera::SimulatedCamera(const Clock& clock, SimulatedCameraOptions options)
    : clock_(clock), options_(std::move(options)), room_(options_.room) {
    devices_.push_back(options_.device);
}

SimulatedCamera::~SimulatedCamera() {
    Queue* queue = nullptr;
    {
        std::lock_guard lock(mutex_);
        stopLocked();
        queue = sinkQueue_;
        sinkQueue_ = nullptr;
        handler_ = {};
    }
    // Lets a delivery already running on another thread finish before the memory goes.
    if (queue && !queue->isCurrent()) {
        queue->sync([] {});
    }
}

std::vector<CameraDevice> SimulatedCamera::devices() {
    std::lock_guard lock(mutex_);
    return devices_;
}

std::optional<CameraDevice> SimulatedCamera::defaultDevice() {
    std::lock_guard lock(mutex_);
    return defaultDevice_;
}

std::optional<CameraDevice> SimulatedCamera::inputDevice() {
    std::lock_guard lock(mutex_);
    return input_;
}

void SimulatedCamera::removeInput() {
    std::lock_guard lock(mutex_);
    input_.reset();
}

CameraInputResult SimulatedCamera::addInput(const CameraDevice& device) {
    std::lock_guard lock(mutex_);
    bool known = sameDevice(defaultDevice_, device) ||
                 std::any_of(devices_.begin(), devices_.end(),
                             [&](const CameraDevice& d) { return d.uniqueID == device.uniqueID; });
    if (!known) {
        return {CameraInputResult::Status::creationFailed, "No such device (simulated)"};
    }
    if (fault_ == SimulatedCameraFault::inputFails) {
        return {CameraInputResult::Status::creationFailed,
                "Cannot open the device: it is busy (simulated)"};
    }
    if (fault_ == SimulatedCameraFault::cannotAdd) {
        return {CameraInputResult::Status::cannotAdd, {}};
    }
    input_ = device;
    return {};
}

std::string SimulatedCamera::preset() {
    return "low";
}

void SimulatedCamera::setFrameHandler(Queue& queue, FrameHandler handler) {
    std::lock_guard lock(mutex_);
    if (nextFrame_) {
        nextFrame_->cancel();
        nextFrame_.reset();
    }
    if (!handler) {
        sinkQueue_ = nullptr;
        handler_ = {};
        return;
    }
    sinkQueue_ = &queue;
    handler_ = std::move(handler);
    scheduleNextFrameLocked();
}

bool SimulatedCamera::start() {
    std::lock_guard lock(mutex_);
    if (running_) {
        return true;
    }
    busy_ = fault_ == SimulatedCameraFault::inUse && input_;
    if (fault_ == SimulatedCameraFault::startFails || busy_ || !input_) {
        return false;
    }
    running_ = true;
    startedAt_ = clock_.monotonic();
    ++run_;
    frameIndex_ = 0;
    ++stats_.starts;
    runLuma_.reset();
    if (!scriptedLuma_.empty()) {
        runLuma_ = scriptedLuma_[std::min(scriptIndex_, scriptedLuma_.size() - 1)];
        ++scriptIndex_;
    }
    scheduleNextFrameLocked();
    return true;
}

bool SimulatedCamera::busyElsewhere() {
    std::lock_guard lock(mutex_);
    return busy_;
}

bool SimulatedCamera::isRunning() {
    std::lock_guard lock(mutex_);
    return running_;
}

void SimulatedCamera::stop() {
    std::lock_guard lock(mutex_);
    stopLocked();
}

void SimulatedCamera::stopLocked() {
    if (!running_) {
        return;
    }
    running_ = false;
    if (nextFrame_) {
        nextFrame_->cancel();
        nextFrame_.reset();
    }
    double on = clock_.monotonic() - startedAt_;
    ++stats_.stops;
    stats_.onSeconds += on;
    stats_.lastOnSeconds = on;
}

void SimulatedCamera::scheduleNextFrameLocked() {
    if (!running_ || sinkQueue_ == nullptr || nextFrame_) {
        return;
    }
    const double interval = 1.0 / options_.framesPerSecond;
    const double now = clock_.monotonic();
    std::uint64_t slot = frameIndex_ + 1;
    double due = startedAt_ + static_cast<double>(slot) * interval;
    if (due <= now) {
        // Frames the queue was too busy to take are dropped, not queued up.
        slot = static_cast<std::uint64_t>(std::floor((now - startedAt_) / interval)) + 1;
        due = startedAt_ + static_cast<double>(slot) * interval;
    }
    frameIndex_ = slot - 1;
    nextFrame_ = sinkQueue_->postAfter(due - now, [this, run = run_] { deliverFrame(run); });
}

bool SimulatedCamera::inputPresentLocked() const {
    if (!input_) {
        return false;
    }
    return sameDevice(defaultDevice_, *input_) ||
           std::any_of(devices_.begin(), devices_.end(),
                       [&](const CameraDevice& d) { return d.uniqueID == input_->uniqueID; });
}

void SimulatedCamera::deliverFrame(std::uint64_t run) {
    FrameHandler handler;
    CameraFrame frame;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || run != run_ || !handler_) {
            return;
        }
        nextFrame_.reset();
        ++frameIndex_;
        const double elapsed = clock_.monotonic() - startedAt_;
        const bool settled = elapsed >= options_.settleSeconds;
        if (inputPresentLocked() && fault_ != SimulatedCameraFault::noFrames) {
            ++stats_.framesDelivered;
            handler = handler_;
            if (fault_ == SimulatedCameraFault::noImage) {
                frame.hasImage = false;
            } else if (fault_ == SimulatedCameraFault::noLumaPlane) {
                frame.luma = {};
            } else if (settled && scriptedPlane_) {
                const Plane& plane = *scriptedPlane_;
                frameBytes_.assign(plane.bytes.begin(), plane.bytes.end());
                std::size_t size = frameBytes_.size();
                frameBytes_.resize(std::max<std::size_t>(size, 1));
                frame.luma = std::span<const std::uint8_t>(frameBytes_.data(), size);
                frame.width = plane.width;
                frame.height = plane.height;
                frame.bytesPerRow = plane.bytesPerRow;
            } else {
                int width = scriptedPlane_ ? scriptedPlane_->width : options_.width;
                int height = scriptedPlane_ ? scriptedPlane_->height : options_.height;
                std::size_t stride =
                    scriptedPlane_ ? scriptedPlane_->bytesPerRow : options_.bytesPerRow;
                width = std::max(width, 0);
                height = std::max(height, 0);
                stride = std::max(stride, static_cast<std::size_t>(width));
                double target = runLuma_ ? *runLuma_ : room_.lumaAt(clock_.now());
                if (!settled) {
                    // Exposure still hunting: dark, and flickering from frame to frame.
                    double progress = elapsed / options_.settleSeconds;
                    target = 2 + 0.25 * target * progress * progress + (frameIndex_ % 2 ? 6 : 0);
                }
                std::size_t size = stride * static_cast<std::size_t>(height);
                frameBytes_.assign(std::max<std::size_t>(size, 1), 255);
                for (int y = 0; y < height; ++y) {
                    std::uint8_t* row = frameBytes_.data() + static_cast<std::size_t>(y) * stride;
                    for (int x = 0; x < width; ++x) {
                        std::uint32_t h = mix(static_cast<std::uint32_t>(x) * 73856093U ^
                                              static_cast<std::uint32_t>(y) * 19349663U ^
                                              static_cast<std::uint32_t>(frameIndex_));
                        double value = target + static_cast<double>(h % 5) - 2.0;
                        row[x] =
                            static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
                    }
                }
                frame.luma = std::span<const std::uint8_t>(frameBytes_.data(), size);
                frame.width = width;
                frame.height = height;
                frame.bytesPerRow = stride;
            }
        }
        scheduleNextFrameLocked();
    }
    if (handler) {
        handler(frame);
    }
}

void SimulatedCamera::setRoomLight(const RoomLight& room) {
    std::lock_guard lock(mutex_);
    room_ = room;
}

void SimulatedCamera::setLocation(double latitude, double longitude) {
    std::lock_guard lock(mutex_);
    room_.latitude = latitude;
    room_.longitude = longitude;
}

void SimulatedCamera::setScriptedLuma(std::vector<double> perRun) {
    std::lock_guard lock(mutex_);
    scriptedLuma_ = std::move(perRun);
    scriptIndex_ = 0;
}

void SimulatedCamera::setScriptedPlane(int width, int height, std::size_t bytesPerRow,
                                       std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    scriptedPlane_ = Plane{width, height, bytesPerRow, std::move(bytes)};
}

void SimulatedCamera::clearScript() {
    std::lock_guard lock(mutex_);
    scriptedLuma_.clear();
    scriptIndex_ = 0;
    scriptedPlane_.reset();
}

double SimulatedCamera::sceneLuma() {
    std::lock_guard lock(mutex_);
    if (running_ && runLuma_) {
        return *runLuma_;
    }
    return room_.lumaAt(clock_.now());
}

void SimulatedCamera::setFault(SimulatedCameraFault fault) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
}

void SimulatedCamera::setDevices(std::vector<CameraDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void SimulatedCamera::setDefaultDevice(std::optional<CameraDevice> device) {
    std::lock_guard lock(mutex_);
    defaultDevice_ = std::move(device);
}

void SimulatedCamera::setPresent(bool present) {
    std::lock_guard lock(mutex_);
    devices_.clear();
    if (present) {
        devices_.push_back(options_.device);
    }
}

SimulatedCamera::Stats SimulatedCamera::stats() {
    std::lock_guard lock(mutex_);
    return stats_;
}

void SimulatedCamera::resetStats() {
    std::lock_guard lock(mutex_);
    stats_ = {};
}

}  // namespace pellora
