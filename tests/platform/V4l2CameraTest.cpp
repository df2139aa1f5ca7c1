#include "platform/linux/V4l2Camera.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <poll.h>

#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <variant>

#include "TempDir.h"
#include "VirtualClock.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"

namespace pellora::test {
namespace {

using namespace std::chrono_literals;
using OpenError = V4l2FrameSource::OpenError;
using ReadFailure = V4l2FrameSource::ReadFailure;
using Status = CameraInputResult::Status;
using Step = std::variant<V4l2Frame, ReadFailure>;

// Scripted devices and, step by step, what their sources read (shared under `mutex`).
struct Rig {
    std::vector<V4l2DeviceInfo> devices{{"/dev/video0", "Desk Cam", "usb-0:14.0-2", "uvcvideo"}};
    OpenError probeResult = OpenError::none, openResult = OpenError::none;
    std::optional<V4l2Mode> mode = V4l2Mode{V4L2_PIX_FMT_YUYV, 8, 4};
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Step> steps;
    bool readerWaiting = false;
    int opens = 0, closes = 0;
    std::filesystem::path lastNode;

    void push(Step step, int times = 1) {
        std::lock_guard lock(mutex);
        steps.insert(steps.end(), std::size_t(times), step);
        changed.notify_all();
    }
    template <typename F>
    bool waitFor(F done, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, done);
    }
    // Until the capture thread has taken every step (and posted for it) and waits.
    bool waitConsumed() {
        return waitFor([&] { return steps.empty() && readerWaiting; });
    }
    // Opens and closes so far, and the node last opened.
    std::tuple<int, int, std::filesystem::path> openings() {
        std::lock_guard lock(mutex);
        return {opens, closes, lastNode};
    }
    V4l2CameraBackend backend();
};

struct ScriptedSource final : V4l2FrameSource {
    Rig& rig_;
    bool open_ = false;
    ReadFailure failure_ = ReadFailure::none;
    std::string error_;

    explicit ScriptedSource(Rig& rig) : rig_(rig) {}
    ~ScriptedSource() override { close(); }
    OpenError open(const std::filesystem::path& node) override {
        std::lock_guard lock(rig_.mutex);
        rig_.lastNode = node;
        error_ = "open " + node.string() + ": Device or resource busy";
        open_ = rig_.openResult == OpenError::none;
        rig_.opens += open_;
        return rig_.openResult;
    }
    // Takes the next step, else looks for the camera's cancel every millisecond.
    std::optional<V4l2Frame> readFrame(int, int cancelFd) override {
        std::unique_lock lock(rig_.mutex);
        for (pollfd cancel{cancelFd, POLLIN, 0};; rig_.changed.wait_for(lock, 1ms)) {
            rig_.readerWaiting = rig_.steps.empty();
            rig_.changed.notify_all();
            if (!rig_.steps.empty()) {
                Step step = std::move(rig_.steps.front());
                rig_.steps.pop_front();
                auto* frame = std::get_if<V4l2Frame>(&step);
                failure_ = frame ? ReadFailure::none : std::get<ReadFailure>(step);
                return frame ? std::optional(std::move(*frame)) : std::nullopt;
            }
            if (::poll(&cancel, 1, 0) > 0) {
                failure_ = ReadFailure::cancelled;
                return std::nullopt;
            }
        }
    }
    ReadFailure lastReadFailure() const override { return failure_; }
    void close() override {
        std::lock_guard lock(rig_.mutex);
        rig_.closes += std::exchange(open_, false);
        rig_.changed.notify_all();
    }
    V4l2Mode mode() const override { return V4l2Mode{V4L2_PIX_FMT_YUYV, 8, 4}; }
    const std::string& lastError() const override { return error_; }
};

V4l2CameraBackend Rig::backend() {
    return {[this] { return devices; }, [this](const auto&) { return probeResult; },
            [this](const auto&) { return mode; },
            [this] { return std::make_unique<ScriptedSource>(*this); }};
}

// An 8 x 4 YUYV frame (limited range) whose every luma sample is `y`.
V4l2Frame yuyvFrame(std::uint8_t y) {
    V4l2Frame frame{V4l2FrameFormat{V4L2_PIX_FMT_YUYV, 8, 4, 16, LumaRange::limited}, {}};
    for (int i = 0; i < 16; ++i) {
        frame.bytes.insert(frame.bytes.end(), {y, 0x80, y, 0x80});
    }
    return frame;
}

struct V4l2CameraTest : ::testing::Test {
    Rig rig;
    VirtualClock clock;
    std::unique_ptr<ManualQueue> queue = clock.makeQueue("pellora.sensor");
    // Each frame handed over: its luma, and "width x height / bytes per row" or "no image".
    std::vector<std::pair<std::vector<std::uint8_t>, std::string>> seen;

