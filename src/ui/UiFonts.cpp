#include "ui/UiFonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace pellora::uifonts {

QFont system(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospaced(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

}  // namespace pellora::uifonts
