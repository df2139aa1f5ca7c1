#include "ui/ToneLabel.h"

#include <QPainter>
#include <QStyle>

#include "ui/UiFonts.h"

namespace pellora {

ToneLabel::ToneLabel(const QString& text, Tone tone, int pixelSize, QFont::Weight weight,
                     QWidget* parent)
    : QLabel(text, parent), tone_(tone) {
    setFont(uifonts::system(pixelSize, weight));
    setTextFormat(Qt::PlainText);
}

QColor ToneLabel::color(const QPalette& palette, Tone tone) {
    QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    // Fainter than this and 10-pixel text stops being readable on a dark panel.
    switch (tone) {
        case Tone::primary:
            break;
        case Tone::secondary:
            text.setAlphaF(0.68f);
            break;
        case Tone::tertiary:
            text.setAlphaF(0.5f);
            break;
    }
    return text;
}

void ToneLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPalette own = palette();
    QColor text = color(own, tone_);
    own.setColor(QPalette::Active, QPalette::WindowText, text);
    own.setColor(QPalette::Inactive, QPalette::WindowText, text);
    text.setAlphaF(text.alphaF() * 0.6f);
    own.setColor(QPalette::Disabled, QPalette::WindowText, text);
    int flags = QStyle::visualAlignment(layoutDirection(), alignment());
    if (wordWrap()) {
        flags |= Qt::TextWordWrap;
    }
    style()->drawItemText(&painter, contentsRect(), flags, own, isEnabled(), QLabel::text(),
                          QPalette::WindowText);
}

}  // namespace pellora
