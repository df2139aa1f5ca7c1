#include "ui/AdjustmentHUD.h"

#include <QCursor>
#include <QEasingCurve>
#include <QEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <algorithm>

#include "platform/Clock.h"
#include "platform/OnScreenDisplay.h"
#include "platform/Queue.h"
#include "ui/ChartStyle.h"

namespace pellora {

namespace {

// The panel's insides, left to right: 16 margin, the glyph's 20, 12 gap, then label and bar
// out to 16 from the right edge. With the glyph box fixed at 20 the bar's track is exactly
// the 64-less width the fill is computed from.
constexpr double kMargin = 16;
constexpr double kGlyphWidth = 20;
constexpr double kGlyphGap = 12;
constexpr double kLabelTop = 14;
constexpr double kBarGap = 10;
constexpr double kBarHeight = 6;
constexpr double kRadius = 16;

}  // namespace

AdjustmentHUD::AdjustmentHUD(Queue& main, const Clock& clock, OnScreenDisplay* desktopOsd,
                             bool wayland, QWidget* parent)
    : QWidget(parent),
      main_(main),
      clock_(clock),
      desktopOsd_(desktopOsd),
      wayland_(wayland),
      x11_(QGuiApplication::platformName() == QLatin1String("xcb")) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput;
    // Override-redirect: on every workspace, in no taskbar or window switcher, never
    // focused, and exactly where it is put.
    if (x11_) {
        flags |= Qt::X11BypassWindowManagerHint;
    }
    setWindowFlags(flags);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(kWidth, kHeight);
    setWindowTitle(QStringLiteral("Pellora"));
    if (x11_) {
        // Without a compositor an X window has no see-through pixels: the shape cuts the
        // corners off there too, and the server's own window opacity fades it where a
        // compositor runs, instead of painting it darker on black.
        cutCorners();
        setWindowOpacity(0);
    }

    glyphFont_ = font();
    glyphFont_.setPixelSize(22);
    glyphFont_.setWeight(QFont::Normal);
    labelFont_ = font();
    labelFont_.setPixelSize(13);
    labelFont_.setWeight(QFont::Medium);
}

AdjustmentHUD::~AdjustmentHUD() {
    for (const auto& work : {dismissWork_, tickWork_}) {
        if (work) {
            work->cancel();
        }
    }
}

bool AdjustmentHUD::runningOnWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QString AdjustmentHUD::text(int brightness, int delta) {
    const QString value = QStringLiteral("Brightness %1%").arg(brightness);
    if (delta > 0) {
        return QStringLiteral("\u2191 ") + value;
    }
    if (delta < 0) {
        return QStringLiteral("\u2193 ") + value;
    }
    return value;
}

double AdjustmentHUD::fillWidth(int brightness) {
    return std::max(kWidth - 64, 0) * std::clamp(brightness, 0, 100) / 100.0;
}

void AdjustmentHUD::show(int brightness, int delta) {
    lastBrightness_ = brightness;
    lastDelta_ = delta;
    if (!wayland_ || desktopOsd_ == nullptr || osdFailed_) {
        showOwnWindow(brightness, delta);
        return;
    }
    desktopOsd_->showBrightness(std::clamp(brightness, 0, 100),
                                [weak = QPointer<AdjustmentHUD>(this)](bool shown) {
                                    if (weak.isNull() || shown || weak->osdFailed_) {
                                        return;
                                    }
                                    // The latest value, not the one this request carried: later
                                    // shows may be waiting on answers of their own, which will now
                                    // find the OSD given up.
                                    weak->osdFailed_ = true;
                                    weak->showOwnWindow(weak->lastBrightness_, weak->lastDelta_);
                                });
}

void AdjustmentHUD::showOwnWindow(int brightness, int delta) {
    text_ = text(brightness, delta);
    placeOnScreen();
    fillFrom_ = fillNow_;
    fillTo_ = fillWidth(brightness);
    if (!isVisible()) {
        opacityNow_ = 0;
        QWidget::show();
    }
    if (x11_) {
        // Override-redirect windows are stacked by no one but us.
        raise();
    }
    // From wherever a running fade has got to, so a show during the fade-out ends visible.
    startFade(Phase::FadingIn, kFadeInSeconds);

    if (dismissWork_) {
        dismissWork_->cancel();
    }
    dismissWork_ = main_.postAfter(kHoldSeconds, [weak = QPointer<AdjustmentHUD>(this)] {
        if (!weak.isNull()) {
            weak->dismiss();
        }
    });
}

