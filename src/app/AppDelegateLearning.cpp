// Turning the user's own brightness choices into anchors once they have stood for a while.

#include <cstdio>

#include "app/AppDelegate.h"
#include "app/ApplyPolicy.h"
#include "app/LearningPolicy.h"
#include "app/LocalTime.h"
#include "app/StoredChoices.h"
#include "display/BrightnessController.h"
#include "display/MonitorScope.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/SessionState.h"
#include "platform/WhileAlive.h"

namespace pellora {

void AppDelegate::userDidAdjustBrightness(int brightness) {
    double now = s_.clock.now();
    lastAppliedBrightness_ = brightness;
    holdOffUntil(now + ApplyPolicy::manualOverridePause);
    pendingAnchor_ = PendingAnchor{brightness, smoothedLuma_, localtime::fractionalHour(now), now,
                                   scope_ ? std::optional(scope_->monitor()) : std::nullopt};
    pendingSinceMonotonic_ = s_.clock.monotonic();
    char luma[32];
    std::snprintf(luma, sizeof luma, "%.0f", smoothedLuma_);
    log("user adjust brightness=" + std::to_string(brightness) + " @luma=" + luma +
            " — pending anchor",
        "anchor");
    schedulePendingCommit();
    publishRemoteState();
}

void AppDelegate::schedulePendingCommit() {
    if (pendingCommitWork_) {
        pendingCommitWork_->cancel();
    }
    pendingCommitWork_ = s_.main.postAfter(
        LearningPolicy::anchorDwell,
        whileAlive(this, [](const auto& self) { self->commitPendingIfStable(); }));
}

void AppDelegate::commitPendingIfStable() {
    // This check has run: a monitor connected from now on gets one of its own.
    pendingCommitWork_.reset();
    if (!pendingAnchor_) {
        return;
    }
    if (!scope_) {
        log("pending anchor kept — its monitor is not connected", "anchor");
        return;
    }
    // Asked first: whether the user is there comes back later, on this thread.
    s_.session.idleSeconds(
        whileAlive(this, [anchor = *pendingAnchor_, kept = std::weak_ptr<MonitorScope>(scope_)](
                             const auto& self, std::optional<double> idle) {
            if (self->pendingAnchor_ != anchor) {
                return;
            }
            double age = self->s_.clock.monotonic() - self->pendingSinceMonotonic_;
            bool hasScope = self->currentScope(kept) != nullptr;
            bool present = LearningPolicy::isPresent(self->screenLocked_, idle);
            bool ownMonitor = hasScope && anchor.monitor == self->scope_->monitor();
            switch (LearningPolicy::beforeRead(true, hasScope, age, present, ownMonitor)) {
                case LearningPolicy::CheckStep::nothing:
                    return;
                case LearningPolicy::CheckStep::dropAbsent:
                    self->log("pending anchor dropped — user not present", "anchor");
                    self->pendingAnchor_.reset();
                    return;
                case LearningPolicy::CheckStep::dropOtherMonitor:
                    self->log("pending anchor dropped — chosen on another monitor (" +
                                  (anchor.monitor ? anchor.monitor->identifier() : "none") + ")",
                              "anchor");
                    self->pendingAnchor_.reset();
                    return;
                case LearningPolicy::CheckStep::readBack:
                    break;
            }
            self->readBrightness(
                whileAlive(self.get(), [kept](const auto& self, std::optional<int> read) {
                    self->checkPendingAfterRead(kept, read);
                }));
        }));
}

void AppDelegate::checkPendingAfterRead(std::weak_ptr<MonitorScope> kept, std::optional<int> read) {
    auto scope = currentScope(kept);
    if (!scope || !pendingAnchor_) {
        return;
    }
    PendingAnchor anchor = *pendingAnchor_;
    if (!LearningPolicy::stands(read, anchor.brightness)) {
        log("pending anchor dropped — value changed (now " +
                (read ? std::to_string(*read) : std::string("nil")) + ")",
            "anchor");
        pendingAnchor_.reset();
        return;
    }
    std::optional<double> night;
    if (StoredChoices::followRoomClosely(s_.settings) &&
        StoredChoices::location(s_.settings).value.isAfterSunset(anchor.since)) {
        night =
            scope->anchors().nightValueOfEveningChoice(anchor.luma, anchor.brightness, anchor.hour);
    }
    scope->anchors().observe(anchor.luma, night.value_or(anchor.brightness),
                             night ? AnchorStore::nightStart : anchor.hour,
                             LearningPolicy::anchorWeight);
    char forNight[48] = "";
    if (night) {
        std::snprintf(forNight, sizeof forNight, ", for the night %.0f", *night);
    }
    char text[200];
    std::snprintf(
        text, sizeof text, "anchor committed: luma=%.0f brightness=%d hour=%.1f%s (%zu anchors)",
        anchor.luma, anchor.brightness, anchor.hour, forNight, scope->anchors().anchors().size());
    log(text, "anchor");
    pendingAnchor_.reset();
    if (prefs_) {
        prefs_->refreshSamples();
    }
    refreshMenu();
}

}  // namespace pellora
