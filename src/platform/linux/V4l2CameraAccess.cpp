#include "platform/linux/V4l2CameraAccess.h"

#include <algorithm>
#include <vector>

#include "platform/linux/V4l2Capture.h"

namespace pellora {

V4l2CameraAccess::V4l2CameraAccess(std::filesystem::path devDir) : devDir_(std::move(devDir)) {}

CameraAuthorization V4l2CameraAccess::authorizationStatus() {
    deniedNode_.clear();
    std::vector<std::filesystem::path> nodes;
    std::error_code error;
    for (std::filesystem::directory_iterator it(devDir_, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().rfind("video", 0) == 0) {
            nodes.push_back(it->path());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    bool refused = false;
    for (const auto& node : nodes) {
        switch (V4l2Capture::probe(node)) {
            case V4l2Capture::OpenError::none:
            case V4l2Capture::OpenError::busy:  // in use by another program, but ours to use
                return CameraAuthorization::authorized;
            case V4l2Capture::OpenError::permissionDenied:
                if (!refused) {
                    deniedNode_ = node;
                }
                refused = true;
                break;
            default:
                break;
        }
    }
    return refused ? CameraAuthorization::denied : CameraAuthorization::authorized;
}

void V4l2CameraAccess::requestAccess(std::function<void(bool)> answer) {
    answer(authorizationStatus() == CameraAuthorization::authorized);
}

std::string V4l2CameraAccess::repairHint() {
    if (deniedNode_.empty()) {
        return {};
    }
    return "Permission denied opening " + deniedNode_.string() +
           ": add yourself to the video group (sudo usermod -aG video $USER, then log out and "
           "back in), or check that your login session's uaccess rule covers the camera "
           "(loginctl seat-status).";
}

}  // namespace pellora
