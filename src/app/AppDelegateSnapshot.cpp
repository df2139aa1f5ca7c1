// The snapshot cycle: measure the room, read the monitor, log a sample, schedule the next.

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "app/AppDelegate.h"
#include "app/ApplyPolicy.h"
#include "app/LearningPolicy.h"
#include "app/LocalTime.h"
#include "app/SnapshotPolicy.h"
#include "app/StoredChoices.h"
#include "display/BrightnessController.h"
#include "display/MonitorScope.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/SessionState.h"
#include "platform/WhileAlive.h"
#include "sensor/LightSensor.h"
#include "store/DebugState.h"

namespace pellora {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

}  // namespace

void AppDelegate::takeSnapshot() {
    if (auto skip = SnapshotPolicy::skipReason(scope_ != nullptr, cameraGranted_, screenLocked_)) {
        log(*skip, "snapshot");
        return;
    }
    log("takeSnapshot requesting frame…", "snapshot");
    readingBudget_.recordReading(s_.clock.now(), s_.clock.monotonic(), atDeskAsLastSeen());
    s_.sensor->sampleOnce(SnapshotPolicy::sensorTimeout,
                          whileAlive(this, [](const auto& self, std::optional<double> luma) {
                              self->handleReading(luma);
                          }));
}

void AppDelegate::snapshotNow() {
    takeSnapshot();
    scheduleNextSnapshot();
}

void AppDelegate::scheduleNextSnapshot() {
    cancelSnapshotWork();
    if (!scope_) {
        nextSnapshotDue_ = distantFuture;
        refreshMenu();
        return;
    }
    auto location = StoredChoices::location(s_.settings);
    // Said once per stored value, not at every snapshot.
    if (location.complaint.value_or("") != lastLocationComplaint_) {
        lastLocationComplaint_ = location.complaint.value_or("");
        if (location.complaint) {
            log(*location.complaint, "snapshot");
        }
    }
    double interval = SnapshotPolicy::interval(s_.clock.now(), location.value);
    if (!followRoomClosely()) {
        scheduleSnapshot(interval);
        return;
    }
    usualDueAt_ = s_.clock.now() + interval;
    usualDueMonotonic_ = s_.clock.monotonic() + interval;
    closeSpacing_ =
        std::min(interval, readingBudget_.spacingAtDesk(s_.clock.now(), s_.clock.monotonic(),
                                                        SnapshotPolicy::closeInterval));
    scheduleCloseCheck(closeSpacing_);
    if (!buttonWatchWork_) {
        scheduleButtonWatch();
    }
}

void AppDelegate::scheduleButtonWatch() {
    buttonWatchWork_ =
        s_.main.postAfter(SnapshotPolicy::buttonWatchInterval,
                          whileAlive(this, [](const auto& self) { self->watchButtons(); }));
}

void AppDelegate::watchButtons() {
    buttonWatchWork_.reset();
    if (!followRoomClosely() || !scope_) {
        return;  // the next chain of readings starts it again
    }
    scheduleButtonWatch();
    // Left to the cycle: a reading about to come, the seconds after a reading's write, which
    // a slow monitor may not show yet, and a choice still pending, which a change seen now
    // could not replace (its check drops it, and the next look measures the change).
    double now = s_.clock.now();
    if (mode_ != Mode::adapting || screenLocked_ || !lastAppliedBrightness_ || pendingAnchor_ ||
        nextSnapshotDue_ - s_.clock.monotonic() < SnapshotPolicy::buttonWatchInterval ||
        now - lastSampleAt_ < SnapshotPolicy::writeSettleSeconds || !withinReadingBudget() ||
        readsInFlight_ > 0) {
        return;
    }
    s_.session.idleSeconds(whileAlive(this, [kept = std::weak_ptr<MonitorScope>(scope_)](
                                                const auto& self, std::optional<double> idle) {
        if (!LearningPolicy::isPresent(self->screenLocked_, idle) || !self->currentScope(kept)) {
            return;
        }
        auto reference = self->lastAppliedBrightness_;
        if (!reference) {
            return;
        }
        self->readBrightness(whileAlive(
            self.get(), [kept, from = *reference](const auto& self, std::optional<int> read) {
                // Whatever was written meanwhile, the read saw the monitor before it.
                if (!read || !self->currentScope(kept) || self->lastAppliedBrightness_ != from ||
                    !LearningPolicy::departsFrom(from, *read) ||
                    self->watchedChange_ == std::pair(from, *read)) {
                    return;
                }
                self->watchedChange_ = std::pair(from, *read);
                self->log("brightness changed on the monitor (" + std::to_string(from) + "→" +
                              std::to_string(*read) + ") — measuring now",
                          "snapshot");
                self->snapshotNow();
            }));
    }));
}