void AdjustmentHUD::placeOnScreen() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect frame = screen->geometry();
    const QRect available = screen->availableGeometry();
    move(frame.x() + (frame.width() - kWidth) / 2, available.y() + kTopGap);
}

void AdjustmentHUD::cutCorners() {
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    setMask(QRegion(panel.toFillPolygon().toPolygon()));
}

bool AdjustmentHUD::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal && x11_) {
        // Qt turns the shape into device pixels once: on a screen of another scale (a laptop
        // beside a monitor scaled differently) the old shape would cut the panel off.
        clearMask();
        cutCorners();
    }
    return QWidget::event(event);
}

void AdjustmentHUD::dismiss() {
    dismissWork_.reset();
    startFade(Phase::FadingOut, kFadeOutSeconds);
}

void AdjustmentHUD::startFade(Phase phase, double seconds) {
    phase_ = phase;
    fadeStart_ = clock_.monotonic();
    fadeSeconds_ = seconds;
    opacityFrom_ = opacityNow_;
    tick();
}

void AdjustmentHUD::tick() {
    tickWork_.reset();
    const double elapsed = clock_.monotonic() - fadeStart_;
    // The last tick lands on the fade's end; rounding must not leave it a hair short.
    const double progress = fadeSeconds_ > 0 && elapsed < fadeSeconds_ - 1e-9
                                ? std::max(elapsed / fadeSeconds_, 0.0)
                                : 1;
    if (phase_ == Phase::FadingIn) {
        const double eased = QEasingCurve(QEasingCurve::OutQuad).valueForProgress(progress);
        opacityNow_ = opacityFrom_ + (1 - opacityFrom_) * eased;
        fillNow_ = fillFrom_ + (fillTo_ - fillFrom_) * eased;
        if (progress >= 1) {
            phase_ = Phase::Shown;
        }
    } else if (phase_ == Phase::FadingOut) {
        const double eased = QEasingCurve(QEasingCurve::InQuad).valueForProgress(progress);
        opacityNow_ = opacityFrom_ * (1 - eased);
        if (progress >= 1) {
            phase_ = Phase::Hidden;
            opacityNow_ = 0;
            hide();
        }
    }
    if (x11_) {
        setWindowOpacity(opacityNow_);
    }
    update();
    if (phase_ == Phase::FadingIn || phase_ == Phase::FadingOut) {
        scheduleTick();
    }
}

void AdjustmentHUD::scheduleTick() {
    const double left = fadeStart_ + fadeSeconds_ - clock_.monotonic();
    tickWork_ = main_.postAfter(std::clamp(left, 0.0, kTickSeconds),
                                [weak = QPointer<AdjustmentHUD>(this)] {
                                    if (!weak.isNull()) {
                                        weak->tick();
                                    }
                                });
}

void AdjustmentHUD::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(x11_ ? 1.0 : opacityNow_);
    const QPalette& colours = palette();
    const QColor ink = colours.color(QPalette::WindowText);

    // Qt has no blurred material to put behind it: a nearly opaque panel reads on anything.
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    painter.fillPath(panel, ChartStyle::withAlpha(colours.color(QPalette::Window), 0.85));
    painter.setPen(QPen(ChartStyle::withAlpha(ink, 0.12), 1));
    painter.drawPath(panel);

    painter.setPen(ink);
    painter.setFont(glyphFont_);
    painter.drawText(QRectF(kMargin, 0, kGlyphWidth, kHeight), Qt::AlignCenter,
                     QStringLiteral("\u2600"));

    const double left = kMargin + kGlyphWidth + kGlyphGap;
    const double width = kWidth - kMargin - left;
    const QFontMetricsF metrics(labelFont_);
    painter.setFont(labelFont_);
    painter.setPen(ChartStyle::withAlpha(ink, 0.55));
    painter.drawText(QRectF(left, kLabelTop, width, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(text_, Qt::ElideRight, width));

    const QRectF track(left, kLabelTop + metrics.height() + kBarGap, width, kBarHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ChartStyle::withAlpha(ink, 0.15));
    painter.drawRoundedRect(track, kBarHeight / 2, kBarHeight / 2);
    if (fillNow_ > 0) {
        painter.setBrush(ChartStyle::withAlpha(ink, 0.85));
        painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(fillNow_, kBarHeight)),
                                kBarHeight / 2, kBarHeight / 2);
    }
}

}  // namespace pellora
