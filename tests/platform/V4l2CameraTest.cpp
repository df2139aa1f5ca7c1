#include "platform/linux/V4l2Camera.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <variant>

#include "TempDir.h"
#include "VirtualClock.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/linux/LumaExtraction.h"

namespace pellora::test {
namespace {

using OpenError = V4l2FrameSource::OpenError;
using ReadFailure = V4l2FrameSource::ReadFailure;

// What the scripted devices do, shared by the test and the sources the camera makes.
class Rig {
  public:
    using Step = std::variant<V4l2Frame, ReadFailure>;

    Rig() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Rig() { ::close(wake_); }

    std::vector<V4l2DeviceInfo> devices{
        {"/dev/video0", "Desk Cam", "usb-0000:00:14.0-2", "uvcvideo"}};
    OpenError probeResult = OpenError::none;
    std::optional<V4l2Mode> mode = V4l2Mode{V4L2_PIX_FMT_YUYV, 8, 4};
    OpenError openResult = OpenError::none;

    void push(Step step) {
        {
            std::lock_guard lock(mutex_);
            steps_.push_back(std::move(step));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    }

    // Waits (a bounded real time) until the capture thread has taken every step pushed so far
    // and is back waiting for the next, so whatever it posts for them is posted.
    bool waitConsumed() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5),
                                 [&] { return steps_.empty() && readerWaiting_; });
    }
    // Waits a little for the queue of steps to drop below `depth`.
    void waitRoom(std::size_t depth) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(10),
                          [&] { return steps_.size() < depth; });
    }
    bool waitClosed() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return !open_; });
    }

    int opens() {
        std::lock_guard lock(mutex_);
        return opens_;
    }
    int closes() {
        std::lock_guard lock(mutex_);
        return closes_;
    }
    bool isOpen() {
        std::lock_guard lock(mutex_);
        return open_;
    }
    std::filesystem::path lastNode() {
        std::lock_guard lock(mutex_);
        return lastNode_;
    }

    V4l2CameraBackend backend() {
        V4l2CameraBackend backend;
        backend.listDevices = [this] { return devices; };
        backend.probe = [this](const std::filesystem::path&) { return probeResult; };
        backend.preferredMode = [this](const std::filesystem::path&) { return mode; };
        backend.makeSource = [this] { return std::make_unique<Source>(*this); };
        return backend;
    }

  private:
    class Source final : public V4l2FrameSource {
      public:
        explicit Source(Rig& rig) : rig_(rig) {}
        ~Source() override { close(); }

        OpenError open(const std::filesystem::path& node) override {
            std::lock_guard lock(rig_.mutex_);
            rig_.lastNode_ = node;
            if (rig_.openResult != OpenError::none) {
                error_ = "open " + node.string() + ": Device or resource busy";
                return rig_.openResult;
            }
            ++rig_.opens_;
            rig_.open_ = true;
            open_ = true;
            return OpenError::none;
        }

        std::optional<V4l2Frame> readFrame(int timeoutMs, int cancelFd) override {
            for (;;) {
                {
                    std::lock_guard lock(rig_.mutex_);
                    if (!rig_.steps_.empty()) {
                        Step step = std::move(rig_.steps_.front());
                        rig_.steps_.pop_front();
                        rig_.readerWaiting_ = false;
                        rig_.changed_.notify_all();
                        if (auto* frame = std::get_if<V4l2Frame>(&step)) {
                            failure_ = ReadFailure::none;
                            return std::move(*frame);
                        }
                        failure_ = std::get<ReadFailure>(step);
                        return std::nullopt;
                    }
                    rig_.readerWaiting_ = true;
                    rig_.changed_.notify_all();
                }
                pollfd fds[2] = {{cancelFd, POLLIN, 0}, {rig_.wake_, POLLIN, 0}};
                int ready = ::poll(fds, 2, timeoutMs);
                if (ready == 0) {
                    failure_ = ReadFailure::timedOut;
                    return std::nullopt;
                }
                if (fds[0].revents & POLLIN) {
                    failure_ = ReadFailure::cancelled;
                    return std::nullopt;
                }
                std::uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(rig_.wake_, &count, sizeof count);
            }
        }

        ReadFailure lastReadFailure() const override { return failure_; }

        void close() override {
            if (!open_) {
                return;
            }
            open_ = false;
            std::lock_guard lock(rig_.mutex_);
            ++rig_.closes_;
            rig_.open_ = false;
            rig_.changed_.notify_all();
        }

        V4l2Mode mode() const override { return V4l2Mode{V4L2_PIX_FMT_YUYV, 8, 4}; }
        const std::string& lastError() const override { return error_; }

      private:
        Rig& rig_;
        bool open_ = false;
        ReadFailure failure_ = ReadFailure::none;
        std::string error_;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    bool readerWaiting_ = false;
    int wake_;
    int opens_ = 0;
    int closes_ = 0;
    bool open_ = false;
    std::filesystem::path lastNode_;
};

