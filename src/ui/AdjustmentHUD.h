#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include "app/BrightnessIndicator.h"
#include "platform/WorkItem.h"

namespace pellora {

class Clock;
class OnScreenDisplay;
class Queue;

// The small translucent panel at the top centre of the screen that says what brightness
// was just set: a sun, "↑ Brightness 62%" and a bar. It fades in, stays 1.6 s after the
// last show and fades out; it never takes focus and lets clicks through. Fades run as
// ticks on the main queue. On Wayland, where a window cannot place itself, the desktop's
// own on-screen display is asked first, when one is given. Main thread only.
class AdjustmentHUD final : public QWidget, public BrightnessIndicator {
    Q_OBJECT
  public:
    enum class Phase { Hidden, FadingIn, Shown, FadingOut };

    static constexpr int kWidth = 220;
    static constexpr int kHeight = 74;
    static constexpr int kTopGap = 14;
    static constexpr double kFadeInSeconds = 0.28;
    static constexpr double kHoldSeconds = 1.6;
    static constexpr double kFadeOutSeconds = 0.45;
    static constexpr double kTickSeconds = 1.0 / 60;

    // `desktopOsd` is used only when `wayland` (tests say which they are).
    AdjustmentHUD(Queue& main, const Clock& clock, OnScreenDisplay* desktopOsd = nullptr,
                  bool wayland = runningOnWayland(), QWidget* parent = nullptr);
    ~AdjustmentHUD() override;

    void show(int brightness, int delta) override;

    // "Brightness 55%", "↑ Brightness 62%", "↓ Brightness 100%": the value as given.
    static QString text(int brightness, int delta);
    // The bar's full width scaled by the value clamped to 0…100.
    static double fillWidth(int brightness);
    static bool runningOnWayland();

    QString text() const { return text_; }
    // Where the fill is going, and where it is now in its animation.
    double fillWidth() const { return fillTo_; }
    double shownFillWidth() const { return fillNow_; }
    double opacity() const { return opacityNow_; }
    Phase phase() const { return phase_; }
    // True once the desktop's display has failed: this window is used from then on.
    bool desktopOsdGivenUp() const { return osdFailed_; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void showOwnWindow(int brightness, int delta);
    void placeOnScreen();
    void cutCorners();
    void dismiss();
    void startFade(Phase phase, double seconds);
    void tick();
    void scheduleTick();

    Queue& main_;
    const Clock& clock_;
    OnScreenDisplay* desktopOsd_;
    const bool wayland_;
    const bool x11_;
    bool osdFailed_ = false;
    int lastBrightness_ = 0;
    int lastDelta_ = 0;

    QString text_ = QStringLiteral("Brightness");
    QFont glyphFont_;
    QFont labelFont_;

    Phase phase_ = Phase::Hidden;
    double fadeStart_ = 0;
    double fadeSeconds_ = 0;
    double opacityFrom_ = 0;
    double opacityNow_ = 0;
    double fillFrom_ = 0;
    double fillNow_ = 0;
    double fillTo_ = 0;
    WorkItemPtr dismissWork_;
    WorkItemPtr tickWork_;
};

}  // namespace pellora