void AppDelegate::cancelSnapshotWork() {
    if (snapshotWork_) {
        snapshotWork_->cancel();
    }
    ++snapshotGeneration_;
}

// Every snapshot that comes due goes through this one item, so at most one is ever pending.
void AppDelegate::scheduleSnapshot(double delay) {
    cancelSnapshotWork();
    nextSnapshotDue_ = s_.clock.monotonic() + delay;
    snapshotWork_ = s_.main.postAfter(delay, whileAlive(this, [](const auto& self) {
                                          self->takeSnapshot();
                                          self->scheduleNextSnapshot();
                                      }));
    refreshMenu();
}

void AppDelegate::scheduleCloseCheck(double delay) {
    cancelSnapshotWork();
    closeCheckDelay_ = delay;
    // The reading expected: at this check while the user is there, else at the usual time.
    nextSnapshotDue_ = s_.clock.monotonic() + (closeReadingDue() ? delay : usualLeft());
    snapshotWork_ = s_.main.postAfter(
        delay, whileAlive(this, [generation = snapshotGeneration_](const auto& self) {
            self->closeCheck(generation);
        }));
    refreshMenu();
}

void AppDelegate::closeCheck(std::uint64_t generation) {
    s_.session.idleSeconds(
        whileAlive(this, [generation](const auto& self, std::optional<double> idle) {
            // Rescheduled (a snapshot taken by hand, an unlock, a monitor change) meanwhile.
            if (self->snapshotGeneration_ != generation) {
                return;
            }
            bool present = LearningPolicy::isPresent(self->screenLocked_, idle);
            self->presentAtDesk_ = present;
            double monotonic = self->s_.clock.monotonic();
            if (present && self->lastCloseCheckAt_) {
                self->readingBudget_.recordPresence(
                    self->s_.clock.now(), monotonic,
                    std::min(monotonic - *self->lastCloseCheckAt_, self->closeCheckDelay_));
            }
            self->lastCloseCheckAt_ = monotonic;
            const double now = self->s_.clock.now();
            auto step = SnapshotPolicy::closeStep(now, now + self->usualLeft(), present,
                                                  self->withinReadingBudget());
            if (step.readNow) {
                self->takeSnapshot();
                self->scheduleNextSnapshot();
            } else {
                self->scheduleCloseCheck(step.checkAgainIn);
            }
        }));
}

double AppDelegate::nextSnapshotAt() const {
    if (nextSnapshotDue_ == distantFuture) {
        return distantFuture;
    }
    return s_.clock.now() + (nextSnapshotDue_ - s_.clock.monotonic());
}

double AppDelegate::usualLeft() const {
    return std::min(usualDueAt_ - s_.clock.now(), usualDueMonotonic_ - s_.clock.monotonic());
}

bool AppDelegate::withinReadingBudget() {
    return readingBudget_.allowsAnother(s_.clock.now(), s_.clock.monotonic());
}

bool AppDelegate::closeReadingDue() {
    return atDeskAsLastSeen() && withinReadingBudget();
}

bool AppDelegate::followRoomClosely() const {
    return StoredChoices::followRoomClosely(s_.settings);
}

void AppDelegate::setFollowRoomClosely(bool on) {
    if (on == followRoomClosely()) {
        return;
    }
    s_.settings.setForThisMachine(StoredChoices::followRoomCloselyKey, on);
    log(std::string("Follow the room closely: ") + (on ? "on" : "off"), "snapshot");
    // The new cadence counts from now; without a chain running there is nothing to move.
    if (scope_ && nextSnapshotDue_ != distantFuture) {
        scheduleNextSnapshot();
    }
    refreshMenu();
}

