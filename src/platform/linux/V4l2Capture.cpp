#include "platform/linux/V4l2Capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/UniqueFd.h"
#include "platform/linux/DeviceNodeName.h"

namespace pellora {

namespace {

// Non-blocking, so that a node put where a device should be cannot hold us up.
UniqueFd openNode(const std::filesystem::path& node) {
    return UniqueFd(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

std::string text(const __u8* bytes, std::size_t size) {
    std::size_t n = strnlen(reinterpret_cast<const char*>(bytes), size);
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

V4l2Capture::OpenError fromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return V4l2Capture::OpenError::noDevice;
        case EACCES:
        case EPERM:
            return V4l2Capture::OpenError::permissionDenied;
        case EBUSY:
            return V4l2Capture::OpenError::busy;
        default:
            return V4l2Capture::OpenError::other;
    }
}

std::uint32_t captureCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool canCapture(const v4l2_capability& cap) {
    std::uint32_t caps = captureCaps(cap);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

// Cameras list a handful of formats and a few dozen sizes. A driver that answers every index
// would otherwise keep the camera's queue asking for ever (the index wraps round).
constexpr std::uint32_t kMaxFormats = 256;
constexpr std::uint32_t kMaxFrameSizes = 1024;

// The best-ranked format the device offers, at its smallest frame size (0 x 0 when it lists
// no sizes: the driver's current size is kept).
std::optional<V4l2Mode> pickMode(int fd) {
    std::optional<std::pair<int, std::uint32_t>> best;
    for (std::uint32_t i = 0; i < kMaxFormats; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd, VIDIOC_ENUM_FMT, &desc) != 0) {
            break;
        }
        if (auto rank = V4l2Capture::formatRank(desc.pixelformat)) {
            if (!best || *rank < best->first) {
                best = std::make_pair(*rank, desc.pixelformat);
            }
        }
    }
    if (!best) {
        return std::nullopt;
    }
    V4l2Mode mode{best->second, 0, 0};
    std::uint64_t smallest = std::numeric_limits<std::uint64_t>::max();
    for (std::uint32_t i = 0; i < kMaxFrameSizes; ++i) {
        v4l2_frmsizeenum size{};
        size.index = i;
        size.pixel_format = mode.fourcc;
        if (xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
            break;
        }
        std::uint32_t w, h;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            w = size.discrete.width;
            h = size.discrete.height;
        } else {
            w = size.stepwise.min_width;
            h = size.stepwise.min_height;
        }
        if (std::uint64_t(w) * h < smallest && w > 0 && h > 0) {
            smallest = std::uint64_t(w) * h;
            mode.width = w;
            mode.height = h;
        }
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
            break;
        }
    }
    return mode;
}

}  // namespace

std::optional<int> V4l2Capture::formatRank(std::uint32_t fourcc) {
    if (fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG) {
        return 9;  // only when nothing carries luma directly: decoding costs a frame's work
    }
    return lumaFormatRank(fourcc);
}

