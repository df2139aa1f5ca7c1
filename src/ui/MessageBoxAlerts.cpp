#include "ui/MessageBoxAlerts.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <utility>

namespace pellora {

namespace {

// The box wraps its text only between words: a word wider than the box can grow (a long
// link, a path) would be cut at its edge. Such a word gets a place to break (a zero-width
// space) every few characters, never inside a character or before a mark.
QString breakable(const QString& text) {
    constexpr int kLongestRun = 24;
    QString out;
    out.reserve(text.size() + text.size() / kLongestRun);
    int run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongestRun && !c.isLowSurrogate() && !c.isMark()) {
            out += QChar(0x200B);
            run = 1;
        }
        out += c;
    }
    return out;
}

// Texts may carry names from outside (a device's, a file's): never read as markup.
void setDetails(QMessageBox& box, const std::string& informative) {
    box.setInformativeText(breakable(QString::fromStdString(informative)));
    // Every such label: one emptied before is only deleted later.
    for (auto* label : box.findChildren<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
    }
}

}  // namespace

MessageBoxAlerts::MessageBoxAlerts(QString windowTitle, QObject* parent)
    : QObject(parent), windowTitle_(std::move(windowTitle)) {}

MessageBoxAlerts::~MessageBoxAlerts() {
    // Taken out first: a box going away must not find itself in the map being walked.
    const auto boxes = std::exchange(shown_, {});
    for (const auto& [message, box] : boxes) {
        delete box.data();
    }
}

void MessageBoxAlerts::present(const std::string& message, const std::string& informative,
                               const std::vector<std::string>& buttons,
                               std::function<void(int button)> answer) {
    if (QMessageBox* box = shown(message)) {
        // What it is told now: a re-check that found the camera granted must not leave the box
        // saying access is refused.
        if (box->informativeText() != breakable(QString::fromStdString(informative))) {
            setDetails(*box, informative);
        }
        box->show();
        box->raise();
        box->activateWindow();
        return;
    }
    auto* box = new QMessageBox();
    box->setWindowTitle(windowTitle_);
    // The program's own icon says who is asking; the generic one where it has none.
    const QIcon appIcon = QApplication::windowIcon();
    if (appIcon.isNull()) {
        box->setIcon(QMessageBox::Information);
    } else {
        // Drawn for the screen Qt puts a box of no parent on, the pointer's, which need not
        // be the first screen's scale.
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        box->setIconPixmap(appIcon.pixmap(QSize(64, 64), screen != nullptr
                                                             ? screen->devicePixelRatio()
                                                             : qApp->devicePixelRatio()));
    }
    // Texts may carry names from outside (a device's, a file's): never read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(message));
    setDetails(*box, informative);
    for (int index = 0; index < static_cast<int>(buttons.size()); ++index) {
        QPushButton* button =
            box->addButton(QString::fromStdString(buttons[index]), QMessageBox::ActionRole);
        if (index == 0) {
            box->setDefaultButton(button);
        }
        connect(button, &QPushButton::clicked, this, [this, box, index, answer] {
            forget(box);
            if (answer) {
                answer(index);
            }
        });
    }
    // Whatever else closes it (the OK Qt adds to a box given no buttons) answers nothing.
    connect(box, &QMessageBox::finished, this, [this, box] { forget(box); });
    box->installEventFilter(this);
    box->setWindowModality(Qt::NonModal);
    shown_[message] = box;
    box->show();
    box->raise();
    box->activateWindow();
}

QMessageBox* MessageBoxAlerts::shown(const std::string& message) const {
    auto found = shown_.find(message);
    return found == shown_.end() ? nullptr : found->second.data();
}

bool MessageBoxAlerts::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QMessageBox*>(watched);
    const bool dismissed = event->type() == QEvent::Close ||
                           (event->type() == QEvent::KeyPress &&
                            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel));
    if (box == nullptr || !dismissed) {
        return QObject::eventFilter(watched, event);
    }
    box->hide();
    forget(box);
    return true;
}

void MessageBoxAlerts::forget(QMessageBox* box) {
    for (auto entry = shown_.begin(); entry != shown_.end(); ++entry) {
        if (entry->second == box) {
            shown_.erase(entry);
            box->hide();
            box->deleteLater();
            return;
        }
    }
}

}  // namespace pellora
