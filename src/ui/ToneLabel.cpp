#include "ui/ToneLabel.h"

#include <QApplication>
#include <QEvent>

#include "ui/UiFonts.h"

namespace pellora {

ToneLabel::ToneLabel(const QString& text, Tone tone, int pixelSize, QFont::Weight weight,
                     QWidget* parent)
    : QLabel(text, parent), tone_(tone) {
    setFont(uifonts::system(pixelSize, weight));
    applyTone();
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

bool ToneLabel::event(QEvent* event) {
    // Our own palette change would come back here; only the application's counts.
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTone();
    }
    return QLabel::event(event);
}

void ToneLabel::applyTone() {
    QPalette own = QApplication::palette(this);
    QColor text = color(own, tone_);
    own.setColor(QPalette::Active, QPalette::WindowText, text);
    own.setColor(QPalette::Inactive, QPalette::WindowText, text);
    QColor disabled = text;
    disabled.setAlphaF(text.alphaF() * 0.6f);
    own.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    setPalette(own);
}

}  // namespace pellora
