#include "ui/CurveEditorView.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/ChartStyle.h"
#include "ui/UiFonts.h"

namespace pellora {

namespace {

bool isFinite(const CurvePoint& p) {
    return std::isfinite(p.luma) && std::isfinite(p.brightness);
}

void fillCircle(QPainter& painter, QPointF centre, double diameter, const QColor& colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, diameter / 2, diameter / 2);
}

void strokeCircle(QPainter& painter, QPointF centre, double diameter, const QColor& colour,
                  double width) {
    painter.setPen(QPen(colour, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, diameter / 2, diameter / 2);
}

}  // namespace

CurveEditorView::CurveEditorView(QWidget* parent) : QWidget(parent) {
    // Tab reaches it too: the arrows pick and move a point without the mouse.
    setFocusPolicy(Qt::StrongFocus);
    // Hover over an anchor shows a hand, so the view has to see moves without a button.
    setMouseTracking(true);
}

QSize CurveEditorView::sizeHint() const {
    return {532, 240};
}

void CurveEditorView::setAnchors(std::vector<CurvePoint> anchors) {
    anchors_ = std::move(anchors);
    if (selected_ && (!validIndex(selected_) ||
                      anchors_[static_cast<std::size_t>(*selected_)] != selectedPoint_)) {
        selected_.reset();
    }
    update();
}

void CurveEditorView::setOtherAnchors(std::vector<CurvePoint> anchors) {
    otherAnchors_ = std::move(anchors);
    update();
}

void CurveEditorView::setCurveLine(std::vector<CurvePoint> line) {
    curveLine_ = std::move(line);
    update();
}

void CurveEditorView::setPeriodLabel(QString label) {
    periodLabel_ = std::move(label);
    update();
}

void CurveEditorView::setCurrentLuma(double luma) {
    currentLuma_ = luma;
    update();
}

void CurveEditorView::setLivePrediction(std::optional<int> brightness) {
    livePrediction_ = brightness;
    update();
}

void CurveEditorView::setDimmed(bool dimmed) {
    dimmed_ = dimmed;
    update();
}

QRectF CurveEditorView::plotRect() const {
    return {kMarginLeft, kMarginTop, width() - kMarginLeft - kMarginRight,
            height() - kMarginTop - kMarginBottom};
}

CurvePoint CurveEditorView::curvePoint(QPointF position) const {
    const QRectF plot = plotRect();
    // Brightness grows upward from the plot's bottom edge.
    const double up = height() - position.y();
    const double luma = (position.x() - plot.left()) / std::max(plot.width(), 1.0) * 255;
    const double brightness = (up - kMarginBottom) / std::max(plot.height(), 1.0) * 100;
    return {std::max(std::min(luma, 255.0), 0.0), std::max(std::min(brightness, 100.0), 0.0)};
}

QPointF CurveEditorView::viewPoint(const CurvePoint& point) const {
    const QRectF plot = plotRect();
    const double up = kMarginBottom + point.brightness / 100 * plot.height();
    return {plot.left() + point.luma / 255 * plot.width(), height() - up};
}

std::optional<std::int64_t> CurveEditorView::hitIndex(QPointF position) const {
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        const QPointF centre = viewPoint(anchors_[i]);
        if (std::hypot(centre.x() - position.x(), centre.y() - position.y()) <= kHitRadius) {
            return static_cast<std::int64_t>(i);
        }
    }
    return std::nullopt;
}

bool CurveEditorView::validIndex(std::optional<std::int64_t> index) const {
    return index && *index >= 0 && static_cast<std::size_t>(*index) < anchors_.size();
}

void CurveEditorView::select(std::optional<std::int64_t> index) {
    selected_ = validIndex(index) ? index : std::nullopt;
    if (selected_) {
        selectedPoint_ = anchors_[static_cast<std::size_t>(*selected_)];
    }
    update();
}

void CurveEditorView::showCursorFor(QPointF position) {
    if (dragIndex_) {
        setCursor(Qt::ClosedHandCursor);
    } else if (hitIndex(position)) {
        setCursor(Qt::OpenHandCursor);
    } else {
        unsetCursor();
    }
}

void CurveEditorView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF position = event->position();
    const std::optional<std::int64_t> hit = hitIndex(position);
    if (hit && !(event->modifiers() & Qt::AltModifier)) {
        dragIndex_ = hit;
        select(hit);
        showCursorFor(position);
        return;
    }
    select(std::nullopt);
    // Copies: the owner may replace a callback from inside it.
    if (hit) {
        if (auto remove = onRemoveAnchor) {
            remove(*hit);
        }
    } else if (auto add = onAddAnchor) {
        add(curvePoint(position));
    }
}

void CurveEditorView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF position = event->position();
    if (!validIndex(dragIndex_)) {
        showCursorFor(position);
        return;
    }
    const std::int64_t index = *dragIndex_;
    const CurvePoint point = curvePoint(position);
    anchors_[static_cast<std::size_t>(index)] = point;
    if (selected_ == index) {
        selectedPoint_ = point;
    }
    update();
    if (auto drag = onDragAnchor) {
        drag(index, point);
    }
}

void CurveEditorView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const std::optional<std::int64_t> index = dragIndex_;
    // Cleared before the commit, so the owner's reload from inside it is not taken for a
    // reload under a drag and skipped.
    dragIndex_.reset();
    showCursorFor(event->position());
    if (validIndex(index)) {
        const CurvePoint point = anchors_[static_cast<std::size_t>(*index)];
        if (auto commit = onCommitAnchor) {
            commit(*index, point);
        }
    }
}