void AppDelegate::handleReading(std::optional<double> luma) {
    if (!scope_) {
        return;
    }
    if (!luma) {
        handleFailedReading();
        return;
    }
    cameraFound_ = true;
    cameraBusyTold_ = false;
    setCameraHealth(CameraHealth::ok);
    log(format("Snapshot OK: luma=%.1f", *luma), "snapshot");
    double monotonic = s_.clock.monotonic();
    if (followRoomClosely()) {
        double since = lastReadingMonotonic_
                           ? SnapshotPolicy::secondsSince(lastSampleAt_, *lastReadingMonotonic_,
                                                          s_.clock.now(), monotonic)
                           : std::numeric_limits<double>::infinity();
        smoothedLuma_ = SnapshotPolicy::smoothForgetting(smoothedLuma_, *luma, since);
        trend_.add(*luma, since);
    } else {
        smoothedLuma_ = SnapshotPolicy::smooth(smoothedLuma_, *luma);
        trend_.reset();
    }
    lastReadingMonotonic_ = monotonic;
    menu_.setTitle(MenuItemId::luma, format("Luma: %.0f / 255", smoothedLuma_));
    publishRemoteState();
    if (prefs_) {
        prefs_->setLiveLuma(smoothedLuma_);
    }
    lastSampleAt_ = s_.clock.now();
    menu_.setTitle(MenuItemId::lastSample,
                   "Last snapshot: " + localtime::hoursMinutesSeconds(lastSampleAt_));
    // The cycle writes only once its read is judged, so that a change the user just made
    // with the monitor's buttons pauses adapting instead of being written over.
    recordSample(smoothedLuma_, whileAlive(this, [](const auto& self) { self->maybeApply(); }));
}

void AppDelegate::handleFailedReading() {
    const LightSensor::Trouble trouble = s_.sensor->lastReadingTrouble();
    if (trouble == LightSensor::Trouble::cameraBusy) {
        // A call holds the camera: nothing is wrong with it, and the cadence tries again. The
        // camera never came on, so a day of calls leaves the budget whole.
        readingBudget_.forgetLastReading();
        menu_.setTitle(MenuItemId::lastSample,
                       "Last snapshot: skipped — the camera is in use by another app");
        if (!std::exchange(cameraBusyTold_, true)) {
            log("Camera \"" + s_.sensor->selectedDeviceName() +
                    "\" is in use by another program (a video call?): left alone, the next "
                    "reading tries again",
                "snapshot");
        }
        refreshMenu();
        return;
    }
    cameraBusyTold_ = false;
    if (trouble == LightSensor::Trouble::onlyBlack) {
        // The user's own choice, most likely; the camera itself is fine.
        menu_.setTitle(MenuItemId::lastSample,
                       "Last snapshot: failed — the camera sees only black (its privacy shutter "
                       "closed, or the lens covered?)");
        log("Snapshot FAILED: every frame from \"" + s_.sensor->selectedDeviceName() +
                "\" was black (privacy shutter or covered lens?)",
            "snapshot");
        refreshMenu();
        return;
    }
    menu_.setTitle(MenuItemId::lastSample, "Last snapshot: failed");
    bool authorized = s_.cameraAccess.lastKnownStatus() == CameraAuthorization::authorized;
    probeCamera(whileAlive(this, [authorized](const auto& self, bool found) {
        CameraHealth health = SnapshotPolicy::failedReadingHealth(authorized, found);
        self->log(
            std::string("Snapshot FAILED (nil luma) — camera health: ") + cameraHealthText(health),
            "snapshot");
        self->setCameraHealth(health);
        self->s_.debugState.dump();
    }));
}