// An 8 x 4 YUYV frame (limited range) whose every luma sample is `y`.
V4l2Frame yuyvFrame(std::uint8_t y) {
    V4l2Frame frame;
    frame.format = V4l2FrameFormat{V4L2_PIX_FMT_YUYV, 8, 4, 16, LumaRange::limited};
    for (int i = 0; i < 8 * 4 / 2; ++i) {
        frame.bytes.insert(frame.bytes.end(), {y, 0x80, y, 0x80});
    }
    return frame;
}

struct Seen {
    std::vector<std::uint8_t> luma;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    bool hasImage = true;
};

Seen copyOf(const CameraFrame& frame) {
    return Seen{std::vector<std::uint8_t>(frame.luma.begin(), frame.luma.end()), frame.width,
                frame.height, frame.bytesPerRow, frame.hasImage};
}

class V4l2CameraTest : public ::testing::Test {
  protected:
    V4l2CameraTest() : queue_(clock_.makeQueue("pellora.sensor")) {}

    // Attaches the rig's camera and collects its frames on the manual queue.
    void attach(V4l2Camera& camera) {
        ASSERT_EQ(camera.addInput(camera.devices().at(0)).status, CameraInputResult::Status::added);
        camera.setFrameHandler(
            *queue_, [this](const CameraFrame& frame) { seen_.push_back(copyOf(frame)); });
    }

    Rig rig_;
    VirtualClock clock_;
    std::unique_ptr<ManualQueue> queue_;
    std::vector<Seen> seen_;
};

TEST(V4l2CameraIdentity, IdsJoinBusAndNameAndTypesNameTheBus) {
    auto cameras = V4l2Camera::identify({
        {"/dev/video0", "Integrated Camera", "usb-0000:00:14.0-8", "uvcvideo"},
        {"/dev/video2", "Integrated Camera", "usb-0000:00:14.0-8", "uvcvideo"},  // IR sibling
        {"/dev/video4", "unicam", "platform:fe801000.csi", "unicam"},
        {"/dev/video5", "Capture Card", "PCI:0000:03:00.0", "saa7134"},
        {"/dev/video7", "", "", "odd"},
    });
    ASSERT_EQ(cameras.size(), 5u);
    EXPECT_EQ(cameras[0], (CameraDevice{"v4l2:usb-0000:00:14.0-8:Integrated Camera",
                                        "Integrated Camera", "v4l2-usb"}));
    EXPECT_EQ(cameras[1].uniqueID, "v4l2:usb-0000:00:14.0-8:Integrated Camera#2");
    EXPECT_EQ(cameras[2].deviceTypeRaw, "v4l2-platform");
    EXPECT_EQ(cameras[3].deviceTypeRaw, "v4l2-pci");
    EXPECT_EQ(cameras[4], (CameraDevice{"v4l2:/dev/video7:", "video7", "v4l2"}));

    EXPECT_EQ(V4l2Camera::presetName({V4L2_PIX_FMT_YUYV, 320, 240}), "320x240 YUYV");
    EXPECT_EQ(V4l2Camera::presetName({V4L2_PIX_FMT_MJPEG, 160, 120}), "160x120 MJPG");
    EXPECT_EQ(V4l2Camera::presetName({V4L2_PIX_FMT_GREY, 0, 0}), "GREY");
    EXPECT_EQ(V4l2Camera::fourccText(v4l2_fourcc('Y', '1', '6', ' ')), "Y16");
}

