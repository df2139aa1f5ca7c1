// The current monitor: its scope, mode and brightness code, its capabilities, and whether its
// control channel answers.

#include <cstdio>

#include "app/AppDelegate.h"
#include "app/SnapshotPolicy.h"
#include "app/StoredChoices.h"
#include "display/BrightnessController.h"
#include "display/MonitorCapabilities.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "platform/Queue.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora {

void AppDelegate::scopeChanged(const std::optional<Monitor>& monitor) {
    cancelSnapshotWork();
    snapshotWork_.reset();
    nextSnapshotDue_ = distantFuture;
    // Work in flight for the old monitor finds it gone from here on.
    scope_.reset();
    forgetRetraining();
    sampleCount_.reset();
    failedReadsInRow_ = 0;
    monitorEverAnswered_ = false;
    // What was read or written was the old monitor's.
    knownBrightness_.reset();
    std::uint64_t request = ++scopeRequest_;
    if (!monitor) {
        reloadPreferences();
        refreshMenu();
        return;
    }
    refreshMenu();
    MonitorScope::load(
        *monitor, s_.settings, s_.clock, s_.appSupportDir, s_.loggerQueue, &s_.log, s_.main,
        whileAlive(this, [request](const auto& self, std::shared_ptr<MonitorScope> scope) {
            // A later change has asked for another monitor's scope.
            if (self->scopeRequest_ == request) {
                self->scopeReady(std::move(scope));
            }
        }));
}

void AppDelegate::scopeReady(std::shared_ptr<MonitorScope> scope) {
    scope_ = std::move(scope);
    mode_ = loadMode(*scope_);
    s_.brightness->reconnect();
    auto code = StoredChoices::brightnessCode(s_.settings, scope_->keyPrefix());
    if (code.complaint) {
        log(*code.complaint, "app");
    }
    s_.brightness->setBrightnessCode(code.value);
    char line[64];
    std::snprintf(line, sizeof line, "Brightness VCP for this monitor: 0x%02X", code.value);
    log(line, "app");
    lastAppliedBrightness_.reset();
    const auto& caps = scope_->capabilities();
    if (prefs_ && caps && !caps->vcps.empty()) {
        prefs_->refreshCapabilities();
    }
    countSamples();
    // A choice whose check found no monitor (or lost it mid-read) is checked again now, so it
    // lands in its own monitor's curve or goes, instead of waiting with no check to come.
    if (pendingAnchor_ && !pendingCommitWork_) {
        schedulePendingCommit();
    }
    if (cameraGranted_) {
        // At launch the camera's answer may come before the scope does; the first snapshot
        // then keeps its launch delay.
        scheduleSnapshot(scopeRequest_ == 1 ? SnapshotPolicy::firstDelay
                                            : SnapshotPolicy::afterMonitorChangeDelay);
    }
    std::weak_ptr<MonitorScope> kept = scope_;
    s_.main.postAfter(capabilitiesDelay, whileAlive(this, [kept](const auto& self) {
                          if (auto scope = self->currentScope(kept)) {
                              self->loadCapabilitiesIfNeeded(scope);
                          }
                      }));
    reloadPreferences();
    refreshMenu();
}

void AppDelegate::reloadPreferences() {
    if (prefs_) {
        prefs_->loadInitialState();
        prefs_->refreshSamples();
        prefs_->refreshCapabilities();
    }
}

void AppDelegate::capabilitiesChanged() {
    if (prefs_) {
        prefs_->refreshCapabilities();
    }
}

void AppDelegate::countSamples() {
    std::uint64_t request = ++countRequest_;
    sampleCount_.reset();
    // Appends queued before the count are in it; those after it report back after it, since
    // both hand their answers to main in the logger queue's order (see finishSample).
    scope_->logger().countSamples(s_.main,
                                  whileAlive(this, [request](const auto& self, long long counted) {
                                      if (self->countRequest_ == request && self->scope_) {
                                          self->sampleCount_ = counted;
                                          self->refreshMenu();
                                      }
                                  }));
}

