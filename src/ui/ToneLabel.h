#pragma once

#include <QLabel>

namespace pellora {

// A label in one of the desktop's label tones: the palette's text colour, or that colour
// faded for secondary and tertiary text. It follows the application's palette when the
// desktop switches between light and dark.
class ToneLabel final : public QLabel {
    Q_OBJECT
  public:
    enum class Tone { primary, secondary, tertiary };

    ToneLabel(const QString& text, Tone tone, int pixelSize, QFont::Weight weight = QFont::Normal,
              QWidget* parent = nullptr);

    Tone tone() const { return tone_; }
    // The colour a tone takes in a palette.
    static QColor color(const QPalette& palette, Tone tone);

  protected:
    // Drawn from the inherited palette at each paint, so the tone follows a theme change
    // without a palette of its own going stale.
    void paintEvent(QPaintEvent* event) override;

  private:
    Tone tone_;
};

}  // namespace pellora
