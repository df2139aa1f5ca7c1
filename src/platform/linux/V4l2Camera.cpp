#include "platform/linux/V4l2Camera.h"

#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/WhileAlive.h"
#include "platform/linux/LumaExtraction.h"
#include "platform/linux/MjpegLuma.h"

namespace pellora {

namespace {

// Read errors in a row (other than "no frame yet") after which the device counts as gone.
constexpr int kMaxReadFailures = 8;
// Wake-ups in a row with nothing to dequeue after which the device counts as broken rather
// than spinning until the reading times out (PipeWire's V4L2 layer has one per frame).
constexpr int kMaxEmptyWakeups = 1000;

// ASCII only: the C library's tolower follows the user's language, and in Turkish "I" is not
// the capital of "i".
char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (text.size() < n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool isJpeg(std::uint32_t fourcc) {
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
}

}  // namespace

// One frame on its way to the handler, owning the bytes its luma plane points into.
struct V4l2Camera::Delivery {
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> scratch;
    CameraFrame frame;
};

V4l2CameraBackend V4l2CameraBackend::system(std::filesystem::path devDir) {
    V4l2CameraBackend backend;
    backend.listDevices = [devDir = std::move(devDir)] { return V4l2Capture::listDevices(devDir); };
    backend.probe = [](const std::filesystem::path& node) { return V4l2Capture::probe(node); };
    backend.preferredMode = [](const std::filesystem::path& node) {
        return V4l2Capture::preferredMode(node);
    };
    backend.makeSource = [] { return std::make_unique<V4l2Capture>(); };
    return backend;
}

std::shared_ptr<V4l2Camera> V4l2Camera::create(V4l2CameraBackend backend) {
    return std::shared_ptr<V4l2Camera>(new V4l2Camera(std::move(backend)));
}

V4l2Camera::V4l2Camera(V4l2CameraBackend backend) : backend_(std::move(backend)) {}

V4l2Camera::~V4l2Camera() {
    std::lock_guard lock(control_);
    stopLocked();
}

std::string V4l2Camera::fourccText(std::uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<char>((fourcc >> (8 * i)) & 0xff);
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string V4l2Camera::presetName(const V4l2Mode& mode) {
    std::string format = fourccText(mode.fourcc);
    if (mode.width == 0 || mode.height == 0) {
        return format;
    }
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + " " + format;
}

std::string V4l2Camera::deviceType(const std::string& busInfo) {
    if (startsWithNoCase(busInfo, "usb")) {
        return "v4l2-usb";
    }
    if (startsWithNoCase(busInfo, "platform")) {
        return "v4l2-platform";
    }
    if (startsWithNoCase(busInfo, "pci")) {
        return "v4l2-pci";
    }
    return "v4l2";
}

std::vector<CameraDevice> V4l2Camera::identify(const std::vector<V4l2DeviceInfo>& found) {
    std::vector<CameraDevice> cameras;
    std::map<std::string, int> seen;
    for (const auto& info : found) {
        // The bus position survives reboots and renumbered nodes; the node is all a device
        // without bus information has.
        std::string id =
            "v4l2:" + (info.busInfo.empty() ? info.node.string() : info.busInfo) + ":" + info.name;
        int repeat = ++seen[id];
        if (repeat > 1) {
            id += "#" + std::to_string(repeat);
        }
        std::string name = info.name.empty() ? info.node.filename().string() : info.name;
        cameras.push_back(CameraDevice{id, name, deviceType(info.busInfo)});
    }
    return cameras;
}

std::vector<CameraDevice> V4l2Camera::devices() {
    std::vector<V4l2DeviceInfo> found = backend_.listDevices();
    std::vector<CameraDevice> cameras = identify(found);
    // A laptop's infrared face-login camera is a node of its own that offers grey only and
    // films its emitter's light, not the room's; a node with no format we read gives nothing.
    // Either may come first in node order, so every colour camera goes ahead of them.
    std::vector<CameraDevice> colour, other;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        std::optional<V4l2Mode> mode = backend_.preferredMode(found[i].node);
        (mode && mode->fourcc != V4L2_PIX_FMT_GREY ? colour : other).push_back(cameras[i]);
    }
    colour.insert(colour.end(), other.begin(), other.end());
    return colour;
}

std::optional<CameraDevice> V4l2Camera::defaultDevice() {
    std::vector<CameraDevice> cameras = devices();
    if (cameras.empty()) {
        return std::nullopt;
    }
    return cameras.front();
}

std::optional<std::filesystem::path> V4l2Camera::findNode(const std::string& uniqueID) {
    std::vector<V4l2DeviceInfo> found = backend_.listDevices();
    std::vector<CameraDevice> cameras = identify(found);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        if (cameras[i].uniqueID == uniqueID) {
            return found[i].node;
        }
    }
    return std::nullopt;
}

std::optional<CameraDevice> V4l2Camera::inputDevice() {
    std::lock_guard lock(control_);
    if (!input_) {
        return std::nullopt;
    }
    return input_->device;
}

void V4l2Camera::removeInput() {
    std::lock_guard lock(control_);
    stopLocked();
    input_.reset();
    preset_ = smallestPreset;
}

CameraInputResult V4l2Camera::addInput(const CameraDevice& device) {
    using Status = CameraInputResult::Status;
    std::lock_guard lock(control_);
    if (input_) {
        if (input_->device.uniqueID == device.uniqueID) {
            return {};
        }
        return {Status::cannotAdd, {}};
    }
    std::optional<std::filesystem::path> node = findNode(device.uniqueID);
    if (!node) {
        return {Status::creationFailed, "No such camera: " + device.localizedName};
    }
    const std::string path = node->string();
    switch (backend_.probe(*node)) {
        case V4l2FrameSource::OpenError::none:
        case V4l2FrameSource::OpenError::busy:  // another program streams now; it may stop
            break;
        case V4l2FrameSource::OpenError::permissionDenied:
            return {Status::creationFailed, "Permission denied opening " + path};
        case V4l2FrameSource::OpenError::noDevice:
            return {Status::creationFailed, path + " is gone"};
        case V4l2FrameSource::OpenError::notCapture:
            return {Status::creationFailed, path + " is not a video capture device"};
        case V4l2FrameSource::OpenError::other:
            return {Status::creationFailed, "Cannot open " + path};
    }
    std::optional<V4l2Mode> mode = backend_.preferredMode(*node);
    if (!mode) {
        return {Status::creationFailed,
                path + " offers no usable pixel format (GREY, NV12, YUV420, YUYV, UYVY or MJPEG)"};
    }
    input_ = Input{device, *node};
    preset_ = presetName(*mode);
    return {};
}

std::string V4l2Camera::preset() {
    std::lock_guard lock(control_);
    return preset_;
}

std::string V4l2Camera::lastError() {
    std::lock_guard lock(control_);
    return lastError_;
}

void V4l2Camera::setFrameHandler(Queue& queue, FrameHandler handler) {
    std::lock_guard lock(output_);
    ++generation_;
    framePending_ = false;
    queue_ = handler ? &queue : nullptr;
    handler_ = std::move(handler);
}

bool V4l2Camera::runEnded() {
    std::lock_guard lock(output_);
    return ended_;
}

bool V4l2Camera::start() {
    std::lock_guard lock(control_);
    if (running_ && runEnded()) {
        stopLocked();  // the device went away during the last run
    }
    if (running_) {
        return true;
    }
    lastError_.clear();
    busy_ = false;
    if (!input_) {
        lastError_ = "no camera attached";
        return false;
    }
    // The node number may have changed since the input was added (a replugged camera).
    std::optional<std::filesystem::path> node = findNode(input_->device.uniqueID);
    if (!node) {
        lastError_ = "camera \"" + input_->device.localizedName + "\" is gone";
        return false;
    }
    input_->node = *node;
    std::unique_ptr<V4l2FrameSource> source = backend_.makeSource();
    if (V4l2FrameSource::OpenError error = source->open(*node);
        error != V4l2FrameSource::OpenError::none) {
        lastError_ = source->lastError();
        busy_ = error == V4l2FrameSource::OpenError::busy;
        return false;
    }
    UniqueFd cancelFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!cancelFd) {
        lastError_ = std::string("eventfd: ") + std::strerror(errno);
        source->close();
        return false;
    }
    preset_ = presetName(source->mode());
    source_ = std::move(source);
    cancelFd_ = std::move(cancelFd);
    const std::uint64_t run = ++runs_;
    {
        std::lock_guard outputLock(output_);
        wantedRun_ = run;
        framePending_ = false;
        ended_ = false;
    }
    running_ = true;
    // The thread is joined by stopLocked, at the latest in the destructor.
    thread_ = std::thread([this, run] { captureLoop(run); });
    return true;
}

