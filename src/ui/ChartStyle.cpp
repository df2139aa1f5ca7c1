#include "ui/ChartStyle.h"

#include <QFontMetricsF>
#include <QPainter>

#include "ui/ToneLabel.h"

namespace pellora {

QColor ChartStyle::withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(static_cast<float>(colour.alphaF() * alpha));
    return colour;
}

QColor ChartStyle::blend(const QColor& base, const QColor& over, double amount) {
    const auto mix = [amount](float back, float front) {
        return static_cast<float>(back + (front - back) * amount);
    };
    return QColor::fromRgbF(mix(base.redF(), over.redF()), mix(base.greenF(), over.greenF()),
                            mix(base.blueF(), over.blueF()));
}

ChartStyle ChartStyle::from(const QPalette& palette) {
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    const QColor text = palette.color(QPalette::WindowText);
    ChartStyle s;
    s.dark = dark;
    s.textBackground = palette.color(QPalette::Base);
    s.separator = withAlpha(text, 0.35);
    s.tertiaryLabel = ToneLabel::color(palette, ToneLabel::Tone::tertiary);
    s.secondaryLabel = ToneLabel::color(palette, ToneLabel::Tone::secondary);
    s.highlight = palette.color(QPalette::Highlight);
    s.purple = dark ? QColor(0xBF, 0x5A, 0xF2) : QColor(0xAF, 0x52, 0xDE);
    s.yellow = dark ? QColor(0xFF, 0xD6, 0x0A) : QColor(0xFF, 0xCC, 0x00);
    s.grey = QColor(0x8E, 0x8E, 0x93);
    s.red = dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xFF, 0x3B, 0x30);
    return s;
}

void ChartStyle::drawText(QPainter& painter, QPointF bottomLeft, const QString& text) {
    const QFontMetricsF metrics(painter.font());
    painter.drawText(QPointF(bottomLeft.x(), bottomLeft.y() - metrics.descent()), text);
}

void ChartStyle::drawPlate(QPainter& painter, const QRectF& bounds, bool dimmed) const {
    painter.setRenderHint(QPainter::Antialiasing);
    if (dimmed) {
        painter.setOpacity(0.45);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(withAlpha(textBackground, 0.6));
    painter.drawRoundedRect(bounds, 8, 8);
}

}  // namespace pellora
