#pragma once

#include <memory>

#include "platform/CameraAccess.h"
#include "platform/Queue.h"
#include "platform/WhileAlive.h"

namespace pellora {

// Camera permission as the simulation (or a test) sets it; a request answers with
// `setAnswer`'s value and, when granted, authorises. Answers come through the main queue.
class SimulatedCameraAccess final : public CameraAccess,
                                    public std::enable_shared_from_this<SimulatedCameraAccess> {
  public:
    static std::shared_ptr<SimulatedCameraAccess> create(Queue& mainQueue) {
        return std::shared_ptr<SimulatedCameraAccess>(new SimulatedCameraAccess(mainQueue));
    }

    void checkAuthorization(std::function<void(CameraAuthorization)> answer) override {
        main_.post(whileAlive(
            this, [answer = std::move(answer)](const auto& self) { answer(self->learn()); }));
    }
    std::optional<CameraAuthorization> lastKnownStatus() const override { return known_; }
    void requestAccess(std::function<void(bool)> answer) override {
        main_.post(whileAlive(this, [answer = std::move(answer)](const auto& self) {
            if (self->status_ == CameraAuthorization::notDetermined) {
                self->status_ = self->answerGranted_ ? CameraAuthorization::authorized
                                                     : CameraAuthorization::denied;
            }
            answer(self->learn() == CameraAuthorization::authorized);
        }));
    }
    std::string repairHint() const override {
        return known_ == CameraAuthorization::denied
                   ? "The simulated camera is set to refuse access."
                   : "";
    }

    void setStatus(CameraAuthorization status) { status_ = status; }
    void setAnswer(bool granted) { answerGranted_ = granted; }

  private:
    explicit SimulatedCameraAccess(Queue& mainQueue) : main_(mainQueue) {}

    CameraAuthorization learn() {
        known_ = status_;
        return status_;
    }

    Queue& main_;
    CameraAuthorization status_ = CameraAuthorization::authorized;
    std::optional<CameraAuthorization> known_;
    bool answerGranted_ = true;
};

}  // namespace pellora