bool V4l2Camera::busyElsewhere() {
    std::lock_guard lock(control_);
    return busy_;
}

bool V4l2Camera::isRunning() {
    std::lock_guard lock(control_);
    return running_ && !runEnded();
}

void V4l2Camera::stop() {
    std::lock_guard lock(control_);
    stopLocked();
}

void V4l2Camera::stopLocked() {
    {
        std::lock_guard lock(output_);
        wantedRun_ = 0;  // frames still queued are not handed over
    }
    if (thread_.joinable()) {
        // Adding 1 to an eventfd fails only when its counter would overflow.
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(cancelFd_.get(), &one, sizeof one);
        thread_.join();
    }
    if (source_) {
        source_->close();
        source_.reset();
    }
    cancelFd_.reset();
    running_ = false;
    std::lock_guard lock(output_);
    ended_ = false;
}

void V4l2Camera::captureLoop(std::uint64_t run) {
    MjpegLuma decoder;
    int failures = 0;
    int emptyWakeups = 0;
    for (;;) {
        std::optional<V4l2Frame> frame = source_->readFrame(-1, cancelFd_.get());
        if (frame) {
            failures = 0;
            emptyWakeups = 0;
            deliver(run, std::move(*frame), decoder);
            continue;
        }
        switch (source_->lastReadFailure()) {
            case V4l2FrameSource::ReadFailure::cancelled:
                return;
            case V4l2FrameSource::ReadFailure::tryAgain:
                if (++emptyWakeups > kMaxEmptyWakeups) {
                    failures = kMaxReadFailures;
                }
                break;
            case V4l2FrameSource::ReadFailure::timedOut:
            case V4l2FrameSource::ReadFailure::badBuffer:
                continue;
            case V4l2FrameSource::ReadFailure::deviceGone:
                failures = kMaxReadFailures;
                break;
            case V4l2FrameSource::ReadFailure::none:
            case V4l2FrameSource::ReadFailure::other:
                ++failures;
                break;
        }
        if (failures >= kMaxReadFailures) {
            // Frames end here; the node is released at once rather than at the next stop.
            {
                std::lock_guard lock(output_);
                ended_ = true;
            }
            source_->close();
            return;
        }
    }
}