void AppDelegate::recordSample(double luma, std::function<void()> judged) {
    if (!scope_) {
        log("recordSample skipped (no scope)", "sample");
        judged();
        return;
    }
    const double askedAt = s_.clock.monotonic();
    if (readsInFlight_ > 0 && askedAt - readsWaitingSince_ > SnapshotPolicy::staleReadSeconds) {
        // Nothing is written either: a write would wait behind the read like this one.
        log("DDC brightness read still under way — sample NOT logged", "sample");
        return;
    }
    int hour = localtime::hourOfDay(s_.clock.now());
    log("recordSample querying DDC brightness…", "sample");
    std::weak_ptr<MonitorScope> kept = scope_;
    // Judged against the brightness we held when the read was queued: whatever is written
    // meanwhile, the read saw the monitor before it.
    std::optional<int> reference = lastAppliedBrightness_;
    readBrightness(whileAlive(this, [kept, luma, hour, reference, askedAt,
                                     judged = std::move(judged)](const auto& self,
                                                                 std::optional<int> brightness) {
        if (!brightness) {
            // Nor is anything written: a monitor that did not answer (asleep, or switched
            // away by a KVM) would miss it, and we would then hold a value it does not show,
            // taking what it shows on waking for the user's own choice.
            if (self->wakeReadRetries_ > 0 && self->currentScope(kept)) {
                --self->wakeReadRetries_;
                self->log(
                    "DDC brightness read returned nil — the monitor may still be waking; "
                    "asking again shortly",
                    "sample");
                self->s_.main.postAfter(
                    SnapshotPolicy::wakeReadRetryDelay,
                    whileAlive(self.get(), [kept, luma, judged](const auto& self) {
                        if (self->currentScope(kept)) {
                            self->recordSample(luma, judged);
                        } else {
                            self->log("Scope changed mid-read — sample NOT logged", "sample");
                        }
                    }));
                return;
            }
            self->log("DDC brightness read returned nil — sample NOT logged", "sample");
            return;
        }
        self->wakeReadRetries_ = 0;
        if (self->s_.clock.monotonic() - askedAt > SnapshotPolicy::staleReadSeconds) {
            // The light measured then and the brightness of now are no pair.
            self->log("DDC brightness read answered late — sample NOT logged", "sample");
            judged();
            return;
        }
        if (!self->currentScope(kept)) {
            self->log("Scope changed mid-read — sample NOT logged", "sample");
            return;
        }
        double readAt = self->s_.clock.now();
        int b = *brightness;
        if (!LearningPolicy::departsFrom(reference, b) || self->screenLocked_) {
            self->finishSample(kept, luma, hour, readAt, b, false);
            judged();
            return;
        }
        // Only a change that departs from what we hold needs to know whether anyone is there.
        self->s_.session.idleSeconds(whileAlive(self.get(), [kept, luma, hour, readAt, b, reference,
                                                             judged](const auto& self,
                                                                     std::optional<double> idle) {
            if (!self->currentScope(kept)) {
                self->log("Scope changed mid-read — sample NOT logged", "sample");
                return;
            }
            bool present = LearningPolicy::isPresent(self->screenLocked_, idle);
            auto judgement = LearningPolicy::judgeReading(reference, b, present,
                                                          self->pendingAnchor_.has_value());
            if (judgement.startPending) {
                double now = self->s_.clock.now();
                double atHour = localtime::fractionalHour(now);
                self->pendingAnchor_ = PendingAnchor{b, luma, atHour, now, self->scope_->monitor()};
                self->pendingSinceMonotonic_ = self->s_.clock.monotonic();
                self->schedulePendingCommit();
                std::string from = reference ? std::to_string(*reference) : "?";
                self->log("external brightness change " + from + "→" + std::to_string(b) +
                              " — pending anchor",
                          "anchor");
            }
            // In adapting mode a change from what we wrote counts as a slider change does: it
            // is the new reference, and adapting holds off for the same pause. (With nothing
            // written yet there is no change to respect: the first write goes ahead.)
            if (judgement.userSet && reference && self->mode_ == Mode::adapting) {
                self->lastAppliedBrightness_ = b;
                self->holdOffUntil(readAt + ApplyPolicy::manualOverridePause);
            }
            self->finishSample(kept, luma, hour, readAt, b, judgement.userSet);
            judged();
        }));
    }));
}

void AppDelegate::finishSample(std::weak_ptr<MonitorScope> kept, double luma, int hour,
                               double readAt, int brightness, bool userSet) {
    auto scope = currentScope(kept);
    if (!scope) {
        return;
    }
    // Counted once it is in the file: a dropped append is no sample. One that lands before
    // the count has run is in the count, and its answer comes while there is none yet.
    scope->logger().log(
        Sample{readAt, luma, brightness, hour, userSet}, s_.main,
        whileAlive(this, [kept, request = countRequest_](const auto& self, bool written,
                                                         const auto& fileProblem) {
            if (!self->currentScope(kept)) {
                return;
            }
            // A full disk or a folder a sudo run left to root: the menu says so, until the
            // file takes a sample again.
            const bool problemChanged =
                (written || fileProblem) && (fileProblem != self->samplesProblem_ ||
                                             self->samplesProblemScope_.lock() != kept.lock());
            if (written || fileProblem) {
                self->samplesProblem_ = fileProblem;
                self->samplesProblemScope_ = kept;
            }
            const bool counted = written && self->countRequest_ == request && self->sampleCount_;
            if (counted) {
                ++*self->sampleCount_;
            }
            if (counted || problemChanged) {
                self->refreshMenu();
            }
        }));
    log(format("Sample logged: luma=%.1f", luma) + " brightness=" + std::to_string(brightness) +
            " userSet=" + (userSet ? "true" : "false"),
        "sample");
    refreshMenu();
    // The append is queued before the window's reload, on the same queue, so it shows.
    if (prefs_) {
        prefs_->refreshSamples();
    }
}

}  // namespace pellora
