// Applying the learnt curve in adapting mode, and the pause after the user's own changes.

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/AppDelegate.h"
#include "app/ApplyPolicy.h"
#include "app/BrightnessIndicator.h"
#include "app/LocalTime.h"
#include "app/StoredChoices.h"
#include "display/BrightnessController.h"
#include "display/MonitorScope.h"
#include "platform/Clock.h"
#include "platform/WhileAlive.h"

namespace pellora {

ApplyPolicy::Decision AppDelegate::applyDecision() const {
    ApplyPolicy::Inputs in;
    in.adapting = mode_ == Mode::adapting;
    in.now = s_.clock.monotonic();
    in.manualOverrideUntil = in.now + pauseLeft();
    in.lastApplied = lastAppliedBrightness_;
    // Samples and anchors keep the light measured; only what is written leads it.
    in.smoothedLuma = headingLuma();
    if (in.adapting && !paused()) {
        in.predicted =
            scope_->anchors().predict(in.smoothedLuma, localtime::fractionalHour(s_.clock.now()),
                                      StoredChoices::morningFade(s_.settings));
    }
    return ApplyPolicy::decide(in);
}

double AppDelegate::headingLuma() const {
    double lead = trend_.lead(closeSpacing_);
    return lead != 0 ? std::clamp(smoothedLuma_ + lead, 0.0, 255.0) : smoothedLuma_;
}

void AppDelegate::maybeApply() {
    if (!scope_) {
        return;
    }
    auto decision = applyDecision();
    menu_.setTitle(MenuItemId::brightness, decision.brightnessRow);
    if (decision.glyph) {
        menu_.setGlyph(*decision.glyph);
    }
    if (!decision.write) {
        return;
    }
    const int target = *decision.write;
    const std::optional<int> before = std::exchange(lastAppliedBrightness_, target);
    char luma[64];
    const double heading = headingLuma();
    std::snprintf(luma, sizeof luma, heading != smoothedLuma_ ? "%.0f (heading for %.0f)" : "%.0f",
                  smoothedLuma_, heading);
    log("maybeApply (adapting) writing brightness=" + std::to_string(*decision.write) +
            " at luma=" + luma,
        "apply");
    // Shown, and held as the monitor's, only once the monitor has taken it: else the next
    // reading would find the monitor where it was and take that for the user's choice.
    auto settled = [target, before, delta = decision.delta, request = scopeRequest_](
                       const auto& self, bool written) {
        if (self->scopeRequest_ != request) {
            return;  // written to the monitor that went
        }
        if (!written) {
            self->log("brightness write of " + std::to_string(target) +
                          " not acknowledged by the monitor",
                      "apply");
            // Unless the user chose since, the monitor still shows what it held.
            if (self->lastAppliedBrightness_ == target) {
                self->lastAppliedBrightness_ = before;
            }
            return;
        }
        if (self->lastAppliedBrightness_ && *self->lastAppliedBrightness_ != target) {
            // The user chose, or a later write went out, while this one was on its way: the
            // monitor ends at theirs, which this must not show or record over.
            return;
        }
        self->noteKnownBrightness(target);
        if (self->prefs_) {
            self->prefs_->showAppliedBrightness(target);
        }
        self->s_.indicator.show(target, delta);
        self->publishRemoteState();
    };
    s_.brightness->setBrightness(target, whileAlive(this, settled));
}

void AppDelegate::setManualOverride(double seconds) {
    holdOffUntil(s_.clock.now() + seconds);
    publishRemoteState();
}

void AppDelegate::holdOffUntil(double wallTime) {
    if (pauseLeft() < wallTime - s_.clock.now()) {
        pauseUntil(wallTime);
    }
}

void AppDelegate::pauseUntil(double wallTime) {
    manualOverrideUntil_ = wallTime;
    pauseEndsMonotonic_ =
        wallTime == distantPast ? distantPast : s_.clock.monotonic() + (wallTime - s_.clock.now());
}

double AppDelegate::pauseLeft() const {
    return std::min(pauseEndsMonotonic_ - s_.clock.monotonic(),
                    manualOverrideUntil_ - s_.clock.now());
}

bool AppDelegate::paused() const {
    return pauseLeft() > 0;
}

void AppDelegate::previewHUD() {
    s_.indicator.show(lastAppliedBrightness_.value_or(ApplyPolicy::defaultMap(smoothedLuma_)), 0);
}

}  // namespace pellora