TEST(V4l2CameraIdentity, CaptureRanksFollowTheLumaRanksAndPutJpegLast) {
    const std::uint32_t direct[] = {
        V4L2_PIX_FMT_GREY,   V4L2_PIX_FMT_NV12,   V4L2_PIX_FMT_NV21,
        V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_YUYV,
        V4L2_PIX_FMT_YVYU,   V4L2_PIX_FMT_UYVY,   V4L2_PIX_FMT_VYUY,
    };
    for (std::uint32_t fourcc : direct) {
        ASSERT_TRUE(V4l2Capture::formatRank(fourcc)) << V4l2Camera::fourccText(fourcc);
        EXPECT_EQ(V4l2Capture::formatRank(fourcc), lumaFormatRank(fourcc));
        EXPECT_LT(*V4l2Capture::formatRank(fourcc), *V4l2Capture::formatRank(V4L2_PIX_FMT_MJPEG));
    }
    EXPECT_EQ(V4l2Capture::formatRank(V4L2_PIX_FMT_JPEG),
              V4l2Capture::formatRank(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(V4l2Capture::formatRank(V4L2_PIX_FMT_RGB24), std::nullopt);
}

TEST(V4l2CameraIdentity, NodesThatAreNotCamerasListNothing) {
    TempDir dev;
    writeFile(dev / "video0", "");
    writeFile(dev / "video12", "not a device");
    writeFile(dev / "videoX", "");
    auto cameraOwner = V4l2Camera::create(V4l2CameraBackend::system(dev.path()));
    V4l2Camera& camera = *cameraOwner;
    EXPECT_TRUE(camera.devices().empty());
    EXPECT_EQ(camera.defaultDevice(), std::nullopt);
    EXPECT_FALSE(V4l2Capture::describe(dev / "video0").has_value());
    EXPECT_FALSE(V4l2Capture::preferredMode(dev / "video0").has_value());
    EXPECT_EQ(V4l2Capture::probe(dev / "video0"), OpenError::notCapture);
    EXPECT_EQ(V4l2Capture::probe(dev / "video9"), OpenError::noDevice);

    V4l2Capture capture;
    EXPECT_EQ(capture.open(dev / "video0"), OpenError::notCapture);
    EXPECT_FALSE(capture.isOpen());
    EXPECT_FALSE(capture.readFrame(0).has_value());
    EXPECT_EQ(capture.lastReadFailure(), ReadFailure::other);
}

TEST_F(V4l2CameraTest, AddingAnInputChecksTheNodeButLeavesTheCameraOff) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    EXPECT_EQ(camera.preset(), "smallest");
    ASSERT_EQ(camera.devices().size(), 1u);
    EXPECT_EQ(camera.defaultDevice(), camera.devices()[0]);

    CameraDevice stranger{"v4l2:usb-1:Other", "Other", "v4l2-usb"};
    auto result = camera.addInput(stranger);
    EXPECT_EQ(result.status, CameraInputResult::Status::creationFailed);
    EXPECT_EQ(result.error, "No such camera: Other");

    CameraDevice desk = camera.devices()[0];
    rig_.probeResult = OpenError::permissionDenied;
    result = camera.addInput(desk);
    EXPECT_EQ(result.status, CameraInputResult::Status::creationFailed);
    EXPECT_EQ(result.error, "Permission denied opening /dev/video0");
    rig_.probeResult = OpenError::none;
    rig_.mode.reset();
    result = camera.addInput(desk);
    EXPECT_EQ(result.status, CameraInputResult::Status::creationFailed);
    EXPECT_NE(result.error.find("no usable pixel format"), std::string::npos);
    EXPECT_EQ(camera.inputDevice(), std::nullopt);

    rig_.mode = V4l2Mode{V4L2_PIX_FMT_YUYV, 160, 120};
    rig_.probeResult = OpenError::busy;  // in use elsewhere: may be free by the reading
    EXPECT_EQ(camera.addInput(desk).status, CameraInputResult::Status::added);
    EXPECT_EQ(camera.inputDevice(), desk);
    EXPECT_EQ(camera.preset(), "160x120 YUYV");
    EXPECT_EQ(camera.addInput(desk).status, CameraInputResult::Status::added);
    EXPECT_EQ(camera.addInput(stranger).status, CameraInputResult::Status::cannotAdd);
    EXPECT_EQ(rig_.opens(), 0);
    EXPECT_FALSE(camera.isRunning());

    camera.removeInput();
    EXPECT_EQ(camera.inputDevice(), std::nullopt);
    EXPECT_EQ(camera.preset(), "smallest");
    EXPECT_FALSE(camera.start());
    EXPECT_EQ(camera.lastError(), "no camera attached");
}

TEST_F(V4l2CameraTest, RunsOnlyBetweenStartAndStopAndHandsOverFullRangeLuma) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    rig_.devices[0].node = "/dev/video3";  // renumbered since the input was added
    ASSERT_TRUE(camera.start());
    EXPECT_TRUE(camera.start());  // already running
    EXPECT_EQ(rig_.opens(), 1);
    EXPECT_EQ(rig_.lastNode(), "/dev/video3");
    EXPECT_TRUE(camera.isRunning());
    EXPECT_EQ(camera.preset(), "8x4 YUYV");

    rig_.push(yuyvFrame(235));
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].width, 8);
    EXPECT_EQ(seen_[0].height, 4);
    EXPECT_EQ(seen_[0].bytesPerRow, 8u);
    EXPECT_EQ(seen_[0].luma, std::vector<std::uint8_t>(32, 255));

    // A frame still queued when the camera stops is not handed over.
    rig_.push(yuyvFrame(16));
    ASSERT_TRUE(rig_.waitConsumed());
    camera.stop();
    EXPECT_FALSE(camera.isRunning());
    EXPECT_FALSE(rig_.isOpen());
    EXPECT_EQ(rig_.closes(), 1);
    clock_.runPending();
    EXPECT_EQ(seen_.size(), 1u);

    // The next run is a new opening of the device.
    ASSERT_TRUE(camera.start());
    EXPECT_EQ(rig_.opens(), 2);
    rig_.push(yuyvFrame(16));
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].luma, std::vector<std::uint8_t>(32, 0));
    camera.removeInput();
    EXPECT_FALSE(rig_.isOpen());
}

