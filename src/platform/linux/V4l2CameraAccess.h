#pragma once

#include <filesystem>

#include "platform/CameraAccess.h"

namespace pellora {

// Camera access on Linux is file access to the V4L2 nodes: authorised when a capture node
// opens, denied when opening one fails with EACCES. There is no prompt: asking again just
// looks again. With no camera at all there is nothing to refuse, so access counts as
// authorised and the sensor then finds no device.
class V4l2CameraAccess final : public CameraAccess {
  public:
    explicit V4l2CameraAccess(std::filesystem::path devDir = "/dev");

    CameraAuthorization authorizationStatus() override;
    void requestAccess(std::function<void(bool)> answer) override;
    std::string repairHint() override;

  private:
    std::filesystem::path devDir_;
    std::filesystem::path deniedNode_;
};

}  // namespace pellora
