// Learning and adapting mode, and the sample-trained model kept up to date off the main thread.

#include "app/AppDelegate.h"
#include "display/MonitorScope.h"
#include "model/BrightnessModel.h"
#include "platform/Queue.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora {

void AppDelegate::toggleMode() {
    if (!scope_) {
        return;
    }
    mode_ = mode_ == Mode::learning ? Mode::adapting : Mode::learning;
    s_.settings.set(scope_->keyPrefix() + "mode", std::string(modeText(mode_)));
    lastAppliedBrightness_.reset();
    if (mode_ == Mode::adapting) {
        retrain();
    }
    refreshMenu();
}

void AppDelegate::retrain() {
    if (!scope_) {
        return;
    }
    // The samples are read on the logger's queue after the appends already queued, trained on
    // the retrain queue, and the model handed over on main: a scope is only ever touched there.
    std::weak_ptr<MonitorScope> kept = scope_;
    Queue& main = s_.main;
    scope_->logger().loadAll(
        s_.retrainQueue, [weak = weak_from_this(), kept, &main](std::vector<Sample> samples) {
            auto model = std::make_shared<BrightnessModel>(BrightnessModel::train(samples));
            main.post([weak, kept, model] {
                auto scope = kept.lock();
                if (!scope) {
                    return;
                }
                // A scope replaced meanwhile still gets its model; only the menu is spared.
                scope->setModel(std::move(*model));
                auto self = weak.lock();
                if (self && self->scope_ == scope) {
                    self->refreshMenu();
                }
            });
        });
}

}  // namespace pellora