TEST_F(V4l2CameraTest, FramesArrivingWhileOneIsQueuedAreDropped) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    ASSERT_TRUE(camera.start());
    for (std::uint8_t y : {100, 110, 120, 130}) {
        rig_.push(yuyvFrame(y));
    }
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].luma[0], expandLimitedLuma(100));

    rig_.push(yuyvFrame(140));
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].luma[0], expandLimitedLuma(140));
}

TEST_F(V4l2CameraTest, ADetachedOrReplacedHandlerGetsNothingMore) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    ASSERT_TRUE(camera.start());
    rig_.push(yuyvFrame(50));
    ASSERT_TRUE(rig_.waitConsumed());
    std::vector<int> second;
    camera.setFrameHandler(*queue_, [&](const CameraFrame& f) { second.push_back(f.luma[0]); });
    clock_.runPending();
    EXPECT_TRUE(seen_.empty());
    EXPECT_TRUE(second.empty());

    rig_.push(yuyvFrame(60));
    ASSERT_TRUE(rig_.waitConsumed());
    camera.setFrameHandler(*queue_, {});
    clock_.runPending();
    rig_.push(yuyvFrame(70));
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    EXPECT_TRUE(second.empty());

    camera.setFrameHandler(*queue_, [&](const CameraFrame& f) { second.push_back(f.luma[0]); });
    rig_.push(yuyvFrame(80));
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    EXPECT_EQ(second, std::vector<int>{expandLimitedLuma(80)});
}

TEST_F(V4l2CameraTest, AVanishedDeviceEndsTheFramesAndFreesTheNode) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    ASSERT_TRUE(camera.start());
    rig_.push(ReadFailure::tryAgain);
    rig_.push(ReadFailure::badBuffer);
    rig_.push(yuyvFrame(120));
    rig_.push(ReadFailure::deviceGone);
    rig_.push(yuyvFrame(200));  // never read
    ASSERT_TRUE(rig_.waitClosed());
    EXPECT_FALSE(camera.isRunning());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].luma[0], expandLimitedLuma(120));

    // Unplugged for good: the next start says so.
    auto devices = rig_.devices;
    rig_.devices.clear();
    EXPECT_FALSE(camera.start());
    EXPECT_EQ(camera.lastError(), "camera \"Desk Cam\" is gone");

    // Plugged back in: a new run on a new opening.
    rig_.devices = devices;
    ASSERT_TRUE(camera.start());
    EXPECT_EQ(rig_.opens(), 2);
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].luma[0], expandLimitedLuma(200));
    camera.stop();
}

