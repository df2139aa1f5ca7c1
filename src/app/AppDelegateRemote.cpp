// What scripts see of the controller and ask of it, over the remote control (D-Bus on Linux).

#include "app/AppDelegate.h"
#include "app/RemotePolicy.h"
#include "app/SnapshotPolicy.h"
#include "display/BrightnessController.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/WhileAlive.h"
#include "store/SettingsStore.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace pellora {

namespace {

// The request as the log shows it.
std::string requestLine(const std::string& request, const RemoteOutcome& outcome) {
    return "Script asked " + request + (outcome ? " — refused: " + outcome->message : "");
}

}  // namespace

RemoteState AppDelegate::remoteState() const {
    RemoteState state;
    const double now = s_.clock.now();
    if (scope_) {
        state.monitorName = s_.registry->friendlyName(scope_->monitor());
        state.monitorId = scope_->monitor().identifier();
        state.mode = modeText(mode_);
        state.samples = sampleCount_.value_or(0);
    }
    state.luma = smoothedLuma_;
    state.brightness = knownBrightness_.value_or(-1);
    state.nextSnapshot = nextSnapshotDue_ == distantFuture ? -1 : nextSnapshotAt();
    state.cameraHealth = cameraHealthText(cameraHealth_);
    const MenuRow& access = menu_.row(MenuItemId::monitorAccess);
    state.monitorAccess = access.hidden ? "" : access.title;
    // The end as set, unless the clock has been set since: then where the pause now ends.
    const double left = pauseLeft();
    const bool asSet = std::fabs(manualOverrideUntil_ - (now + left)) < 1;
    state.pausedUntil = left > 0 ? (asSet ? manualOverrideUntil_ : now + left) : -1;
    return state;
}

void AppDelegate::publishRemoteState() {
    if (!s_.remote) {
        return;
    }
    RemoteState state = remoteState();
    // A pause ends with nothing else happening: its end is published when it comes.
    if (state.pausedUntil != pauseEndAt_) {
        pauseEndAt_ = state.pausedUntil;
        if (pauseEndWork_) {
            pauseEndWork_->cancel();
            pauseEndWork_.reset();
        }
        if (state.pausedUntil > 0) {
            pauseEndWork_ = s_.main.postAfter(state.pausedUntil - s_.clock.now(),
                                              whileAlive(this, [](const auto& self) {
                                                  // A timer a little early finds the pause still on
                                                  // and waits again.
                                                  self->pauseEndAt_ = distantPast;
                                                  self->publishRemoteState();
                                              }));
        }
    }
    s_.remote->publish(state);
}

void AppDelegate::noteKnownBrightness(int brightness) {
    knownBrightness_ = brightness;
    knownBrightnessAt_ = s_.clock.monotonic();
    knownBrightnessWall_ = s_.clock.now();
}

void AppDelegate::windowPreviewedBrightness(int brightness) {
    if (!scope_) {
        return;
    }
    // Held as written, like a value applied: the edit is the user's choice, and one reading
    // of it at the room's light now would make a second, unasked-for anchor.
    lastAppliedBrightness_ = brightness;
    noteKnownBrightness(brightness);
}

void AppDelegate::userChoseBrightness(int brightness) {
    if (!scope_) {
        return;
    }
    s_.brightness->setBrightnessThrottled(brightness);
    s_.settings.set(scope_->keyPrefix() + "manualBrightness", brightness);
    noteKnownBrightness(brightness);
    userDidAdjustBrightness(brightness);
}

void AppDelegate::remoteSnapshotNow(RemoteReply reply) {
    RemoteOutcome refused;
    if (!scope_) {
        refused = RemotePolicy::noMonitor();
    } else {
        refused = RemotePolicy::snapshot(cameraGranted_, screenLocked_);
    }
    log(requestLine("SnapshotNow", refused), "app");
    if (!refused) {
        snapshotNow();
    }
    reply(refused);
}

bool AppDelegate::monitorAnswering() const {
    return menu_.row(MenuItemId::monitorAccess).hidden;
}

void AppDelegate::remoteSetBrightness(long long brightness, RemoteReply reply) {
    RemoteOutcome refused = RemotePolicy::brightness(brightness);
    if (!refused && !scope_) {
        refused = RemotePolicy::noMonitor();
    }
    const std::string request = "SetBrightness " + std::to_string(brightness);
    if (refused) {
        log(requestLine(request, refused), "app");
        reply(refused);
        return;
    }
    auto set = whileAlive(this, [brightness, request, reply](const auto& self, bool answers) {
        RemoteOutcome refused;
        if (!self->scope_) {
            refused = RemotePolicy::noMonitor();
        } else if (!answers) {
            refused = RemotePolicy::notAnswering();
        }
        self->log(requestLine(request, refused), "app");
        if (!refused) {
            self->userChoseBrightness(static_cast<int>(brightness));
            self->publishRemoteState();
        }
        reply(refused);
    });
    if (monitorAnswering()) {
        set(true);
        return;
    }
    // Writes are never answered: while the monitor row says it does not answer, a set would
    // go nowhere and still read as done. Ask it first; it may have come back.
    const double askedAt = s_.clock.monotonic();
    readBrightness(whileAlive(this, [set, askedAt](const auto& self, std::optional<int> value) {
        set(value.has_value() &&
            self->s_.clock.monotonic() - askedAt <= RemotePolicy::answerWithinSeconds);
    }));
}

