#include "platform/linux/V4l2CameraAccess.h"

#include <algorithm>
#include <vector>

#include "platform/WhileAlive.h"
#include "platform/linux/V4l2Capture.h"

namespace pellora {

namespace {

// More video nodes than any machine has; a /dev that lists more is not worth opening them all.
constexpr std::size_t kMaxNodes = 64;

}  // namespace

V4l2CameraAccess::V4l2CameraAccess(Queue& probeQueue, Queue& mainQueue,
                                   std::filesystem::path devDir)
    : probe_(probeQueue), main_(mainQueue), devDir_(std::move(devDir)) {}

std::shared_ptr<V4l2CameraAccess> V4l2CameraAccess::create(Queue& probeQueue, Queue& mainQueue,
                                                           std::filesystem::path devDir) {
    return std::shared_ptr<V4l2CameraAccess>(
        new V4l2CameraAccess(probeQueue, mainQueue, std::move(devDir)));
}

V4l2CameraAccess::Finding V4l2CameraAccess::look(const std::filesystem::path& devDir) {
    std::vector<std::filesystem::path> nodes = V4l2Capture::videoNodes(devDir);
    nodes.resize(std::min(nodes.size(), kMaxNodes));
    Finding finding;
    for (const auto& node : nodes) {
        switch (V4l2Capture::probe(node)) {
            case V4l2Capture::OpenError::none:
            case V4l2Capture::OpenError::busy:  // in use by another program, but ours to use
                return Finding{};
            case V4l2Capture::OpenError::permissionDenied:
                if (finding.deniedNode.empty()) {
                    finding = Finding{CameraAuthorization::denied, node};
                }
                break;
            default:
                break;
        }
    }
    return finding;
}

void V4l2CameraAccess::checkAuthorization(std::function<void(CameraAuthorization)> answer) {
    PELLORA_ASSERT_ON(main_);
    // The probe touches nothing of ours on its queue: it takes the folder's name along and
    // sends the finding back, where this object is looked up again.
    probe_.post([devDir = devDir_, weak = weak_from_this(), main = &main_,
                 answer = std::move(answer)]() mutable {
        main->post(whileAlive(
            weak, [finding = look(devDir), answer = std::move(answer)](const auto& self) {
                self->known_ = finding.status;
                self->deniedNode_ = finding.deniedNode;
                answer(finding.status);
            }));
    });
}

std::optional<CameraAuthorization> V4l2CameraAccess::lastKnownStatus() const {
    return known_;
}

std::string V4l2CameraAccess::repairHint() const {
    if (deniedNode_.empty()) {
        return {};
    }
    return "Permission denied opening " + deniedNode_.string() +
           ": add yourself to the video group (sudo usermod -aG video $USER, then log out and "
           "back in), or check that your login session's uaccess rule covers the camera "
           "(loginctl seat-status).";
}

}  // namespace pellora
