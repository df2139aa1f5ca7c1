#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "app/ApplyPolicy.h"
#include "app/CameraHealth.h"
#include "app/LightTrend.h"
#include "app/Mode.h"
#include "app/PendingAnchor.h"
#include "app/PreferencesPresenter.h"
#include "app/ReadingBudget.h"
#include "app/SnapshotPolicy.h"
#include "app/StatusMenu.h"
#include "display/Monitor.h"
#include "platform/CameraAccess.h"
#include "platform/RemoteCommands.h"
#include "platform/RemoteControl.h"
#include "platform/RepeatingTimer.h"
#include "platform/WorkItem.h"

namespace pellora {

class MonitorScope;
class StartAtLogin;

// The application's controller: the state of the adaptive loop and the wiring that runs it.
// Snapshots measure the room, the monitor is read and logged, adapting mode writes what the
// learnt curve predicts, and the user's own changes become anchors of that curve. What to do
// in each case is decided by the policies beside it (SnapshotPolicy, ApplyPolicy,
// LearningPolicy, MenuTexts); this class holds the state and performs their answers.
//
// Main thread only. Every callback it hands out holds it weakly; work tied to one monitor
// also holds that monitor's scope weakly and does nothing once the scope is not current.
class AppDelegate : public std::enable_shared_from_this<AppDelegate>, public RemoteCommands {
  public:
    // Apple's distant past and future, so that dumped times stay plain numbers.
    static constexpr double distantPast = -62135769600.0;
    static constexpr double distantFuture = 64092211200.0;
    static constexpr double retrainInterval = 600.0;
    static constexpr double capabilitiesDelay = 6.0;
    // A wake from suspend and an unlock within this many seconds of it measure the room once.
    static constexpr double wakeSnapshotGap = 10.0;

    static std::shared_ptr<AppDelegate> create(AppServices services);
    ~AppDelegate();

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Start-up: the launch line, the debug dump, the menu, the monitor, the camera, the lock.
    void applicationDidFinishLaunching();

    // Menu actions.
    void toggleMode();
    void previewHUD();
    void snapshotNow();
    void openPreferences();
    void revealSamples();
    void revealDebugDump();
    void probeCapabilities();
    void enableCameraAccess();
    void dumpCameraDiagnostics();
    void openCameraSettings();
    void resetCameraTCC();
    void retryMonitorAccess();

    // The preferences window, once opened; nothing before.
    const std::shared_ptr<PreferencesPresenter>& prefs() const { return prefs_; }

    // The user set the brightness by hand, with the window's slider or from a script:
    // written through the slider's debounce, kept as the monitor's manual brightness, and
    // taken as the user's choice (userDidAdjustBrightness).
    void userChoseBrightness(int brightness);
    // The user chose a brightness in the preferences window.
    void userDidAdjustBrightness(int brightness);
    // The preferences window wrote `brightness` to preview an edit of the curve.
    void windowPreviewedBrightness(int brightness);
    // The preferences window asks adapting mode to hold off for `seconds`.
    void setManualOverride(double seconds);
    // Adapting holds off until `wallTime`; distantPast ends a pause.
    void pauseUntil(double wallTime);
    // As pauseUntil, but a longer pause already on (one a script asked for) stands.
    void holdOffUntil(double wallTime);
    bool paused() const;
    // Whether the monitor answers as far as is known: no problem row is up for it.
    bool monitorAnswering() const;
    // This machine's "Follow the room closely": readings every 10 minutes while the user is
    // at the desk, smoothed by a filter that forgets stale light. Takes effect at once.
    void setFollowRoomClosely(bool on);
    bool followRoomClosely() const;
    // What the debug dump writes.
    nlohmann::json debugState() const;
    // What scripts read; published to the remote control whenever it may have changed.
    RemoteState remoteState() const;
    void publishRemoteState();

    // Scripts' requests (the remote control's), checked by RemotePolicy.
    void remoteSnapshotNow(RemoteReply reply) override;
    void remoteSetBrightness(long long brightness, RemoteReply reply) override;
    void remoteStepBrightness(long long delta, RemoteReply reply) override;
    void remotePause(double seconds, RemoteReply reply) override;
    void remoteSetMode(const std::string& mode, RemoteReply reply) override;
    void remoteOpenPreferences(RemoteReply reply) override;

    StatusMenu& menu() { return menu_; }