std::vector<std::filesystem::path> V4l2Capture::videoNodes(const std::filesystem::path& devDir) {
    std::vector<std::pair<int, std::filesystem::path>> numbered;
    std::error_code error;
    for (std::filesystem::directory_iterator it(devDir, error), end; !error && it != end;
         it.increment(error)) {
        if (auto n = deviceNodeNumber(it->path().filename().string(), "video")) {
            numbered.emplace_back(*n, it->path());
        }
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::filesystem::path> nodes;
    for (auto& [n, node] : numbered) {
        nodes.push_back(std::move(node));
    }
    return nodes;
}

std::vector<V4l2DeviceInfo> V4l2Capture::listDevices(const std::filesystem::path& devDir) {
    std::vector<V4l2DeviceInfo> devices;
    for (const auto& node : videoNodes(devDir)) {
        if (auto device = describe(node)) {
            devices.push_back(std::move(*device));
        }
    }
    return devices;
}

std::optional<V4l2DeviceInfo> V4l2Capture::describe(const std::filesystem::path& node) {
    UniqueFd fd = openNode(node);
    v4l2_capability cap{};
    if (!fd || xioctl(fd.get(), VIDIOC_QUERYCAP, &cap) != 0 || !canCapture(cap)) {
        return std::nullopt;
    }
    return V4l2DeviceInfo{node, text(cap.card, sizeof cap.card),
                          text(cap.bus_info, sizeof cap.bus_info),
                          text(cap.driver, sizeof cap.driver)};
}

std::optional<V4l2Mode> V4l2Capture::preferredMode(const std::filesystem::path& node) {
    UniqueFd fd = openNode(node);
    v4l2_capability cap{};
    if (!fd || xioctl(fd.get(), VIDIOC_QUERYCAP, &cap) != 0 || !canCapture(cap)) {
        return std::nullopt;
    }
    return pickMode(fd.get());
}

V4l2Capture::OpenError V4l2Capture::probe(const std::filesystem::path& node) {
    UniqueFd fd = openNode(node);
    if (!fd) {
        return fromErrno(errno);
    }
    v4l2_capability cap{};
    if (xioctl(fd.get(), VIDIOC_QUERYCAP, &cap) != 0 || !canCapture(cap)) {
        return OpenError::notCapture;
    }
    return OpenError::none;
}

V4l2Capture::~V4l2Capture() {
    close();
}

V4l2Capture::OpenError V4l2Capture::open(const std::filesystem::path& node) {
    close();
    fd_ = openNode(node);
    if (!fd_) {
        int error = errno;
        lastError_ = "open " + node.string() + ": " + std::strerror(error);
        return fromErrno(error);
    }
    v4l2_capability cap{};
    if (xioctl(fd_.get(), VIDIOC_QUERYCAP, &cap) != 0 || !canCapture(cap)) {
        lastError_ = node.string() + " is not a streaming capture device";
        close();
        return OpenError::notCapture;
    }
    if (!chooseFormat() || !startStreaming()) {
        int error = errno;
        close();
        return error == EBUSY ? OpenError::busy : OpenError::other;
    }
    return OpenError::none;
}

bool V4l2Capture::chooseFormat() {
    std::optional<V4l2Mode> mode = pickMode(fd_.get());
    if (!mode) {
        lastError_ = "no usable pixel format (GREY, NV12, YUV420, YUYV, UYVY or MJPEG)";
        return false;
    }
    const std::uint32_t fourcc = mode->fourcc;
    const std::uint32_t width = mode->width;
    const std::uint32_t height = mode->height;

    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd_.get(), VIDIOC_G_FMT, &format) != 0) {
        lastError_ = std::string("VIDIOC_G_FMT: ") + std::strerror(errno);
        return false;
    }
    format.fmt.pix.pixelformat = fourcc;
    if (width && height) {
        format.fmt.pix.width = width;
        format.fmt.pix.height = height;
    }
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd_.get(), VIDIOC_S_FMT, &format) != 0) {
        lastError_ = std::string("VIDIOC_S_FMT: ") + std::strerror(errno);
        return false;
    }
    // The driver may have adjusted what was asked for.
    fourcc_ = format.fmt.pix.pixelformat;
    width_ = format.fmt.pix.width;
    height_ = format.fmt.pix.height;
    bytesPerLine_ = format.fmt.pix.bytesperline;
    if (!formatRank(fourcc_)) {
        lastError_ = "driver substituted an unusable pixel format";
        return false;
    }
    // A decoded JPEG is full range whatever the driver reports; GREY is full unless the driver
    // says otherwise; YUV follows the kernel's default rule.
    if (fourcc_ == V4L2_PIX_FMT_MJPEG || fourcc_ == V4L2_PIX_FMT_JPEG) {
        range_ = LumaRange::full;
    } else if (fourcc_ == V4L2_PIX_FMT_GREY) {
        range_ = format.fmt.pix.quantization == V4L2_QUANTIZATION_LIM_RANGE ? LumaRange::limited
                                                                            : LumaRange::full;
    } else {
        range_ = lumaRange(format.fmt.pix.colorspace, format.fmt.pix.quantization);
    }
    return true;
}

