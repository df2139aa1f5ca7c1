#pragma once

#include <vector>

#include "platform/linux/V4l2Camera.h"
#include "platform/linux/V4l2Capture.h"

namespace pellora::test {

// The system's V4L2 backend for a program under pw-v4l2: /dev/video0 exists only inside the
// PipeWire layer, with no node to list, so only the directory scan is replaced.
inline V4l2CameraBackend v4l2LayerBackend() {
    V4l2CameraBackend backend = V4l2CameraBackend::system();
    backend.listDevices = [] {
        std::vector<V4l2DeviceInfo> found;
        if (auto device = V4l2Capture::describe("/dev/video0")) {
            found.push_back(*device);
        }
        return found;
    };
    return backend;
}

}  // namespace pellora::test
