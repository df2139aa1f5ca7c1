// Run by V4l2StreamingTest under pw-v4l2, where the PipeWire layer's camera is /dev/video0:
// takes frames through V4l2Camera and prints what it saw as "key=value" lines.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
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
    if (devices.empty() ||
        camera->addInput(devices[0]).status != CameraInputResult::Status::added) {
        std::printf("devices=%zu\n", devices.size());
        return 1;
    }
    std::printf("name=%s\ntype=%s\npreset=%s\n", devices[0].localizedName.c_str(),
                devices[0].deviceTypeRaw.c_str(), camera->preset().c_str());

    SystemClock clock;
    SerialQueue queue("pellora.sensor", clock);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<double> means;  // inside the rows; a read past the plane's end poisons it
    std::set<std::string> geometries;
    camera->setFrameHandler(queue, [&](const CameraFrame& frame) {
        double sum = 0;
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                std::size_t at = std::size_t(y) * frame.bytesPerRow + std::size_t(x);
                sum += at < frame.luma.size() ? frame.luma[at] : 1e9;
            }
        }
        std::lock_guard lock(mutex);
        bool plane =
            frame.width * frame.height > 0 && frame.bytesPerRow >= std::size_t(frame.width);
        means.push_back(plane ? sum / (frame.width * frame.height) : -1);
        geometries.insert(std::to_string(frame.width) + "x" + std::to_string(frame.height));
        arrived.notify_all();
    });

    // One run: GStreamer's pipewiresink stops feeding once its first consumer has gone.
    const std::string idle = test::openDescriptors();
    bool started = false;
    queue.sync([&] { started = camera->start(); });
    if (!started) {
        std::printf("error=%s\n", camera->lastError().c_str());
        return 1;
    }
    {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return means.size() >= 3; });
    }
    queue.sync([&] { camera->stop(); });
    camera->setFrameHandler(queue, {});
    // The device is closed between readings. PipeWire's layer lets its own descriptors go on
    // its thread, which a loaded machine can hold up for a while.
    std::string after = test::descriptorsSettledAt(
        idle, [&] { queue.sync([] {}); }, std::chrono::seconds(5));
    if (after != idle) {
        auto oneLine = [](std::string text) {
            std::replace(text.begin(), text.end(), '\n', ';');
            return text;
        };
        std::printf("descriptorsIdle=%s\ndescriptorsAfter=%s\n", oneLine(idle).c_str(),
                    oneLine(after).c_str());
    }
    std::lock_guard lock(mutex);
    auto [low, high] = std::minmax_element(means.begin(), means.end());
    std::printf("descriptorsBack=%d\nframes=%zu\ngeometry=%s\nmeanLow=%.2f\nmeanHigh=%.2f\n",
                after == idle, means.size(),
                geometries.size() == 1 ? geometries.begin()->c_str() : "mixed",
                means.empty() ? -1 : *low, means.empty() ? -1 : *high);
    return 0;
}
