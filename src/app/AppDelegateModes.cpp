// Learning and adapting mode, and the sample-trained model kept up to date off the main thread.

#include <utility>

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
    // Else the row goes on saying what the other mode did until the next reading, an hour off.
    menu_.setTitle(MenuItemId::brightness, applyDecision().brightnessRow);
}

void AppDelegate::retrain() {
    if (!scope_) {
        return;
    }
    // One retraining at a time: a read of a large log outlasts the timer on a fast clock, and
    // stacking reads would hold up the samples log's queue. One asked for meanwhile follows.
    if (retrainRunning_) {
        retrainAgain_ = true;
        return;
    }
    retrainRunning_ = true;
    std::uint64_t request = ++retrainRequest_;
    // The samples are read on the logger's queue after the appends already queued, trained on
    // the retrain queue, and the model handed over on main: a scope is only ever touched there.
    std::weak_ptr<MonitorScope> kept = scope_;
    Queue& main = s_.main;
    scope_->logger().loadAll(s_.retrainQueue, [weak = weak_from_this(), kept, &main,
                                               request](std::vector<Sample> samples) {
        auto model = std::make_shared<BrightnessModel>(BrightnessModel::train(samples));
        main.post([weak, kept, model, request] {
            auto self = weak.lock();
            auto scope = kept.lock();
            // A scope replaced meanwhile still gets its model; only the menu is spared.
            if (scope) {
                scope->setModel(std::move(*model));
            }
            if (!self || self->retrainRequest_ != request) {
                return;
            }
            self->retrainRunning_ = false;
            if (self->scope_ == scope) {
                self->refreshMenu();
            }
            if (std::exchange(self->retrainAgain_, false)) {
                self->retrain();
            }
        });
    });
}

void AppDelegate::forgetRetraining() {
    // What is still under way belongs to the monitor that went.
    ++retrainRequest_;
    retrainRunning_ = false;
    retrainAgain_ = false;
}

}  // namespace pellora
