#pragma once

#include <QFont>

namespace pellora::uifonts {

// The window's design sizes are in device-independent pixels, as its layout is, so text
// keeps its proportions to the rows it sits in at every scale.
QFont system(int pixelSize, QFont::Weight weight = QFont::Normal);
// For numbers that change under the eye (readouts, coordinates) and identifiers.
QFont monospaced(int pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace pellora::uifonts
