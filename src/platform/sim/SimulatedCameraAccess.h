#pragma once

#include <memory>

#include "platform/CameraAccess.h"
#include "platform/Queue.h"
#include "platform/WhileAlive.h"

namespace pellora {

// Camera permission as the simulation (or a test) sets it; answers come through the main
// queue.
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
    std::string repairHint() const override {
        return known_ == CameraAuthorization::denied
                   ? "The simulated camera is set to refuse access."
                   : "";
    }

    void setStatus(CameraAuthorization status) { status_ = status; }

  private:
    explicit SimulatedCameraAccess(Queue& mainQueue) : main_(mainQueue) {}

    CameraAuthorization learn() {
        known_ = status_;
        return status_;
    }

    Queue& main_;
    CameraAuthorization status_ = CameraAuthorization::authorized;
    std::optional<CameraAuthorization> known_;
};

}  // namespace pellora
