// The status menu: its rows, their refresh, and the small commands.

#include "app/AppDelegate.h"
#include "app/MenuTexts.h"
#include "app/PlatformTexts.h"
#include "app/SnapshotPolicy.h"
#include "app/StartAtLogin.h"
#include "app/StoredChoices.h"
#include "app/UpdateCheck.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/WhileAlive.h"
#include "store/DebugState.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora {

void AppDelegate::bindAction(MenuItemId id, void (AppDelegate::*action)()) {
    menu_.setAction(id, whileAlive(this, [action](const auto& self) { ((*self).*action)(); }));
}

void AppDelegate::setupStatusItem() {
    using Id = MenuItemId;
    menu_.setGlyph(StatusMenu::sunGlyph);
    bindAction(Id::toggleMode, &AppDelegate::toggleMode);
    bindAction(Id::snapshot, &AppDelegate::snapshotNow);
    bindAction(Id::preview, &AppDelegate::previewHUD);
    bindAction(Id::preferences, &AppDelegate::openPreferences);
    menu_.setAction(Id::updates, [&updater = s_.updater] { updater.checkForUpdates(); });
    bindAction(Id::revealSamples, &AppDelegate::revealSamples);
    bindAction(Id::cameraAccess, &AppDelegate::enableCameraAccess);
    bindAction(Id::cameraDiagnostics, &AppDelegate::dumpCameraDiagnostics);
    bindAction(Id::cameraReset, &AppDelegate::resetCameraTCC);
    bindAction(Id::revealDump, &AppDelegate::revealDebugDump);
    bindAction(Id::probe, &AppDelegate::probeCapabilities);
    menu_.setAction(Id::quit, [quit = s_.quit] {
        if (quit) {
            quit();
        }
    });
    bindAction(Id::monitorAccess, &AppDelegate::retryMonitorAccess);
    refreshSettingsFileRow();
    // A pause's row is written at a reading; it counts down, or says the pause is over, as the
    // rows are about to show.
    menu_.setOnWillShow(whileAlive(this, [](const auto& self) {
        if (self->scope_ &&
            self->menu_.row(MenuItemId::brightness).title.rfind("Paused — ", 0) == 0) {
            self->menu_.setTitle(MenuItemId::brightness, self->applyDecision().brightnessRow);
        }
        // The next snapshot's time, on the wall clock as it reads now (it may have been set),
        // and a name given in the window, or on another machine, without waiting for a reading.
        if (self->scope_) {
            self->refreshSamplesRow();
            self->menu_.setTitle(MenuItemId::monitor, self->monitorRow());
        }
        // A write may have failed (a full disk) or gone through again since.
        self->refreshSettingsFileRow();
        // The entry may change behind our back (a settings panel, a hand edit).
        if (self->startAtLogin_) {
            self->startAtLogin_->refresh();
        }
    }));
    if (!s_.loginItem) {
        menu_.setHidden(Id::startAtLogin, true);
        return;
    }
    startAtLogin_ =
        StartAtLogin::create(menu_, *s_.loginItem, s_.alerts, s_.log,
                             {s_.environment.executablePath, s_.environment.fromBuildTree});
    startAtLogin_->refresh();
}

bool AppDelegate::refreshSettingsFileRow() {
    using Id = MenuItemId;
    // The settings first; else the samples log, which may sit in a folder of its own.
    std::optional<std::pair<std::string, std::filesystem::path>> shown;
    if (const auto& problem = s_.settings.fileProblem()) {
        shown.emplace(MenuTexts::settingsFileRow(problem->text, problem->fix), problem->file);
    } else if (samplesProblem_ && scope_ && samplesProblemScope_.lock() == scope_) {
        shown.emplace(MenuTexts::samplesFileRow(*samplesProblem_),
                      scope_->logger().fileURL().parent_path());
    }
    menu_.setTitle(Id::settingsFile, shown ? shown->first : "");
    menu_.setEnabled(Id::settingsFile, shown.has_value());
    menu_.setHidden(Id::settingsFile, !shown);
    if (shown) {
        menu_.setAction(
            Id::settingsFile,
            whileAlive(this, [file = shown->second](const auto& self) { self->reveal(file); }));
    }
    return shown.has_value();
}