    // The state, as tests and the benchmark look at it.
    const std::shared_ptr<MonitorScope>& scope() const { return scope_; }
    Mode mode() const { return mode_; }
    double smoothedLuma() const { return smoothedLuma_; }
    std::optional<int> lastAppliedBrightness() const { return lastAppliedBrightness_; }
    double manualOverrideUntil() const { return manualOverrideUntil_; }
    const std::optional<PendingAnchor>& pendingAnchor() const { return pendingAnchor_; }
    // On the wall clock as it reads now: the timer counts on the clock that never jumps.
    double nextSnapshotAt() const;
    double lastSampleAt() const { return lastSampleAt_; }
    bool cameraGranted() const { return cameraGranted_; }
    bool screenLocked() const { return screenLocked_; }
    CameraHealth cameraHealth() const { return cameraHealth_; }
    // Readable samples in the current monitor's log; nothing while not yet counted.
    std::optional<long long> sampleCount() const { return sampleCount_; }

  private:
    explicit AppDelegate(AppServices services);

    void log(const std::string& message, const char* tag) const;
    // The current scope when `kept` is it, else nothing: work begun for one monitor does
    // nothing once another monitor (or none) is current.
    std::shared_ptr<MonitorScope> currentScope(const std::weak_ptr<MonitorScope>& kept) const;

    // Start-up and timers.
    void startTimers();
    Mode loadMode(const MonitorScope& scope);

    // The snapshot cycle.
    void takeSnapshot();
    void scheduleNextSnapshot();
    void scheduleSnapshot(double delay);
    void cancelSnapshotWork();
    // The close cadence: a check `delay` from now that reads if the user is there or the
    // usual cadence is due, and otherwise looks again.
    void scheduleCloseCheck(double delay);
    void closeCheck(std::uint64_t generation);
    // Following the room closely: a look at the monitor's brightness every minute while the
    // user is there, so a change made with its buttons is measured when it is made.
    void scheduleButtonWatch();
    void watchButtons();
    bool atDeskAsLastSeen() const { return !screenLocked_ && presentAtDesk_.value_or(true); }
    // Whether the close cadence reads at the user's next check: there, and within budget.
    bool closeReadingDue();
    // Seconds until the usual cadence would take the next reading while following closely.
    double usualLeft() const;
    bool withinReadingBudget();
    void handleReading(std::optional<double> luma);
    void handleFailedReading();
    // `judged` runs once the read is judged or came late; not when it failed, nor when the
    // monitor changed meanwhile.
    void recordSample(double luma, std::function<void()> judged);
    void finishSample(std::weak_ptr<MonitorScope> kept, double luma, int hour, double readAt,
                      int brightness, bool userSet);

    // Applying brightness.
    void maybeApply();
    // What adapting would write now, and the brightness row that says so (scope required).
    ApplyPolicy::Decision applyDecision() const;
    // The light written for: the smoothed reading, led while the room keeps moving one way.
    double headingLuma() const;

    // Learning.
    void schedulePendingCommit();
    void commitPendingIfStable();
    void checkPendingAfterRead(std::weak_ptr<MonitorScope> kept, std::optional<int> read);

    // Modes and retraining.
    void retrain();
    void forgetRetraining();

    // Monitor changes.
    void scopeChanged(const std::optional<Monitor>& monitor);
    void scopeReady(std::shared_ptr<MonitorScope> scope);
    void loadCapabilitiesIfNeeded(const std::shared_ptr<MonitorScope>& scope);
    void capabilitiesChanged();
    // The open (or hidden) preferences window follows the new monitor.
    void reloadPreferences();
    void logAllScreens();
    void countSamples();
    // Reads the brightness and keeps track of whether the monitor answers.
    void readBrightness(std::function<void(std::optional<int>)> then);
    void noteKnownBrightness(int brightness);
    void noteBrightnessRead(bool answered);

    // The menu.
    void setupStatusItem();
    // The row runs `action` on this controller while it exists.
    void bindAction(MenuItemId id, void (AppDelegate::*action)());
    void refreshMenu();
    void refreshMonitorAccess();
    void refreshSamplesRow();
    // True when it shows a problem.
    bool refreshSettingsFileRow();
    // The monitor row: its name, and which output it is on when there are several.
    std::string monitorRow() const;
    void reveal(const std::filesystem::path& file);

    // The camera and the screen lock.
    void handleCameraAuthorization();
    void registerScreenLockObservers();
    // After suspend the monitor may have come back at another brightness: measure, as at
    // unlock. `occasion` ("resume" or "unlock") names it in the log.
    void snapshotOnWake(const char* occasion);
    void setCameraHealth(CameraHealth health);
    void grantCamera(bool atLaunch);
    void logCameraDiagnostics(const std::string& reason, std::function<void()> then);
    void recheckCameraAccess(bool fromAlert);
    void probeCamera(std::function<void(bool found)> then);
    static std::string authStatusString(int status);

    AppServices s_;
    StatusMenu& menu_;

