#include "ui/TimelineView.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/LocalTime.h"
#include "platform/Clock.h"
#include "ui/ChartStyle.h"
#include "ui/UiFonts.h"

namespace pellora {

namespace {

// Limits to 0..1; a value that is not a number counts as 0.
double unit(double v) {
    return v > 1 ? 1 : (v >= 0 ? v : 0);
}

void fillCircle(QPainter& painter, QPointF centre, double diameter, const QColor& colour) {
    painter.setBrush(colour);
    painter.drawEllipse(centre, diameter / 2, diameter / 2);
}

// Luma on the left, brightness on the right, and the clock times every three hours back
// from now along the bottom.
void drawAxisLabels(QPainter& painter, const QRectF& plot, const QRectF& bounds, double now,
                    double hours, const ChartStyle& style) {
    const QFontMetricsF metrics(painter.font());
    const auto yAt = [&](double f) { return plot.bottom() - f * plot.height(); };
    painter.setPen(style.tertiaryLabel);
    const std::pair<double, const char*> luma[] = {{0, "0"}, {128.0 / 255, "128"}, {1, "255"}};
    for (const auto& [f, text] : luma) {
        ChartStyle::drawText(painter, {4, yAt(f) + 5}, text);
    }
    const std::pair<double, const char*> brightness[] = {{0, "0"}, {0.5, "50"}, {1, "100"}};
    for (const auto& [f, text] : brightness) {
        const double x = bounds.right() - 4 - metrics.horizontalAdvance(text);
        ChartStyle::drawText(painter, {x, yAt(f) + 5}, text);
    }
    for (int step = 0; 3.0 * step <= hours; ++step) {
        const double h = 3.0 * step;
        const QString text = QString::fromStdString(localtime::hoursMinutes(now - h * 3600));
        const double x = plot.left() + (1 - h / hours) * plot.width();
        ChartStyle::drawText(painter,
                             {x - metrics.horizontalAdvance(text) / 2, bounds.bottom() - 2}, text);
    }
}

void drawLegend(QPainter& painter, const QRectF& bounds, const ChartStyle& style) {
    painter.setFont(uifonts::system(10, QFont::Medium));
    const QFontMetricsF metrics(painter.font());
    const std::pair<QColor, const char*> entries[] = {
        {style.purple, " Luma"}, {style.yellow, " Brightness"}, {style.red, " Manual"}};
    double x = bounds.left() + 40;
    for (const auto& [colour, name] : entries) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(x, bounds.top() + 7, 7, 7));
        painter.setPen(style.secondaryLabel);
        ChartStyle::drawText(painter, {x + 8, bounds.top() + 16}, name);
        x += metrics.horizontalAdvance(name) + 12;
    }
}

}  // namespace

TimelineView::TimelineView(const Clock& clock, QWidget* parent) : QWidget(parent), clock_(clock) {}

QSize TimelineView::sizeHint() const {
    return {532, 140};
}

void TimelineView::setSamples(std::vector<Sample> samples) {
    samples_ = std::move(samples);
    update();
}

void TimelineView::setHours(double hours) {
    if (hours > 0 && hours <= kMaxHours) {
        hours_ = hours;
        update();
    }
}

void TimelineView::setDimmed(bool dimmed) {
    dimmed_ = dimmed;
    update();
}

QRectF TimelineView::plotRect() const {
    return QRectF(rect()).adjusted(kInsetX, kInsetY, -kInsetX, -kInsetY);
}

void TimelineView::paintEvent(QPaintEvent*) {
    const double now = clock_.now();
    const double window = hours_ * 3600;
    const ChartStyle style = ChartStyle::from(palette());
    const QRectF bounds = rect();
    const QRectF plot = plotRect();
    const auto xAt = [&](double t) {
        return plot.left() + plot.width() * unit(1 - (now - t) / window);
    };
    const auto yAt = [&](double f) { return plot.bottom() - plot.height() * unit(f); };

    QPainter painter(this);
    style.drawPlate(painter, bounds, dimmed_);

    QPainterPath grid;
    for (double f : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        grid.moveTo(plot.left(), yAt(f));
        grid.lineTo(plot.right(), yAt(f));
    }
    for (int step = 1; 2.0 * step < hours_; ++step) {
        const double x = plot.left() + (1 - 2.0 * step / hours_) * plot.width();
        grid.moveTo(x, yAt(0));
        grid.lineTo(x, yAt(1));
    }
    painter.strokePath(grid, QPen(ChartStyle::withAlpha(style.separator, 0.5), 0.5));

    painter.setFont(uifonts::system(9));
    drawAxisLabels(painter, plot, bounds, now, hours_, style);

    // Only the window is drawn: the log may hold a year, the window a few dozen samples.
    // Samples stamped a little later than now (a clock set back) are pinned to the right
    // edge; ones further ahead than the window is wide (a clock that was once far ahead, a
    // folder written on a fast clock) are left out, or they would all be drawn there.
    std::vector<Sample> kept;
    for (const Sample& s : samples_) {
        if (s.t >= now - window && s.t <= now + window) {
            kept.push_back(s);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Sample& a, const Sample& b) { return a.t < b.t; });

    if (kept.empty()) {
        painter.setFont(uifonts::system(12));
        const QString text = QStringLiteral("Collecting samples…");
        const QFontMetricsF metrics(painter.font());
        painter.setPen(style.secondaryLabel);
        ChartStyle::drawText(painter,
                             {bounds.center().x() - metrics.horizontalAdvance(text) / 2,
                              bounds.center().y() + metrics.height() / 2},
                             text);
        drawLegend(painter, bounds, style);
        return;
    }

    const auto lumaPoint = [&](const Sample& s) { return QPointF(xAt(s.t), yAt(s.luma / 255)); };
    const auto brightnessPoint = [&](const Sample& s) {
        return QPointF(xAt(s.t), yAt(s.brightness / 100.0));
    };
    if (kept.size() >= 2) {
        QPolygonF lumaLine, brightnessLine;
        lumaLine.reserve(static_cast<qsizetype>(kept.size()));
        brightnessLine.reserve(static_cast<qsizetype>(kept.size()));
        for (const Sample& s : kept) {
            lumaLine << lumaPoint(s);
            brightnessLine << brightnessPoint(s);
        }
        painter.setBrush(Qt::NoBrush);
        QPen pen(ChartStyle::withAlpha(style.purple, 0.7), 1.5);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        painter.drawPolyline(lumaLine);
        pen.setColor(ChartStyle::withAlpha(style.yellow, 0.7));
        painter.setPen(pen);
        painter.drawPolyline(brightnessLine);
    }

    painter.setPen(Qt::NoPen);
    for (const Sample& s : kept) {
        fillCircle(painter, lumaPoint(s), 4, style.purple);
        fillCircle(painter, brightnessPoint(s), 4, style.yellow);
        if (s.userSet) {
            fillCircle(painter, brightnessPoint(s), 7, style.red);
        }
    }
    drawLegend(painter, bounds, style);
}

}  // namespace pellora
