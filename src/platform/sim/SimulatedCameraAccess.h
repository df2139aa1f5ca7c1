#pragma once

#include "platform/CameraAccess.h"

namespace pellora {

// Camera permission as the simulation (or a test) sets it; a request answers with
// `answerGranted` and, when granted, authorises.
class SimulatedCameraAccess final : public CameraAccess {
  public:
    CameraAuthorization authorizationStatus() override { return status_; }
    void requestAccess(std::function<void(bool)> answer) override {
        if (status_ == CameraAuthorization::notDetermined) {
            status_ =
                answerGranted_ ? CameraAuthorization::authorized : CameraAuthorization::denied;
        }
        answer(status_ == CameraAuthorization::authorized);
    }
    std::string repairHint() override {
        return status_ == CameraAuthorization::denied
                   ? "The simulated camera is set to refuse access."
                   : "";
    }

    void setStatus(CameraAuthorization status) { status_ = status; }
    void setAnswer(bool granted) { answerGranted_ = granted; }

  private:
    CameraAuthorization status_ = CameraAuthorization::authorized;
    bool answerGranted_ = true;
};

}  // namespace pellora