    std::shared_ptr<MonitorScope> scope_;
    // Counts scope requests, so that only the latest monitor's scope is adopted.
    std::uint64_t scopeRequest_ = 0;
    Mode mode_ = Mode::learning;
    double smoothedLuma_;
    std::optional<int> lastAppliedBrightness_;
    // The pause's end as shown (wall time) and as kept (on the clock that never jumps): a
    // clock set back does not lengthen it, and neither does a sleep, which only the wall
    // clock sees.
    double manualOverrideUntil_ = distantPast;
    double pauseEndsMonotonic_ = distantPast;
    // Seconds left of the pause, by whichever clock has seen more time pass; 0 or less: none.
    double pauseLeft() const;
    bool cameraGranted_ = false;
    std::optional<PendingAnchor> pendingAnchor_;
    // When the pending anchor was seen, on the clock that never jumps.
    double pendingSinceMonotonic_ = 0;
    WorkItemPtr pendingCommitWork_;
    bool screenLocked_ = false;
    bool lockStateKnown_ = false;
    // When a wake from suspend or an unlock last took a snapshot, on the clock that never
    // jumps and on the wall clock (which sees a sleep), and which of them it was.
    std::optional<double> wakeSnapshotAt_;
    double wakeSnapshotWall_ = 0;
    const char* wakeSnapshotOccasion_ = "";
    // Tries left for the wake's brightness read, should the monitor not answer it yet.
    int wakeReadRetries_ = 0;
    double lastSampleAt_ = distantPast;
    // When the next snapshot comes due, on the clock that never jumps, so a wall clock set
    // since (by NTP after boot, by hand) moves the time shown with it.
    double nextSnapshotDue_ = distantFuture;
    WorkItemPtr snapshotWork_;
    // Counts replacements of the snapshot item, so a check answered late knows it is stale.
    std::uint64_t snapshotGeneration_ = 0;
    // Following the room closely: when the usual cadence would take the next reading, and
    // whether the user was at the desk when last asked.
    // Due once either clock says so: the wall clock sees a sleep, the other a clock set back.
    double usualDueAt_ = distantFuture;
    double usualDueMonotonic_ = distantFuture;
    // The last check of the close cadence and the delay it was posted with (monotonic).
    std::optional<double> lastCloseCheckAt_;
    double closeCheckDelay_ = 0;
    double closeSpacing_ = SnapshotPolicy::closeInterval;
    std::optional<bool> presentAtDesk_;
    WorkItemPtr buttonWatchWork_;
    // The last change the watch measured for (from, to), so a reading that fails is not
    // retried every minute for the same change.
    std::optional<std::pair<int, int>> watchedChange_;
    // Every reading counts against the close cadence's budget, whoever asked for it.
    ReadingBudget readingBudget_;
    // When the last reading was smoothed in, on the clock that never jumps.
    std::optional<double> lastReadingMonotonic_;
    // Following the room closely, the brightness is written a little ahead of the light.
    LightTrend trend_;
    std::unique_ptr<RepeatingTimer> retrainTimer_;
    bool retrainRunning_ = false;
    bool retrainAgain_ = false;
    std::uint64_t retrainRequest_ = 0;
    CameraHealth cameraHealth_ = CameraHealth::ok;
    std::optional<bool> cameraFound_;
    // The camera was busy in another program at the latest readings, and the log said so.
    bool cameraBusyTold_ = false;

    // Readable samples in the current monitor's log; nothing until counted.
    std::optional<long long> sampleCount_;
    std::uint64_t countRequest_ = 0;
    // Why the samples log of that scope would not take its last sample.
    std::optional<std::string> samplesProblem_;
    std::weak_ptr<MonitorScope> samplesProblemScope_;

    // The monitor's brightness as last read or written, and when (on both clocks: a sleep
    // counts); nothing while unknown.
    std::optional<int> knownBrightness_;
    double knownBrightnessAt_ = 0;
    double knownBrightnessWall_ = 0;
    // Scripts' steps waiting for the one read under way, in the order they came.
    std::vector<std::function<void(std::optional<int>)>> stepsAwaitingRead_;
    // Publishes the end of a pause, which comes with no other change.
    WorkItemPtr pauseEndWork_;
    double pauseEndAt_ = distantPast;

    int failedReadsInRow_ = 0;
    // Brightness reads asked and not yet answered, and since when (monotonic) the oldest has
    // waited: behind a hung bus each cycle's read would wait too, and answer hours late.
    int readsInFlight_ = 0;
    double readsWaitingSince_ = 0;
    bool monitorEverAnswered_ = false;
    std::string lastLocationComplaint_;
    std::shared_ptr<PreferencesPresenter> prefs_;
    std::shared_ptr<StartAtLogin> startAtLogin_;
};

}  // namespace pellora