bool V4l2Capture::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = 3;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_.get(), VIDIOC_REQBUFS, &request) != 0 || request.count == 0) {
        lastError_ = std::string("VIDIOC_REQBUFS: ") + std::strerror(errno);
        return false;
    }
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(fd_.get(), VIDIOC_QUERYBUF, &buffer) != 0) {
            lastError_ = std::string("VIDIOC_QUERYBUF: ") + std::strerror(errno);
            return false;
        }
        void* start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(),
                             buffer.m.offset);
        if (start == MAP_FAILED) {
            lastError_ = std::string("mmap: ") + std::strerror(errno);
            return false;
        }
        buffers_.push_back(Buffer{start, buffer.length});
        if (xioctl(fd_.get(), VIDIOC_QBUF, &buffer) != 0) {
            lastError_ = std::string("VIDIOC_QBUF: ") + std::strerror(errno);
            return false;
        }
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd_.get(), VIDIOC_STREAMON, &type) != 0) {
        lastError_ = std::string("VIDIOC_STREAMON: ") + std::strerror(errno);
        return false;
    }
    streaming_ = true;
    return true;
}

std::optional<V4l2Frame> V4l2Capture::readFrame(int timeoutMs, int cancelFd) {
    readFailure_ = ReadFailure::other;
    if (!fd_ || !streaming_) {
        lastError_ = "not streaming";
        return std::nullopt;
    }
    pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, cancelFd >= 0 ? 2 : 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        lastError_ = std::string("poll: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (cancelFd >= 0 && (fds[1].revents & POLLIN)) {
        readFailure_ = ReadFailure::cancelled;
        lastError_ = "cancelled";
        return std::nullopt;
    }
    if (ready == 0) {
        readFailure_ = ReadFailure::timedOut;
        lastError_ = "no frame in time";
        return std::nullopt;
    }
    // An unplugged device reports POLLERR (or POLLHUP) for good.
    if (!(fds[0].revents & POLLIN)) {
        readFailure_ = ReadFailure::deviceGone;
        lastError_ = "device gone";
        return std::nullopt;
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_.get(), VIDIOC_DQBUF, &buffer) != 0) {
        int error = errno;
        lastError_ = std::string("VIDIOC_DQBUF: ") + std::strerror(error);
        // Readable yet nothing to dequeue happens (PipeWire's compatibility layer does it).
        readFailure_ = error == EAGAIN                     ? ReadFailure::tryAgain
                       : error == ENODEV || error == ENXIO ? ReadFailure::deviceGone
                                                           : ReadFailure::other;
        return std::nullopt;
    }
    std::optional<V4l2Frame> frame;
    if (buffer.index < buffers_.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR)) {
        const Buffer& mapped = buffers_[buffer.index];
        std::size_t used = std::min<std::size_t>(buffer.bytesused, mapped.length);
        frame = V4l2Frame{V4l2FrameFormat{fourcc_, width_, height_, bytesPerLine_, range_}, {}};
        const auto* data = static_cast<const std::uint8_t*>(mapped.start);
        frame->bytes.assign(data, data + used);
        readFailure_ = ReadFailure::none;
    } else {
        readFailure_ = ReadFailure::badBuffer;
        lastError_ = "driver flagged the buffer as corrupt";
    }
    if (xioctl(fd_.get(), VIDIOC_QBUF, &buffer) != 0 && errno == ENODEV) {
        readFailure_ = ReadFailure::deviceGone;
        lastError_ = "device gone";
        return std::nullopt;
    }
    return frame;
}

void V4l2Capture::close() {
    if (!fd_) {
        return;
    }
    if (streaming_) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd_.get(), VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const auto& b : buffers_) {
        ::munmap(b.start, b.length);
    }
    buffers_.clear();
    fd_.reset();
}

}  // namespace pellora
