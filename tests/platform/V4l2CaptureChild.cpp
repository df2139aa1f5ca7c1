// Run by V4l2StreamingTest under pw-v4l2, where the PipeWire layer's camera is /dev/video0:
// takes frames through V4l2Camera and prints what it saw as "key=value" lines.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "OpenDescriptors.h"
#include "V4l2LayerBackend.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"

using namespace pellora;

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // what was printed survives a crash
    auto camera = V4l2Camera::create(test::v4l2LayerBackend());
    std::vector<CameraDevice> devices = camera->devices();
    std::printf("devices=%zu\n", devices.size());
    if (devices.empty()) {
        return 1;
    }
    std::printf("name=%s\ntype=%s\n", devices[0].localizedName.c_str(),
                devices[0].deviceTypeRaw.c_str());
    if (camera->addInput(devices[0]).status != CameraInputResult::Status::added) {
        return 1;
    }
    std::printf("preset=%s\n", camera->preset().c_str());

    SystemClock clock;
    SerialQueue queue("pellora.sensor", clock);
    std::mutex mutex;
    std::condition_variable arrived;
    struct Seen {
        std::string geometry;
        double mean = 0;  // inside the rows; a read past the plane's end poisons it
    };
    std::vector<Seen> frames;
    camera->setFrameHandler(queue, [&](const CameraFrame& frame) {
        double sum = 0;
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                std::size_t at = std::size_t(y) * frame.bytesPerRow + std::size_t(x);
                sum += at < frame.luma.size() ? frame.luma[at] : 1e9;
            }
        }
        Seen seen{std::to_string(frame.width) + "x" + std::to_string(frame.height), -1};
        if (frame.width > 0 && frame.height > 0 && frame.bytesPerRow >= std::size_t(frame.width)) {
            seen.mean = sum / (frame.width * frame.height);
        }
        std::lock_guard lock(mutex);
        frames.push_back(seen);
        arrived.notify_all();
    });

    // One run: GStreamer's pipewiresink stops feeding once its first consumer has gone.
    const std::string idle = test::openDescriptors();
    bool started = false;
    queue.sync([&] { started = camera->start(); });
    std::printf("started=%d\n", started);
    if (!started) {
        std::printf("error=%s\n", camera->lastError().c_str());
        return 1;
    }
    {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return frames.size() >= 3; });
    }
    queue.sync([&] { camera->stop(); });
    camera->setFrameHandler(queue, {});
    // The device is closed between readings.
    std::string after = test::descriptorsSettledAt(idle, [&] { queue.sync([] {}); });
    std::printf("descriptorsBack=%d\n", after == idle);
    std::lock_guard lock(mutex);
    std::printf("frames=%zu\n", frames.size());
    if (frames.empty()) {
        return 1;
    }
    auto [low, high] = std::minmax_element(
        frames.begin(), frames.end(), [](const Seen& a, const Seen& b) { return a.mean < b.mean; });
    bool sameGeometry = std::all_of(frames.begin(), frames.end(), [&](const Seen& f) {
        return f.geometry == frames[0].geometry;
    });
    std::printf("geometry=%s\nmeanLow=%.2f\nmeanHigh=%.2f\n",
                sameGeometry ? frames[0].geometry.c_str() : "mixed", low->mean, high->mean);
    return 0;
}