void AppDelegate::remoteStepBrightness(long long delta, RemoteReply reply) {
    RemoteOutcome refused = RemotePolicy::step(delta);
    if (!refused && !scope_) {
        refused = RemotePolicy::noMonitor();
    }
    const std::string request = "StepBrightness " + std::to_string(delta);
    if (refused) {
        log(requestLine(request, refused), "app");
        reply(refused);
        return;
    }
    const double askedAt = s_.clock.monotonic();
    auto step = whileAlive(
        this, [delta, request, reply, askedAt](const auto& self, std::optional<int> from) {
            RemoteOutcome refused;
            if (!self->scope_) {
                refused = RemotePolicy::noMonitor();
            } else if (!from) {
                refused = RemotePolicy::notAnswering();
            } else if (self->s_.clock.monotonic() - askedAt > RemotePolicy::answerWithinSeconds) {
                refused = RemotePolicy::tooLate();
            }
            self->log(requestLine(request, refused), "app");
            if (!refused) {
                self->userChoseBrightness(RemotePolicy::stepped(*from, delta));
                self->publishRemoteState();
            }
            reply(refused);
        });
    // A burst of steps goes from the value the last one set, which the monitor may not have
    // been written yet; a step after a while from what the monitor says now (its own buttons
    // may have moved it), or, should it not answer, from what was known.
    if (knownBrightness_ && monitorAnswering() &&
        SnapshotPolicy::secondsSince(knownBrightnessWall_, knownBrightnessAt_, s_.clock.now(),
                                     s_.clock.monotonic()) < RemotePolicy::stepFromKnownSeconds) {
        step(knownBrightness_);
        return;
    }
    // Behind a bus that hangs the read would answer long after the script gave up, and every
    // step asked meanwhile would then land at once.
    if (readsInFlight_ > 0 && askedAt - readsWaitingSince_ > SnapshotPolicy::staleReadSeconds) {
        step(std::nullopt);
        return;
    }
    // Steps that come while it is read go, in turn, from what the one before made of it.
    stepsAwaitingRead_.push_back(step);
    if (stepsAwaitingRead_.size() > 1) {
        return;
    }
    readBrightness(whileAlive(
        this, [known = knownBrightness_, askedAt](const auto& self, std::optional<int> value) {
            auto waiting = std::exchange(self->stepsAwaitingRead_, {});
            if (self->s_.clock.monotonic() - askedAt > SnapshotPolicy::staleReadSeconds) {
                for (const auto& waitingStep : waiting) {
                    waitingStep(std::nullopt);
                }
                return;
            }
            std::optional<int> from = value ? value : known;
            for (const auto& waitingStep : waiting) {
                waitingStep(from);
                from = self->knownBrightness_;
            }
        }));
}

void AppDelegate::remotePause(double seconds, RemoteReply reply) {
    RemoteOutcome refused = RemotePolicy::pause(seconds);
    char shown[64];
    std::snprintf(shown, sizeof shown, "Pause %g s", seconds);
    log(requestLine(shown, refused), "app");
    if (!refused) {
        // Exactly as asked: a shorter pause than the one on is a wish too.
        pauseUntil(seconds == 0 ? distantPast : s_.clock.now() + seconds);
        publishRemoteState();
    }
    reply(refused);
}

void AppDelegate::remoteSetMode(const std::string& mode, RemoteReply reply) {
    RemotePolicy::ModeChange change;
    if (!scope_) {
        change.refusal = RemotePolicy::noMonitor();
    } else {
        change = RemotePolicy::mode(mode, mode_, sampleCount_);
    }
    log(requestLine("SetMode " + (modeFromText(mode) ? mode : std::string("(unknown)")),
                    change.refusal),
        "app");
    if (change.to) {
        toggleMode();
    }
    reply(change.refusal);
}

void AppDelegate::remoteOpenPreferences(RemoteReply reply) {
    RemoteOutcome refused;
    if (!s_.makePreferences) {
        refused = RemotePolicy::noWindow();
    }
    log(requestLine("OpenPreferences", refused), "app");
    openPreferences();
    reply(refused);
}

}  // namespace pellora