void AppDelegate::refreshMenu() {
    using Id = MenuItemId;
    if (!scope_) {
        menu_.setTitle(Id::monitor, "No external monitor — idle");
        menu_.setTitle(Id::luma, "Luma: —");
        menu_.setTitle(Id::brightness, s_.texts.builtInBrightness);
        menu_.setTitle(Id::mode, "Mode: —");
        menu_.setTitle(Id::samples, "Samples: —");
        menu_.setEnabled(Id::toggleMode, false);
        menu_.setTitle(Id::toggleMode, "Start adapting");
        refreshMonitorAccess();
        return;
    }
    menu_.setTitle(Id::monitor, monitorRow());
    // The idle row, left from before this monitor came: a reading that never comes (no camera,
    // access refused) would leave it saying the desktop manages the display.
    if (menu_.row(Id::brightness).title == s_.texts.builtInBrightness) {
        menu_.setTitle(Id::brightness, applyDecision().brightnessRow);
    }
    menu_.setTitle(Id::mode, MenuTexts::modeRow(mode_));
    refreshSamplesRow();
    long long count = sampleCount_.value_or(0);
    auto toggle = MenuTexts::toggleRow(mode_, count);
    menu_.setTitle(Id::toggleMode, toggle.title);
    menu_.setEnabled(Id::toggleMode, toggle.enabled);
    refreshMonitorAccess();
}

std::string AppDelegate::monitorRow() const {
    std::string row = "Monitor: " + s_.registry->friendlyName(scope_->monitor());
    // Only the first external monitor is driven: with more, the row says which one it is.
    const std::size_t externals = s_.registry->allExternal().size();
    if (auto output = s_.registry->outputName(scope_->monitor()); output && externals > 1) {
        row += " (on " + *output + "; " +
               (externals == 2 ? std::string("the other external monitor is left as it is")
                               : "the other " + std::to_string(externals - 1) +
                                     " external monitors are left as they are") +
               ")";
    }
    return row;
}

void AppDelegate::refreshSamplesRow() {
    std::optional<double> next;
    if (nextSnapshotDue_ != distantFuture) {
        next = nextSnapshotAt();
    }
    double interval =
        SnapshotPolicy::interval(s_.clock.now(), StoredChoices::location(s_.settings).value);
    auto cadence = SnapshotPolicy::cadenceLabel(interval, followRoomClosely(), closeReadingDue(),
                                                closeSpacing_);
    menu_.setTitle(MenuItemId::samples,
                   MenuTexts::samplesRow(sampleCount_.value_or(0), next, cadence));
}

// Also sets the glyph a refresh shows, so a warning stays up while any warning row does.
void AppDelegate::refreshMonitorAccess() {
    const bool fileProblem = refreshSettingsFileRow();
    std::optional<std::string> row;
    if (scope_) {
        std::optional<std::string> problem;
        if (failedReadsInRow_ > 0 && s_.monitorChannelProblem) {
            problem = s_.monitorChannelProblem();
        }
        row = MenuTexts::monitorAccessRow(problem, failedReadsInRow_, monitorEverAnswered_);
    }
    menu_.setTitle(MenuItemId::monitorAccess, row.value_or(""));
    menu_.setEnabled(MenuItemId::monitorAccess, row.has_value());
    menu_.setHidden(MenuItemId::monitorAccess, !row);
    menu_.setGlyph(
        MenuTexts::glyph(scope_ != nullptr, cameraHealth_, row.has_value() || fileProblem));
    publishRemoteState();
}

void AppDelegate::openPreferences() {
    if (!prefs_ && s_.makePreferences) {
        PreferencesHooks hooks;
        hooks.scopeProvider = [weak = weak_from_this()]() -> std::shared_ptr<MonitorScope> {
            auto self = weak.lock();
            return self ? self->scope_ : nullptr;
        };
        hooks.onManualOverride = whileAlive(
            this, [](const auto& self, double seconds) { self->setManualOverride(seconds); });
        hooks.onUserBrightness = whileAlive(
            this, [](const auto& self, int brightness) { self->userChoseBrightness(brightness); });
        hooks.onPreviewBrightness = whileAlive(this, [](const auto& self, int brightness) {
            self->windowPreviewedBrightness(brightness);
        });
        hooks.onFollowRoomClosely =
            whileAlive(this, [](const auto& self, bool on) { self->setFollowRoomClosely(on); });
        hooks.closeReadingsLeft = [weak = weak_from_this()] {
            auto self = weak.lock();
            return !self || self->withinReadingBudget();
        };
        prefs_ = s_.makePreferences(std::move(hooks));
    }
    if (!prefs_) {
        return;
    }
    prefs_->setLiveLuma(smoothedLuma_);
    prefs_->present();
}

void AppDelegate::revealSamples() {
    if (scope_) {
        reveal(scope_->logger().fileURL());
    }
}

void AppDelegate::revealDebugDump() {
    reveal(s_.debugState.fileURL());
}

void AppDelegate::reveal(const std::filesystem::path& file) {
    s_.desktop.revealFile(
        file, whileAlive(this, [file](const auto& self, bool opened) {
            if (!opened) {
                self->log("Cannot reveal " + file.string() + ": no file manager answered", "app");
            }
        }));
}

}  // namespace pellora