void AppDelegate::loadCapabilitiesIfNeeded(const std::shared_ptr<MonitorScope>& scope) {
    const auto& known = scope->capabilities();
    if (known && !known->vcps.empty()) {
        log("Capabilities cached (" + std::to_string(known->vcps.size()) + " VCPs)", "caps");
        capabilitiesChanged();
        return;
    }
    std::string failedKey = scope->keyPrefix() + "capabilitiesFailed";
    if (s_.settings.boolean(failedKey)) {
        log("Capabilities previously failed — skipping read", "caps");
        capabilitiesChanged();
        return;
    }
    log("Reading capabilities…", "caps");
    std::weak_ptr<MonitorScope> kept = scope;
    s_.brightness->readCapabilities(whileAlive(
        this, [kept, failedKey](const auto& self, std::optional<MonitorCapabilities> caps) {
            auto scope = self->currentScope(kept);
            if (!scope) {
                return;
            }
            if (caps && !caps->vcps.empty()) {
                self->log("Capabilities read: " + std::to_string(caps->vcps.size()) +
                              " VCPs model=" + caps->model.value_or("nil"),
                          "caps");
                scope->persistCapabilities(*caps);
            } else {
                self->log("Capabilities read failed or empty — marking unsupported", "caps");
                self->s_.settings.set(failedKey, true);
                scope->setCapabilities(MonitorCapabilities{});
            }
            self->capabilitiesChanged();
        }));
}

void AppDelegate::probeCapabilities() {
    if (!scope_) {
        return;
    }
    s_.settings.remove(scope_->keyPrefix() + "capabilitiesFailed");
    scope_->setCapabilities(std::nullopt);
    capabilitiesChanged();
    loadCapabilitiesIfNeeded(scope_);
}

void AppDelegate::logAllScreens() {
    auto monitors = s_.registry->allExternal();
    if (monitors.empty()) {
        log("No external screens connected.", "screens");
        return;
    }
    log("Connected external screens: " + std::to_string(monitors.size()), "screens");
    const auto& current = s_.registry->current();
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const Monitor& m = monitors[i];
        auto code = StoredChoices::brightnessCode(s_.settings, m.keyPrefix());
        std::string name = s_.registry->friendlyName(m);
        char line[96];
        std::snprintf(line, sizeof line, "  [%zu] ", i);
        char tail[64];
        std::snprintf(tail, sizeof tail, ") — brightness VCP 0x%02X — %s", code.value,
                      current && *current == m ? "managed" : "known");
        log(line + name + " (" + m.identifier() + tail, "screens");
    }
}

void AppDelegate::readBrightness(std::function<void(std::optional<int>)> then) {
    if (readsInFlight_++ == 0) {
        readsWaitingSince_ = s_.clock.monotonic();
    }
    // An answer from the monitor before a change says nothing of the one there now.
    const std::uint64_t request = scopeRequest_;
    s_.brightness->getBrightness(whileAlive(
        this, [then = std::move(then), request](const auto& self, std::optional<int> value) {
            // The next one waiting was asked no earlier than this answer.
            if (--self->readsInFlight_ > 0) {
                self->readsWaitingSince_ = self->s_.clock.monotonic();
            }
            if (self->scopeRequest_ == request) {
                if (value) {
                    self->noteKnownBrightness(*value);
                }
                self->noteBrightnessRead(value.has_value());
            }
            then(value);
        }));
}

void AppDelegate::noteBrightnessRead(bool answered) {
    if (answered) {
        failedReadsInRow_ = 0;
        monitorEverAnswered_ = true;
    } else {
        ++failedReadsInRow_;
    }
    refreshMonitorAccess();
}

void AppDelegate::retryMonitorAccess() {
    log("Retrying the monitor's control channel", "ddc");
    s_.brightness->reconnect();
    readBrightness([](std::optional<int>) {});
}

}  // namespace pellora
