#pragma once

#include "platform/CameraAccess.h"

namespace pellora {

// Camera permission as the simulation (or a test) sets it; a request answers with
// `answerGranted` and, when granted, authorises.
class SimulatedCameraAccess final : public CameraAccess {
  public:
    int authorizationStatus() override { return status_; }
    void requestAccess(std::function<void(bool)> answer) override {
        if (status_ == notDetermined) {
            status_ = answerGranted_ ? authorized : denied;
        }
        answer(status_ == authorized);
    }
    std::string repairHint() override {
        return status_ == denied ? "The simulated camera is set to refuse access." : "";
    }

    void setStatus(int status) { status_ = status; }
    void setAnswer(bool granted) { answerGranted_ = granted; }

  private:
    int status_ = authorized;
    bool answerGranted_ = true;
};

}  // namespace pellora