void CurveEditorView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool removeKey = key == Qt::Key_Delete || key == Qt::Key_Backspace;
    const bool pickKey = key == Qt::Key_Left || key == Qt::Key_Right;
    const bool moveKey = key == Qt::Key_Up || key == Qt::Key_Down;
    if (dragIndex_ || anchors_.empty() || (!pickKey && !validIndex(selected_)) ||
        !(removeKey || pickKey || moveKey)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const auto last = static_cast<std::int64_t>(anchors_.size()) - 1;
    if (pickKey) {
        // From none, the first point the arrow's way; past either end, the last one there.
        const std::int64_t step = key == Qt::Key_Right ? 1 : -1;
        const std::int64_t from = selected_ ? *selected_ : (step > 0 ? -1 : last + 1);
        select(std::clamp<std::int64_t>(from + step, 0, last));
        return;
    }
    const std::int64_t index = *selected_;
    if (removeKey) {
        select(std::nullopt);
        if (auto remove = onRemoveAnchor) {
            remove(index);
        }
        return;
    }
    // A step of 1, or 10 with Shift, committed as a drag released there would be.
    CurvePoint point = anchors_[static_cast<std::size_t>(index)];
    const double step =
        (event->modifiers() & Qt::ShiftModifier ? 10.0 : 1.0) * (key == Qt::Key_Up ? 1 : -1);
    point.brightness = std::clamp(std::round(point.brightness) + step, 0.0, 100.0);
    anchors_[static_cast<std::size_t>(index)] = point;
    selectedPoint_ = point;
    update();
    if (auto commit = onCommitAnchor) {
        commit(index, point);
    }
}

void CurveEditorView::paintEvent(QPaintEvent*) {
    const ChartStyle style = ChartStyle::from(palette());
    const QRectF bounds = rect();
    const QRectF plot = plotRect();
    // Plot edges and fractions of the plot in widget coordinates; y for brightness grows up.
    const double bottom = height() - kMarginBottom;
    const auto xAt = [&](double f) { return plot.left() + f * plot.width(); };
    const auto yAt = [&](double f) { return bottom - f * plot.height(); };

    QPainter painter(this);
    style.drawPlate(painter, bounds, dimmed_);
    if (hasFocus()) {
        // Where the arrow keys act.
        painter.setPen(QPen(style.highlight, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(0.75, 0.75, -0.75, -0.75), 8, 8);
    }

    QPainterPath grid;
    for (double f : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        grid.moveTo(xAt(0), yAt(f));
        grid.lineTo(xAt(1), yAt(f));
        grid.moveTo(xAt(f), yAt(0));
        grid.lineTo(xAt(f), yAt(1));
    }
    painter.strokePath(grid, QPen(ChartStyle::withAlpha(style.separator, 0.5), 0.5));

    painter.setFont(uifonts::system(9));
    const QFontMetricsF metrics(painter.font());
    painter.setPen(style.tertiaryLabel);
    const std::pair<double, const char*> brightnessLabels[] = {{0, "0"}, {0.5, "50"}, {1, "100"}};
    for (const auto& [f, text] : brightnessLabels) {
        ChartStyle::drawText(painter, {4, yAt(f) + 5}, text);
    }
    const std::pair<double, const char*> lumaLabels[] = {
        {0, "dark"}, {128.0 / 255, "128"}, {1, "bright"}};
    for (const auto& [f, text] : lumaLabels) {
        ChartStyle::drawText(painter,
                             {xAt(f) - metrics.horizontalAdvance(text) / 2, height() - 4.0}, text);
    }

    if (!periodLabel_.isEmpty()) {
        const QString text = "now: " + periodLabel_;
        painter.setPen(style.secondaryLabel);
        ChartStyle::drawText(painter, {xAt(1) - metrics.horizontalAdvance(text), yAt(1) - 1}, text);
    }

    if (std::isfinite(currentLuma_) && currentLuma_ >= 0) {
        const double x = xAt(currentLuma_ / 255);
        painter.setPen(QPen(ChartStyle::withAlpha(style.purple, 0.5), 1));
        painter.drawLine(QPointF(x, yAt(0)), QPointF(x, yAt(1)));
        if (livePrediction_) {
            fillCircle(painter, {x, yAt(*livePrediction_ / 100.0)}, 8, style.purple);
        }
    }

    if (curveLine_.size() >= 2) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(curveLine_.size()));
        for (const CurvePoint& p : curveLine_) {
            if (isFinite(p)) {
                line << viewPoint(p);
            }
        }
        QPen pen(style.yellow, 2);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(line);
    }

    const QColor faded = ChartStyle::withAlpha(style.grey, 0.4);
    for (const CurvePoint& p : otherAnchors_) {
        if (isFinite(p)) {
            fillCircle(painter, viewPoint(p), 7, faded);
        }
    }
    for (const CurvePoint& p : anchors_) {
        if (isFinite(p)) {
            fillCircle(painter, viewPoint(p), 10, style.yellow);
            strokeCircle(painter, viewPoint(p), 12, style.textBackground, 1.5);
        }
    }
    if (validIndex(selected_)) {
        const CurvePoint& p = anchors_[static_cast<std::size_t>(*selected_)];
        if (isFinite(p)) {
            strokeCircle(painter, viewPoint(p), 17, style.highlight, 1.5);
        }
    }
}

}  // namespace pellora
