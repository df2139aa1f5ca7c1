#include "ui/MenuPanelView.h"

#include <QEvent>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QShortcut>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/StatusMenu.h"
#include "ui/ChartStyle.h"
#include "ui/OneLine.h"

namespace pellora {

namespace {

// The window's text laid over its background at `alpha`: reads on light and dark alike.
QColor faintText(const QPalette& palette, double alpha) {
    return ChartStyle::blend(palette.color(QPalette::Window), palette.color(QPalette::WindowText),
                             alpha);
}

// The text in lines of at most `width` pixels, broken between words where it can: a button
// does not wrap its text itself.
QString wrapped(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

MenuPanelView::MenuPanelView(StatusMenu& menu, QWidget* parent) : QWidget(parent), model_(menu) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(0);
    for (const MenuRow& row : model_.rows()) {
        if (row.checkable) {
            // The window has a checkbox of its own for such a row.
            continue;
        }
        // A state row (disabled, no action: monitor, luma…) is only read; it turns into a
        // command while it has an action (the camera row, when the camera needs the user).
        Row& shown = rows_.emplace_back(Row{row.id, row.enabled || row.action != nullptr});
        if (row.separatorBefore) {
            shown.separator = new QFrame(this);
            shown.separator->setFrameShape(QFrame::HLine);
            shown.separator->setFrameShadow(QFrame::Plain);
            shown.separator->setLineWidth(1);
            shown.separator->setFixedHeight(9);
            layout->addWidget(shown.separator);
        }
        // Names from a monitor or another machine are shown as they are, never as markup.
        shown.label = new QLabel(this);
        shown.label->setTextFormat(Qt::PlainText);
        shown.label->setWordWrap(true);
        // Level with the buttons' text.
        shown.label->setContentsMargins(8, 3, 8, 3);
        layout->addWidget(shown.label);

        shown.button = new QToolButton(this);
        shown.button->setAutoRaise(true);
        shown.button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        shown.button->setCursor(Qt::PointingHandCursor);
        shown.button->setFocusPolicy(Qt::TabFocus);
        layout->addWidget(shown.button, 0, Qt::AlignLeft);
        const MenuItemId id = row.id;
        // The model decides whether the row may act (shown, enabled, has an action).
        connect(shown.button, &QToolButton::clicked, this, [this, id] { model_.activate(id); });
        if (row.shortcut != 0) {
            // The tray's key, named on the button and working in the window: without a tray
            // the window is where the menu is. A text field keeps its own editing keys.
            const QKeySequence keys(QStringLiteral("Ctrl+") + QChar(row.shortcut).toUpper());
            shown.button->setToolTip(keys.toString(QKeySequence::NativeText));
            connect(new QShortcut(keys, this), &QShortcut::activated, this,
                    [this, id] { model_.activate(id); });
        }
        showRow(id);
    }
    layout->addStretch(1);
    applyColors();
    observerToken_ =
        model_.addObserver([view = QPointer<MenuPanelView>(this)](std::optional<MenuItemId> id) {
            if (view && id) {
                view->showRow(*id);
            }
        });
}

MenuPanelView::~MenuPanelView() {
    model_.removeObserver(observerToken_);
}

const MenuPanelView::Row* MenuPanelView::find(MenuItemId id) const {
    auto found =
        std::find_if(rows_.begin(), rows_.end(), [id](const Row& r) { return r.id == id; });
    return found == rows_.end() ? nullptr : &*found;
}

QLabel* MenuPanelView::label(MenuItemId id) const {
    const Row* row = find(id);
    return row == nullptr ? nullptr : row->label;
}

QToolButton* MenuPanelView::button(MenuItemId id) const {
    const Row* row = find(id);
    return row == nullptr ? nullptr : row->button;
}

QFrame* MenuPanelView::separatorBefore(MenuItemId id) const {
    const Row* row = find(id);
    return row == nullptr ? nullptr : row->separator;
}

void MenuPanelView::showRow(MenuItemId id) {
    const Row* shown = find(id);
    if (shown == nullptr) {
        return;
    }
    const MenuRow& row = model_.row(id);
    const bool command = shown->command || row.action != nullptr;
    const QString text = QString::fromStdString(row.title);
    shown->label->setText(text);
    shown->label->setVisible(!row.hidden && !command);
    // A warning names its fix at length: in lines, or it would widen the window past its width.
    shown->button->setText(wrapped(oneLine(row.title), shown->button->font(), maxLineWidth)
                               .replace(QLatin1Char('&'), QStringLiteral("&&")));
    shown->button->setEnabled(row.enabled);
    shown->button->setVisible(!row.hidden && command);
}

void MenuPanelView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
    QWidget::changeEvent(event);
}

void MenuPanelView::applyColors() {
    const QPalette own = palette();
    const QColor line = faintText(own, 0.16);
    // Commands in the desktop's accent, so they read as things to click beside the state.
    QPalette commands = own;
    commands.setColor(QPalette::Active, QPalette::ButtonText, own.color(QPalette::Highlight));
    commands.setColor(QPalette::Inactive, QPalette::ButtonText, own.color(QPalette::Highlight));
    commands.setColor(QPalette::Disabled, QPalette::ButtonText, faintText(own, 0.4));
    for (const Row& row : rows_) {
        if (row.separator != nullptr) {
            QPalette p = row.separator->palette();
            p.setColor(QPalette::WindowText, line);
            row.separator->setPalette(p);
        }
        row.button->setPalette(commands);
    }
}

}  // namespace pellora
