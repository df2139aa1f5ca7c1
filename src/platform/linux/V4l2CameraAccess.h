#pragma once

#include <filesystem>
#include <memory>

#include "platform/CameraAccess.h"
#include "platform/Queue.h"

namespace pellora {

// Camera access on Linux is file access to the V4L2 nodes: authorised when a capture node
// opens, denied when opening one fails with EACCES. There is no prompt: asking again just
// looks again. With no camera at all there is nothing to refuse, so access counts as
// authorised and the sensor then finds no device.
//
// Opening a node can power a USB camera up, which takes a while, so the nodes are opened on
// `probeQueue` and the answers handed to `mainQueue`.
class V4l2CameraAccess final : public CameraAccess,
                               public std::enable_shared_from_this<V4l2CameraAccess> {
  public:
    static std::shared_ptr<V4l2CameraAccess> create(Queue& probeQueue, Queue& mainQueue,
                                                    std::filesystem::path devDir = "/dev");

    void checkAuthorization(std::function<void(CameraAuthorization)> answer) override;
    std::optional<CameraAuthorization> lastKnownStatus() const override;
    std::string repairHint() const override;

  private:
    struct Finding {
        CameraAuthorization status = CameraAuthorization::authorized;
        std::filesystem::path deniedNode;  // the first node that refused us
    };

    V4l2CameraAccess(Queue& probeQueue, Queue& mainQueue, std::filesystem::path devDir);
    static Finding look(const std::filesystem::path& devDir);

    Queue& probe_;
    Queue& main_;
    const std::filesystem::path devDir_;
    std::optional<CameraAuthorization> known_;
    std::filesystem::path deniedNode_;
};

}  // namespace pellora
