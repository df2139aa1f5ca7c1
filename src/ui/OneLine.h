#pragma once

#include <QString>
#include <string>

namespace pellora {

// Text from outside (a monitor's, a device's, a file's name) as one line: control characters,
// a line break or a tab among them, become spaces.
inline QString oneLine(const std::string& text) {
    QString line = QString::fromStdString(text);
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char(' ');
        }
    }
    return line;
}

}  // namespace pellora
