#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <vector>

#include "app/PreferencesPresenter.h"
#include "display/Monitor.h"
#include "model/Anchor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;
class QWidget;

namespace pellora {

class BrightnessController;
class Clock;
class CurveEditorView;
class DebugLog;
class LocationSection;
class MonitorRegistry;
class MonitorScope;
class NativeControlsSection;
class Queue;
class RepeatingTimer;
class SettingsStore;
class StatusMenu;
class TimelineView;
struct PlatformTexts;

// The application's one window: the current monitor's name, its last 12 hours, its learnt
// curve for editing, a manual brightness slider, the monitor's own controls and the user's
// location. It keeps no model of its own: every value comes from the monitor's scope, the
// settings and the brightness controller, and every edit goes straight back to them.
//
// Main thread only. The samples log is read on its own queue; nothing here waits on disk or
// on the monitor.
class PreferencesWindowController final
    : public QObject,
      public PreferencesPresenter,
      public std::enable_shared_from_this<PreferencesWindowController> {
    Q_OBJECT
  public:
    static constexpr double refreshInterval = 5.0;
    static constexpr int windowWidth = 560;
    static constexpr int windowHeight = 1120;

    struct Services {
        std::shared_ptr<BrightnessController> controller;
        std::shared_ptr<MonitorRegistry> registry;
        SettingsStore& settings;
        DebugLog& log;
        // The desk's time: samples, the solar line, the hour of the curve.
        const Clock& clock;
        Queue& main;
        // Real time on the main thread, for what a person watches (the 5-second refresh, the
        // map's moves): a demo's --time-scale speeds up the desk, not the person.
        const Clock& realClock;
        Queue& realTime;
        // Off the main thread: the time-zone guess.
        Queue& work;
        const PlatformTexts& texts;
        // The status menu, whose "Start at login" row the window's checkbox shows and sets;
        // none: no such checkbox.
        StatusMenu* menu = nullptr;
    };

    // `menuPanel`, when given, goes above everything: the tray's rows where there is no tray.
    static std::shared_ptr<PreferencesWindowController> create(Services services,
                                                               PreferencesHooks hooks,
                                                               QWidget* menuPanel = nullptr);
    ~PreferencesWindowController() override;

    void loadInitialState() override;
    void refreshSamples() override;
    void refreshCapabilities() override;
    void setLiveLuma(double luma) override;
    void showAppliedBrightness(int brightness) override;
    void present() override;
    // (Re)starts the 5-second refresh; closing the window stops it.
    void startTimer();
    bool timerRunning() const { return refreshTimer_ != nullptr; }

    // The views, for the tests that use the window as a person would.
    QWidget& window() const { return *window_; }
    TimelineView& timeline() const { return *timeline_; }
    CurveEditorView& curveView() const { return *curveView_; }
    QSlider& brightnessSlider() const { return *brightnessSlider_; }
    QLabel& brightnessReadout() const { return *brightnessReadout_; }
    QComboBox& brightnessVCPPopup() const { return *brightnessVCPPopup_; }
    QLineEdit& monitorNameField() const { return *monitorNameField_; }
    QLabel& monitorIdLabel() const { return *monitorIdLabel_; }
    QLabel& noMonitorLabel() const { return *noMonitorLabel_; }
    QPushButton& seedButton() const { return *seedButton_; }
    QPushButton& clearButton() const { return *clearButton_; }
    QLabel& statusLabel() const { return *statusLabel_; }
    // None without a status menu.
    QCheckBox* startAtLoginBox() const { return startAtLogin_; }
    NativeControlsSection& nativeControls() const { return *native_; }
    LocationSection& location() const { return *location_; }
    QCheckBox& followRoomCheckbox() const { return *followRoomCheckbox_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    PreferencesWindowController(Services services, PreferencesHooks hooks);

    void buildUI(QWidget* menuPanel);
    void wire();
    std::shared_ptr<MonitorScope> scope() const;
    // The current scope when the curve editor shows its monitor's anchors; none otherwise.
    std::shared_ptr<MonitorScope> editedScope() const;
    // Where the anchor the editor shows at `index` now is in `scope`'s list of the period
    // shown; none when it has changed since it was shown.
    std::optional<int> editedPosition(MonitorScope& scope, std::int64_t index) const;
    double fractionalHourNow() const;
    void setInteractiveViewsEnabled(bool enabled);
    void showMonitorIdentity(const MonitorScope& scope);
    void loadSamples(const std::shared_ptr<MonitorScope>& current);
    void reloadCurveEditor();
    void clearCurveEditor();
    void showLivePrediction();
    void updateStatus();
    void previewBrightness(double brightness);
    void setSliderQuietly(int value);
    void showStartAtLogin();

    // User actions.
    void brightnessChanged(int value);
    void brightnessVCPChanged(int index);
    void monitorNameChanged();
    void adoptModel();
    void clearCurve();
    void followRoomClicked(bool on);
    void showFollowRoom();

    Services s_;
    PreferencesHooks hooks_;
    std::unique_ptr<QWidget> window_;
    QScrollArea* scroll_ = nullptr;
    TimelineView* timeline_ = nullptr;
    CurveEditorView* curveView_ = nullptr;
    QSlider* brightnessSlider_ = nullptr;
    QLabel* brightnessReadout_ = nullptr;
    QComboBox* brightnessVCPPopup_ = nullptr;
    QLineEdit* monitorNameField_ = nullptr;
    QLabel* monitorIdLabel_ = nullptr;
    QLabel* noMonitorLabel_ = nullptr;
    QPushButton* seedButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QCheckBox* startAtLogin_ = nullptr;
    int menuObserver_ = 0;
    NativeControlsSection* native_ = nullptr;
    LocationSection* location_ = nullptr;
    QCheckBox* followRoomCheckbox_ = nullptr;
    std::unique_ptr<RepeatingTimer> refreshTimer_;
    // The monitors whose name the field and whose anchors the curve editor show: an edit
    // begun for one monitor is never applied to the next.
    std::optional<Monitor> namedMonitor_;
    std::optional<Monitor> curveMonitor_;
    // The hour whose period's anchors the curve editor shows: an edit ending after 7:00 or
    // 22:00 is still of the points it began on.
    double curveHour_ = 0;
    // The anchors as shown: the list may change under the editor (a choice committed, a
    // synced one) before the next reload, and a position alone would then name another.
    std::vector<Anchor> curveAnchors_;
    // The scope whose samples are being read, and whether a refresh came meanwhile.
    std::weak_ptr<MonitorScope> samplesLoading_;
    bool samplesStale_ = false;
};

}  // namespace pellora