    // The rig's camera attached, its frames collected on the manual queue.
    std::shared_ptr<V4l2Camera> attached() {
        auto camera = V4l2Camera::create(rig.backend());
        EXPECT_EQ(camera->addInput(camera->devices().at(0)).status, Status::added);
        camera->setFrameHandler(*queue, [this](const CameraFrame& f) {
            auto shape = std::to_string(f.width) + "x" + std::to_string(f.height) + "/" +
                         std::to_string(f.bytesPerRow);
            seen.emplace_back(std::vector(f.luma.begin(), f.luma.end()),
                              f.hasImage ? shape : "no image");
        });
        return camera;
    }
    // How many frames were handed over once the capture thread has taken every step pushed.
    std::size_t delivered() {
        EXPECT_TRUE(rig.waitConsumed());
        clock.runPending();
        return seen.size();
    }
};

TEST(V4l2CameraNames, IdsJoinBusAndNameTypesNameTheBusInEveryLanguage) {
    const std::vector<V4l2DeviceInfo> nodes = {
        {"/dev/video0", "Integrated Camera", "usb-0000:00:14.0-8", "uvcvideo"},
        {"/dev/video2", "Integrated Camera", "usb-0000:00:14.0-8", "uvcvideo"},  // IR sibling
        {"/dev/video5", "Capture Card", "PCI:0000:03:00.0", "saa7134"},
        {"/dev/video7", "", "", "odd"},
        {"/dev/video9", "Dock Cam", "USB-0000:00:14.0-9", "uvcvideo"},
    };
    const auto cameras = V4l2Camera::identify(nodes);
    ASSERT_EQ(cameras.size(), 5u);
    EXPECT_EQ(cameras[0], (CameraDevice{"v4l2:usb-0000:00:14.0-8:Integrated Camera",
                                        "Integrated Camera", "v4l2-usb"}));
    EXPECT_EQ(cameras[1].uniqueID, "v4l2:usb-0000:00:14.0-8:Integrated Camera#2");
    EXPECT_EQ(cameras[2].deviceTypeRaw, "v4l2-pci");
    EXPECT_EQ(cameras[3], (CameraDevice{"v4l2:/dev/video7:", "video7", "v4l2"}));
    EXPECT_EQ(cameras[4].deviceTypeRaw, "v4l2-usb");
    EXPECT_EQ(V4l2Camera::presetName({V4L2_PIX_FMT_GREY, 0, 0}), "GREY");
    EXPECT_EQ(V4l2Camera::fourccText(0x01020304), "????");

    // In Turkish the C library lowers "I" to dotless "ı", not "i" (in UTF-8 it leaves the
    // byte as it is): the bus prefix is ASCII and must be read so in every language.
    TempDir dir;
    ASSERT_EQ(std::system(("localedef -i tr_TR -f UTF-8 '" + (dir / "tr_TR.UTF-8").string() +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0)
        << "localedef could not make tr_TR.UTF-8";
    const char* oldPath = std::getenv("LOCPATH");
    const std::string savedPath = oldPath ? oldPath : "";
    const std::string savedType = std::setlocale(LC_CTYPE, nullptr);
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    ASSERT_NE(std::setlocale(LC_CTYPE, "tr_TR.UTF-8"), nullptr);
    const auto turkish = V4l2Camera::identify(nodes);
    std::setlocale(LC_CTYPE, savedType.c_str());
    oldPath ? ::setenv("LOCPATH", savedPath.c_str(), 1) : ::unsetenv("LOCPATH");
    EXPECT_EQ(turkish, cameras);
}

// A laptop's infrared face-login node, or one offering no format we read, may come first in
// node order: the colour camera beside them is the one used.
TEST_F(V4l2CameraTest, ColourCamerasComeBeforeInfraredAndUnreadableNodes) {
    rig.devices = {{"/dev/video0", "H.264 Cam", "usb-1", "uvcvideo"},
                   {"/dev/video2", "Integrated IR Camera", "usb-2", "uvcvideo"},
                   {"/dev/video4", "Integrated Camera", "usb-2", "uvcvideo"}};
    V4l2CameraBackend backend = rig.backend();
    backend.preferredMode = [](const std::filesystem::path& node) -> std::optional<V4l2Mode> {
        if (node == "/dev/video0") {
            return std::nullopt;
        }
        return V4l2Mode{node == "/dev/video2" ? V4L2_PIX_FMT_GREY : V4L2_PIX_FMT_YUYV, 640, 360};
    };
    auto camera = V4l2Camera::create(backend);
    std::vector<std::string> names;
    for (const auto& device : camera->devices()) {
        names.push_back(device.localizedName);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Integrated Camera", "H.264 Cam", "Integrated IR Camera"}));
    EXPECT_EQ(camera->defaultDevice()->localizedName, "Integrated Camera");
}

TEST_F(V4l2CameraTest, AddingAnInputChecksTheNodeButLeavesTheCameraOff) {
    auto camera = V4l2Camera::create(rig.backend());
    const CameraDevice desk = camera->devices().at(0), stranger{"v4l2:usb-1:Other", "Other", ""};
    EXPECT_EQ(camera->defaultDevice(), desk);
    rig.probeResult = OpenError::permissionDenied;
    EXPECT_EQ(camera->addInput(desk).error, "Permission denied opening /dev/video0");
    rig.probeResult = OpenError::none;
    rig.mode.reset();
    EXPECT_NE(camera->addInput(desk).error.find("no usable pixel format"), std::string::npos);
    EXPECT_EQ(camera->inputDevice(), std::nullopt);

    rig.mode = V4l2Mode{V4L2_PIX_FMT_YUYV, 160, 120};
    rig.probeResult = OpenError::busy;  // in use elsewhere: may be free by the reading
    EXPECT_EQ(camera->addInput(desk).status, Status::added);
    EXPECT_EQ(camera->preset(), "160x120 YUYV");
    EXPECT_EQ(camera->addInput(stranger).status, Status::cannotAdd);
    EXPECT_EQ(std::get<0>(rig.openings()), 0);
    camera->removeInput();
    EXPECT_EQ(camera->preset(), "smallest");
    EXPECT_FALSE(camera->start());
}

// Each run a new opening of the device (found again by its id, however renumbered), one
// frame at a time in full-range luma, and only to the handler of the moment.
TEST_F(V4l2CameraTest, RunsOnlyBetweenStartAndStopHandingOverOneFrameAtATime) {
    auto camera = attached();
    rig.openResult = OpenError::busy;
    EXPECT_FALSE(camera->start());
    EXPECT_EQ(camera->lastError(), "open /dev/video0: Device or resource busy");
    EXPECT_TRUE(camera->busyElsewhere());  // a video call has it
    rig.openResult = OpenError::none;
    rig.devices[0].node = "/dev/video3";  // renumbered since the input was added
    ASSERT_TRUE(camera->start());
    EXPECT_FALSE(camera->busyElsewhere());
    EXPECT_EQ(rig.openings(), std::make_tuple(1, 0, std::filesystem::path("/dev/video3")));
    for (std::uint8_t y : {235, 110, 120}) {
        rig.push(yuyvFrame(y));
    }
    ASSERT_EQ(delivered(), 1u);  // the rest came while the first was queued
    EXPECT_EQ(seen[0], std::make_pair(std::vector<std::uint8_t>(32, 255), std::string("8x4/8")));
    // A frame still queued when the camera stops is not handed over.
    rig.push(yuyvFrame(16));
    ASSERT_TRUE(rig.waitConsumed());
    camera->stop();
    EXPECT_EQ(std::get<1>(rig.openings()), 1);  // closed between runs
    EXPECT_EQ(delivered(), 1u);
    ASSERT_TRUE(camera->start());
    rig.push(yuyvFrame(16));
    ASSERT_EQ(delivered(), 2u);
    EXPECT_EQ(seen[1].first, std::vector<std::uint8_t>(32, 0));

    // A frame queued for a handler since replaced, or for a camera since gone, goes nowhere.
    std::vector<int> second;
    rig.push(yuyvFrame(50));
    ASSERT_TRUE(rig.waitConsumed());
    camera->setFrameHandler(*queue, [&](const CameraFrame& f) { second.push_back(f.luma[0]); });
    EXPECT_EQ(delivered(), 2u);
    rig.push(yuyvFrame(80));
    delivered();
    EXPECT_EQ(second, std::vector<int>{expandLimitedLuma(80)});
    rig.push(yuyvFrame(90));
    ASSERT_TRUE(rig.waitConsumed());
    camera.reset();
    clock.runPending();
    EXPECT_EQ(second.size(), 1u);
    EXPECT_EQ(rig.openings(), std::make_tuple(2, 2, std::filesystem::path("/dev/video3")));
}

TEST_F(V4l2CameraTest, ReadFailuresEndTheRunOnlyWhenTheDeviceIsGone) {
    const V4l2Frame frame = yuyvFrame(120);
    using R = ReadFailure;
    const struct {
        const char* name;
        std::vector<std::pair<Step, int>> steps;  // each step, and how often in a row
        bool ends;                                // the device counts as gone
    } cases[] = {
        {"gone at once", {{R::deviceGone, 1}}, true},
        {"seven errors, a frame, seven more", {{R::other, 7}, {frame, 1}, {R::other, 7}}, false},
        {"eight errors in a row", {{frame, 1}, {R::other, 8}}, true},
        {"a thousand empty wake-ups, a frame, a thousand more",
         {{R::tryAgain, 1000}, {frame, 1}, {R::tryAgain, 1000}},
         false},
        {"a thousand and one empty wake-ups", {{R::tryAgain, 1001}}, true},
        {"timeouts and corrupt buffers",
         {{R::timedOut, 20}, {R::badBuffer, 20}, {frame, 1}},
         false},
        // A frame the decoder cannot read still counts, without an image.
        {"torn MJPEG frame", {{V4l2Frame{{V4L2_PIX_FMT_MJPEG, 16, 8}, {0xFF, 0xD8}}, 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        auto camera = attached();
        ASSERT_TRUE(camera->start());
        std::size_t frames = 0;
        for (const auto& [step, times] : c.steps) {
            rig.push(step, times);
            frames += std::holds_alternative<V4l2Frame>(step) ? times : 0;
        }
        ASSERT_TRUE(c.ends ? rig.waitFor([&] { return rig.opens == rig.closes; })
                           : rig.waitConsumed());
        EXPECT_EQ(camera->isRunning(), !c.ends);
        clock.runPending();
        EXPECT_EQ(seen.size(), frames);
    }
    EXPECT_EQ(seen.back(), std::make_pair(std::vector<std::uint8_t>{}, std::string("no image")));

    // Once gone, the camera cannot start until the device is back.
    auto camera = attached();
    auto devices = std::exchange(rig.devices, {});
    EXPECT_FALSE(camera->start());
    EXPECT_EQ(camera->lastError(), "camera \"Desk Cam\" is gone");
    rig.devices = devices;
    EXPECT_TRUE(camera->start());
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
            rig.waitFor([&] { return rig.steps.size() < 4; }, 10ms);
            rig.push(yuyvFrame(static_cast<std::uint8_t>(16 + i % 200)));
        }
    });
    {
        auto camera = V4l2Camera::create(rig.backend());
        queue.sync([&] {
            ASSERT_EQ(camera->addInput(camera->devices().at(0)).status, Status::added);
            camera->setFrameHandler(queue, [&](const CameraFrame& frame) {
                handled += frame.luma.size() == 32 && frame.width == 8;
            });
        });
        for (int cycle = 0; cycle < 20; ++cycle) {
            queue.sync([&] { ASSERT_TRUE(camera->start()); });
            int before = handled.load();
            for (int spin = 0; spin < 2000 && handled.load() == before; ++spin) {
                queue.sync([] {});
            }
            queue.sync([&] {
                if (cycle % 5 == 4) {
                    camera->setFrameHandler(queue, [&](const CameraFrame&) { ++handled; });
                }
                camera->stop();
                EXPECT_FALSE(camera->isRunning());
            });
        }
        queue.sync([&] { ASSERT_TRUE(camera->start()); });
        // Let go while running, on another thread than the queue's.
    }
    // A delivery under way holds the camera; once it is done, the camera is gone and closed.
    queue.sync([] {});
    auto [opens, closes, node] = rig.openings();
    EXPECT_EQ(opens, closes);
    EXPECT_GE(handled.load(), 20);
    stopFeeding = true;
    feeder.join();
}

}  // namespace
}  // namespace pellora::test
