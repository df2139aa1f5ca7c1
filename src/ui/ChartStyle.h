#pragma once

#include <QColor>
#include <QPalette>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

namespace pellora {

// How the painted views (the two preference charts, the map, the indicator) look: colours
// taken from a widget's palette (label tones as the window's labels have them), and where
// the charts' texts sit. The accent hues are fixed and only switch to their brighter variants
// on a dark palette, so the current period, the faded other period and the live marker keep
// their contrast on both.
struct ChartStyle {
    bool dark = false;      // the palette's window is dark
    QColor textBackground;  // the chart's plate
    QColor separator;       // grid lines
    QColor tertiaryLabel;   // axis labels
    QColor secondaryLabel;  // captions and the legend
    QColor highlight;       // the selected anchor's ring
    QColor purple;
    QColor yellow;
    QColor grey;
    QColor red;

    static ChartStyle from(const QPalette& palette);
    static QColor withAlpha(QColor colour, double alpha);
    // `over` laid on `base` at `amount` (0 to 1), as an opaque colour.
    static QColor blend(const QColor& base, const QColor& over, double amount);

    // Draws `text` in the painter's font and pen with the bottom-left corner of its line box
    // at `bottomLeft` (Qt's own text origin is the baseline).
    static void drawText(QPainter& painter, QPointF bottomLeft, const QString& text);

    // Readies the painter (antialiased; faded when the window has no monitor) and fills the
    // chart's rounded plate over `bounds`.
    void drawPlate(QPainter& painter, const QRectF& bounds, bool dimmed) const;
};

}  // namespace pellora