TEST_F(V4l2CameraTest, RepeatedReadErrorsCountAsAVanishedDevice) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    ASSERT_TRUE(camera.start());
    for (int i = 0; i < 7; ++i) {
        rig_.push(ReadFailure::other);
    }
    rig_.push(yuyvFrame(90));  // resets the count
    for (int i = 0; i < 7; ++i) {
        rig_.push(ReadFailure::other);
    }
    ASSERT_TRUE(rig_.waitConsumed());
    EXPECT_TRUE(camera.isRunning());
    rig_.push(ReadFailure::other);
    ASSERT_TRUE(rig_.waitClosed());
    EXPECT_FALSE(camera.isRunning());
    clock_.runPending();
    EXPECT_EQ(seen_.size(), 1u);

    // Wake-ups with nothing to dequeue: one a frame is normal, a thousand in a row is a spin.
    ASSERT_TRUE(camera.start());
    for (int i = 0; i < 1000; ++i) {
        rig_.push(ReadFailure::tryAgain);
    }
    rig_.push(yuyvFrame(95));
    for (int i = 0; i < 1000; ++i) {
        rig_.push(ReadFailure::tryAgain);
    }
    ASSERT_TRUE(rig_.waitConsumed());
    EXPECT_TRUE(camera.isRunning());
    rig_.push(ReadFailure::tryAgain);
    ASSERT_TRUE(rig_.waitClosed());
    EXPECT_FALSE(camera.isRunning());
    clock_.runPending();
    EXPECT_EQ(seen_.size(), 2u);
}

TEST_F(V4l2CameraTest, OpenFailureLeavesNothingRunning) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    rig_.openResult = OpenError::busy;
    EXPECT_FALSE(camera.start());
    EXPECT_FALSE(camera.isRunning());
    EXPECT_EQ(camera.lastError(), "open /dev/video0: Device or resource busy");
    rig_.openResult = OpenError::none;
    EXPECT_TRUE(camera.start());
    EXPECT_EQ(camera.lastError(), "");
}

TEST_F(V4l2CameraTest, MjpegFramesAreDecodedToGrey) {
    auto cameraOwner = V4l2Camera::create(rig_.backend());
    V4l2Camera& camera = *cameraOwner;
    attach(camera);
    ASSERT_TRUE(camera.start());

    std::vector<std::uint8_t> grey(16 * 8, 77);
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(
        tjCompress2(handle, grey.data(), 16, 16, 8, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 100, 0),
        0);
    V4l2Frame frame;
    // The driver's line and range say nothing about what the JPEG holds.
    frame.format = V4l2FrameFormat{V4L2_PIX_FMT_MJPEG, 16, 8, 0, LumaRange::full};
    frame.bytes.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    rig_.push(frame);
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].width, 16);
    EXPECT_EQ(seen_[0].height, 8);
    EXPECT_EQ(seen_[0].luma, grey);

    frame.bytes.resize(10);  // a torn frame
    rig_.push(frame);
    ASSERT_TRUE(rig_.waitConsumed());
    clock_.runPending();
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_FALSE(seen_[1].hasImage);
    EXPECT_TRUE(seen_[1].luma.empty());
}

// Frames flow from the capture thread to a real queue while the camera is started, stopped,
// re-handled and finally destroyed with deliveries still queued.
TEST(V4l2CameraThreads, StartStopAndTeardownWhileFramesFlow) {
    Rig rig;
    SystemClock clock;
    SerialQueue queue("pellora.sensor", clock);
    std::atomic<int> handled{0};
    std::atomic<bool> stopFeeding{false};
    std::thread feeder([&] {
        for (int i = 0; !stopFeeding.load() && i < 100000; ++i) {
            rig.waitRoom(4);
            rig.push(yuyvFrame(static_cast<std::uint8_t>(16 + i % 200)));
        }
    });
    {
        auto cameraOwner = V4l2Camera::create(rig.backend());
        V4l2Camera& camera = *cameraOwner;
        CameraDevice desk = camera.devices().at(0);
        queue.sync([&] {
            ASSERT_EQ(camera.addInput(desk).status, CameraInputResult::Status::added);
            camera.setFrameHandler(queue, [&](const CameraFrame& frame) {
                if (frame.luma.size() == 32 && frame.width == 8) {
                    ++handled;
                }
            });
        });
        for (int cycle = 0; cycle < 20; ++cycle) {
            queue.sync([&] { ASSERT_TRUE(camera.start()); });
            int before = handled.load();
            for (int spin = 0; spin < 2000 && handled.load() == before; ++spin) {
                queue.sync([] {});
            }
            queue.sync([&] {
                if (cycle % 5 == 4) {
                    camera.setFrameHandler(queue, [&](const CameraFrame&) { ++handled; });
                }
                camera.stop();
                EXPECT_FALSE(camera.isRunning());
            });
        }
        queue.sync([&] { ASSERT_TRUE(camera.start()); });
        // Destroyed while running, from another thread than the queue's.
    }
    EXPECT_FALSE(rig.isOpen());
    EXPECT_EQ(rig.opens(), rig.closes());
    EXPECT_GE(handled.load(), 20);
    stopFeeding = true;
    feeder.join();
    queue.sync([] {});
}

}  // namespace
}  // namespace pellora::test