void V4l2Camera::deliver(std::uint64_t run, V4l2Frame&& frame, MjpegLuma& decoder) {
    std::uint64_t generation;
    {
        std::lock_guard lock(output_);
        if (!queue_ || !handler_ || wantedRun_ != run || framePending_) {
            return;
        }
        framePending_ = true;
        generation = generation_;
    }

    auto delivery = std::make_shared<Delivery>();
    delivery->raw = std::move(frame.bytes);
    std::optional<LumaPlaneView> view =
        isJpeg(frame.format.pixelFormat)
            ? decoder.decode(delivery->raw, delivery->scratch)
            : extractLuma(delivery->raw, frame.format, delivery->scratch);
    if (view) {
        delivery->frame.luma = view->bytes;
        delivery->frame.width = view->width;
        delivery->frame.height = view->height;
        delivery->frame.bytesPerRow = view->bytesPerRow;
    } else {
        delivery->frame.hasImage = false;  // undecodable: the sensor notes it and waits on
    }

    std::lock_guard lock(output_);
    if (generation_ != generation) {
        return;
    }
    if (wantedRun_ != run || !queue_) {
        framePending_ = false;
        return;
    }
    queue_->post(whileAlive(this, [delivery, generation, run](const auto& self) {
        self->hand(*delivery, generation, run);
    }));
}

void V4l2Camera::hand(const Delivery& delivery, std::uint64_t generation, std::uint64_t run) {
    FrameHandler handler;
    {
        std::lock_guard lock(output_);
        if (generation_ != generation) {
            return;  // the new handler's setting cleared the pending mark
        }
        if (wantedRun_ != run || !handler_) {
            framePending_ = false;
            return;
        }
        handler = handler_;
    }
    handler(delivery.frame);
    std::lock_guard lock(output_);
    if (generation_ == generation) {
        framePending_ = false;
    }
}

}  // namespace pellora
