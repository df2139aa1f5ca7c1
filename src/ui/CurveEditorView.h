#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "model/CurvePoint.h"

namespace pellora {

// The learnt curve of the current monitor, for editing: room light across, brightness up.
// It holds only what it shows and reports each gesture through a callback; the owner edits
// the anchor store and reloads the view. A drag moves the point in the view's own list so
// that it follows the pointer. A click on empty space adds, a drag moves, Alt-click removes;
// Delete or Backspace removes the selected (last pressed) anchor, for desktops whose window
// manager takes Alt-press for itself. From the keyboard, Left and Right select the previous
// and next anchor and Up and Down move it. Main thread only.
class CurveEditorView final : public QWidget {
  public:
    explicit CurveEditorView(QWidget* parent = nullptr);

    static constexpr double kHitRadius = 12.0;
    // Space around the plot for the labels.
    static constexpr double kMarginTop = 14, kMarginLeft = 34, kMarginBottom = 22,
                            kMarginRight = 16;

    void setAnchors(std::vector<CurvePoint> anchors);
    void setOtherAnchors(std::vector<CurvePoint> anchors);
    void setCurveLine(std::vector<CurvePoint> line);
    // "day" or "night"; shown as "now: " and the label.
    void setPeriodLabel(QString label);
    // Negative: no reading yet, which hides the live marker.
    void setCurrentLuma(double luma);
    void setLivePrediction(std::optional<int> brightness);
    // Paints everything faded: there is no monitor to edit.
    void setDimmed(bool dimmed);

    const std::vector<CurvePoint>& anchors() const { return anchors_; }
    const std::vector<CurvePoint>& otherAnchors() const { return otherAnchors_; }
    const std::vector<CurvePoint>& curveLine() const { return curveLine_; }
    const QString& periodLabel() const { return periodLabel_; }
    double currentLuma() const { return currentLuma_; }
    std::optional<int> livePrediction() const { return livePrediction_; }
    bool isDimmed() const { return dimmed_; }
    // The anchor being dragged; none outside a drag.
    std::optional<std::int64_t> dragIndex() const { return dragIndex_; }
    // The anchor Delete would remove.
    std::optional<std::int64_t> selectedIndex() const { return selected_; }

    // The area inside the margins, in widget coordinates (y down).
    QRectF plotRect() const;
    // Widget point to curve point, clamped to luma 0..255 and brightness 0..100, unrounded.
    CurvePoint curvePoint(QPointF position) const;
    // Curve point to widget point.
    QPointF viewPoint(const CurvePoint& point) const;
    // The first anchor within the hit radius (inclusive) of a widget point.
    std::optional<std::int64_t> hitIndex(QPointF position) const;

    // Unset callbacks make their gesture do nothing. The view may be reloaded from inside any
    // of them; a drag has ended by the time onCommitAnchor runs.
    std::function<void(CurvePoint)> onAddAnchor;
    std::function<void(std::int64_t, CurvePoint)> onDragAnchor;
    std::function<void(std::int64_t, CurvePoint)> onCommitAnchor;
    std::function<void(std::int64_t)> onRemoveAnchor;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool validIndex(std::optional<std::int64_t> index) const;
    void select(std::optional<std::int64_t> index);
    void showCursorFor(QPointF position);

    std::vector<CurvePoint> anchors_;
    std::vector<CurvePoint> otherAnchors_;
    std::vector<CurvePoint> curveLine_;
    QString periodLabel_;
    double currentLuma_ = -1.0;
    std::optional<int> livePrediction_;
    std::optional<std::int64_t> dragIndex_;
    // The selection and the point it was made on: a reload that puts another point at that
    // index (or none) clears it, so Delete never removes an anchor the user did not pick.
    std::optional<std::int64_t> selected_;
    CurvePoint selectedPoint_;
    bool dimmed_ = false;
};

}  // namespace pellora
