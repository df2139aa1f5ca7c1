// Camera permission and health, and pausing while the screen is locked.
//
// On Linux camera access is file access to the V4L2 node: there is no prompt and no
// permission database, so "settings" and "reset" explain the fix (the video group or a
// uaccess rule) and look again.

#include <chrono>
#include <cstdio>
#include <string_view>

#include "app/AlertPresenter.h"
#include "app/AppDelegate.h"
#include "app/MenuTexts.h"
#include "app/PlatformTexts.h"
#include "app/SnapshotPolicy.h"
#include "platform/Camera.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/SessionState.h"
#include "platform/WhileAlive.h"
#include "sensor/LightSensor.h"
#include "store/DebugState.h"

namespace pellora {

namespace {

constexpr const char* kTag = "camera";

std::string sandboxWarning(const std::string& sandbox) {
    if (sandbox == "flatpak") {
        return "WARNING: running inside a Flatpak sandbox: the camera and /dev/i2c-* stay hidden "
               "unless it is given --device=all (flatpak override --device=all "
               "org.pellora.Pellora).";
    }
    if (sandbox == "snap") {
        return "WARNING: running as a snap: connect its camera and i2c interfaces (snap "
               "connections pellora) or the camera and /dev/i2c-* stay hidden.";
    }
    return "";
}

}  // namespace

std::string AppDelegate::authStatusString(int status) {
    switch (status) {
        case 0:
            return "notDetermined";
        case 2:
            return "denied";
        case 3:
            return "authorized";
        default:
            return "unknown(" + std::to_string(status) + ")";
    }
}

void AppDelegate::handleCameraAuthorization() {
    log(s_.texts.locationLabel + s_.environment.executablePath, kTag);
    if (auto warning = sandboxWarning(s_.environment.sandbox); !warning.empty()) {
        log(warning, kTag);
    }
    s_.cameraAccess.checkAuthorization(whileAlive(this, [](const auto& self,
                                                           CameraAuthorization status) {
        std::string text = authStatusString(static_cast<int>(status));
        self->log("Initial camera authorization status: " + text, kTag);
        // So the debug dump can say whether a camera is there before the first reading.
        self->probeCamera([](bool) {});
        if (status == CameraAuthorization::authorized) {
            self->grantCamera(true);
        } else if (status == CameraAuthorization::notDetermined) {
            self->log("Camera not yet authorized — awaiting user to click 'Enable camera access…'",
                      kTag);
            self->setCameraHealth(CameraHealth::needsPermission);
        } else {
            self->log("Camera " + text + ". " + self->s_.cameraAccess.repairHint() +
                          " Then use the menu's '" + self->s_.texts.cameraResetTitle +
                          "' and 'Enable camera access…'.",
                      kTag);
            self->setCameraHealth(CameraHealth::permissionDenied);
        }
    }));
}

void AppDelegate::grantCamera(bool atLaunch) {
    cameraGranted_ = true;
    setCameraHealth(CameraHealth::ok);
    startTimers();
    if (!atLaunch) {
        takeSnapshot();
        scheduleNextSnapshot();
    }
}

void AppDelegate::setCameraHealth(CameraHealth health) {
    cameraHealth_ = health;
    auto row = MenuTexts::cameraRow(health, s_.sensor->selectedDeviceName(), s_.texts);
    if (!row.title) {
        menu_.setHidden(MenuItemId::camera, true);
        menu_.setAction(MenuItemId::camera, {});
        refreshMenu();
        return;
    }
    menu_.setTitle(MenuItemId::camera, *row.title);
    bindAction(MenuItemId::camera, row.action == MenuTexts::CameraAction::enableAccess
                                       ? &AppDelegate::enableCameraAccess
                                       : &AppDelegate::snapshotNow);
    menu_.setEnabled(MenuItemId::camera, true);
    menu_.setHidden(MenuItemId::camera, false);
    if (row.glyph) {
        menu_.setGlyph(*row.glyph);
    }
    publishRemoteState();
}

void AppDelegate::enableCameraAccess() {
    // The diagnostics look again first, so the status read here is the one just found.
    logCameraDiagnostics(
        "user clicked Enable camera access", whileAlive(this, [](const auto& self) {
            auto status = self->s_.cameraAccess.lastKnownStatus().value_or(
                CameraAuthorization::notDetermined);
            if (status == CameraAuthorization::authorized) {
                self->grantCamera(false);
                return;
            }
            self->log("status=" + authStatusString(static_cast<int>(status)) +
                          "; cannot re-prompt: Linux has no camera prompt. " +
                          self->s_.cameraAccess.repairHint() + " Then log out and back in.",
                      kTag);
            self->openCameraSettings();
        }));
}

// There is no settings pane for camera access on Linux: the alert names the fix.
void AppDelegate::openCameraSettings() {
    s_.alerts.present("Camera access denied", s_.cameraAccess.repairHint(),
                      {"Check again", "Later"}, whileAlive(this, [](const auto& self, int button) {
                          if (button == 0) {
                              self->recheckCameraAccess(true);
                          }
                      }));
}

void AppDelegate::resetCameraTCC() {
    log("Re-checking camera access (Linux keeps no camera permission to reset)", kTag);
    recheckCameraAccess(false);
}

void AppDelegate::recheckCameraAccess(bool fromAlert) {
    s_.cameraAccess.checkAuthorization(
        whileAlive(this, [fromAlert](const auto& self, CameraAuthorization status) {
            std::string text = authStatusString(static_cast<int>(status));
            self->log("Camera access re-checked: " + text, kTag);
            bool authorized = status == CameraAuthorization::authorized;
            if (authorized && !self->cameraGranted_) {
                self->grantCamera(false);
            } else if (!authorized) {
                self->cameraGranted_ = false;
                self->setCameraHealth(CameraHealth::permissionDenied);
            }
            if (!fromAlert || !authorized) {
                self->s_.alerts.present("Camera permission re-checked",
                                        authorized
                                            ? "Pellora can open the camera."
                                            : self->s_.cameraAccess.repairHint() +
                                                  " Group changes take effect at your next login.",
                                        {"OK"}, [](int) {});
            }
        }));
}

void AppDelegate::dumpCameraDiagnostics() {
    logCameraDiagnostics("manual menu", [] {});
}

void AppDelegate::probeCamera(std::function<void(bool found)> then) {
    Queue& main = s_.main;
    s_.probeQueue.post(
        [weak = weak_from_this(), &main, camera = s_.camera, then = std::move(then)]() mutable {
            bool found = LightSensor::discoverDevice(*camera).has_value();
            main.post(whileAlive(weak, [found, then = std::move(then)](const auto& self) {
                self->cameraFound_ = found;
                then(found);
            }));
        });
}

void AppDelegate::logCameraDiagnostics(const std::string& reason, std::function<void()> then) {
    const char* tag = "camdiag";
    log("──── camera diagnostics (" + reason + ") ────", tag);
    log("appID=" + (s_.environment.appId.empty() ? "?" : s_.environment.appId) +
            "  path=" + s_.environment.executablePath,
        tag);
    log("sandbox=" + s_.environment.sandbox, tag);
    log("groups=" + s_.environment.groups, tag);
    // The look opens the video nodes, so it and the device lists run off the main thread.
    s_.cameraAccess.checkAuthorization(whileAlive(
        this, [then = std::move(then), tag](const auto& self, CameraAuthorization status) mutable {
            int raw = static_cast<int>(status);
            self->log("authorizationStatus raw=" + std::to_string(raw) + " (" +
                          authStatusString(raw) + ")",
                      tag);
            Queue& main = self->s_.main;
            self->s_.probeQueue.post([weak = self->weak_from_this(), &main,
                                      camera = self->s_.camera, status, then = std::move(then),
                                      tag]() mutable {
                auto fallback = camera->defaultDevice();
                auto discovered = LightSensor::discoverDevice(*camera);
                main.post(whileAlive(weak, [fallback, discovered, status, then = std::move(then),
                                            tag](const auto& self) {
                    self->cameraFound_ = discovered.has_value();
                    self->log("defaultCamera=" + (fallback ? fallback->localizedName : "nil") +
                                  "  id=" + (fallback ? fallback->uniqueID : "-"),
                              tag);
                    self->log("discoverDevice=" + (discovered ? discovered->localizedName : "nil"),
                              tag);
                    if (fallback) {
                        if (status == CameraAuthorization::authorized) {
                            self->log("open(" + fallback->localizedName + "): OK", tag);
                        } else {
                            self->log("open(" + fallback->localizedName +
                                          ") ERROR: " + self->s_.cameraAccess.repairHint(),
                                      tag);
                        }
                    }
                    self->s_.debugState.dump();
                    then();
                }));
            });
        }));
}

void AppDelegate::registerScreenLockObservers() {
    s_.session.setLockHandler(whileAlive(this, [](const auto& self, bool locked) {
        if (!self->lockStateKnown_) {
            self->lockStateKnown_ = true;
            self->screenLocked_ = locked;
            self->log(
                std::string("Initial screen lock state: locked=") + (locked ? "true" : "false"),
                "snapshot");
            return;
        }
        if (locked && !self->screenLocked_) {
            self->screenLocked_ = true;
            self->log("Screen locked — pausing camera sampling", "snapshot");
        } else if (!locked && self->screenLocked_) {
            self->screenLocked_ = false;
            self->presentAtDesk_ = true;  // someone just unlocked it
            self->log("Screen unlocked — resuming camera sampling", "snapshot");
            if (self->cameraGranted_) {
                self->snapshotOnWake("unlock");
            }
        }
    }));
    s_.session.setResumeHandler(whileAlive(this, [](const auto& self) {
        if (!self->cameraGranted_) {
            self->log("Resumed from suspend (camera not granted: no snapshot)", "snapshot");
        } else if (self->screenLocked_) {
            self->log("Resumed from suspend with the screen locked — the snapshot waits for unlock",
                      "snapshot");
        } else {
            self->log("Resumed from suspend — taking a snapshot", "snapshot");
            self->snapshotOnWake("resume");
        }
    }));
}

void AppDelegate::snapshotOnWake(const char* occasion) {
    const double now = s_.clock.monotonic();
    const double wall = s_.clock.now();
    // Unlocks alone each measure, as they always have; a wake and its unlock measure once.
    const bool afterWake = std::string_view(occasion) == "resume" ||
                           std::string_view(wakeSnapshotOccasion_) == "resume";
    const double since = wakeSnapshotAt_ ? SnapshotPolicy::secondsSince(wakeSnapshotWall_,
                                                                        *wakeSnapshotAt_, wall, now)
                                         : 0;
    if (wakeSnapshotAt_ && afterWake && since < wakeSnapshotGap) {
        char ago[32];
        std::snprintf(ago, sizeof ago, "%.0f", since);
        log(std::string("No second snapshot at ") + occasion + ": one was taken " + ago +
                " s ago, at " + wakeSnapshotOccasion_,
            "snapshot");
        return;
    }
    wakeSnapshotAt_ = now;
    wakeSnapshotWall_ = wall;
    wakeSnapshotOccasion_ = occasion;
    wakeReadRetries_ = SnapshotPolicy::wakeReadRetries;
    takeSnapshot();
    scheduleNextSnapshot();
}

}  // namespace pellora
