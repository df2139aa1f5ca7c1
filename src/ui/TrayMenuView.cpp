#include "ui/TrayMenuView.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cmath>

#include "app/StatusMenu.h"
#include "ui/OneLine.h"

namespace pellora {

namespace {

// The sizes trays ask for: 16 (XEmbed), 22 and 24 (GNOME, KDE panels), 32 and 48 (tooltips,
// scaled panels).
constexpr int kIconSizes[] = {16, 22, 24, 32, 48};

QKeySequence shortcutFor(char key) {
    if (key == 0) {
        return {};
    }
    return QKeySequence(QStringLiteral("Ctrl+") + QChar(key).toUpper());
}

// A light glyph on a dark rounded plate: the panel may be light or dark, and the half-filled
// circles must show which half is filled on either.
QPixmap glyphPixmap(const QString& glyph, int logicalSize, qreal ratio) {
    const int pixels = static_cast<int>(std::ceil(logicalSize * ratio));
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(36, 36, 36, 235));
    painter.drawRoundedRect(QRectF(0, 0, pixels, pixels), pixels * 0.22, pixels * 0.22);

    const QColor ink(250, 250, 250);
    QFont font;
    font.setPixelSize(pixels);
    QPainterPath path;
    path.addText(0, 0, font, glyph);
    const QRectF bounds = path.boundingRect();
    if (bounds.isEmpty()) {
        // No outline font has it (a bitmap emoji, say): drawn as plain text.
        font.setPixelSize(pixels * 3 / 4);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(QRectF(0, 0, pixels, pixels), Qt::AlignCenter, glyph);
    } else {
        // Every glyph takes the same room whatever the font's own metrics, drawn as a path
        // so it is sharp at each size, and its thin strokes (the sun's rays) thickened so
        // they do not fade to grey at panel sizes.
        const qreal scale = pixels * 0.72 / std::max(bounds.width(), bounds.height());
        QTransform fit;
        fit.translate(pixels / 2.0, pixels / 2.0);
        fit.scale(scale, scale);
        fit.translate(-bounds.center().x(), -bounds.center().y());
        const QPainterPath fitted = fit.map(path);
        painter.fillPath(fitted, ink);
        painter.strokePath(fitted, QPen(ink, std::clamp(pixels / 28.0, 0.8, 1.2)));
    }
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

TrayMenuView::TrayMenuView(StatusMenu& menu, QString appName, QObject* parent)
    : QObject(parent),
      model_(menu),
      appName_(std::move(appName)),
      qmenu_(std::make_unique<QMenu>()),
      tray_(new QSystemTrayIcon(this)) {
    build();
    tray_->setContextMenu(qmenu_.get());
    // Qt hands the menu a platform menu only when it exports it to a StatusNotifierItem panel.
    overDBus_ = qmenu_->platformMenu() != nullptr;
    if (overDBus_) {
        for (const auto& entry : actions_) {
            showRow(entry.first);
        }
    }
    // Also when a panel opens the menu over D-Bus (com.canonical.dbusmenu's AboutToShow).
    connect(qmenu_.get(), &QMenu::aboutToShow, this, [this] { model_.willShow(); });
    showGlyph();
    // A monitor plugged in later may be scaled more than any screen the icon was drawn for.
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &TrayMenuView::showGlyph);
    tray_->show();
    observerToken_ =
        model_.addObserver([view = QPointer<TrayMenuView>(this)](std::optional<MenuItemId> id) {
            if (!view) {
                return;
            }
            if (id) {
                view->showRow(*id);
            } else {
                view->showGlyph();
            }
        });
}

TrayMenuView::~TrayMenuView() {
    model_.removeObserver(observerToken_);
    // The icon lets go of the menu before the menu goes.
    tray_->setContextMenu(nullptr);
}

bool TrayMenuView::isTrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QAction* TrayMenuView::action(MenuItemId id) const {
    auto found = std::find_if(actions_.begin(), actions_.end(),
                              [id](const auto& entry) { return entry.first == id; });
    return found == actions_.end() ? nullptr : found->second;
}

void TrayMenuView::build() {
    for (const MenuRow& row : model_.rows()) {
        if (row.separatorBefore) {
            qmenu_->addSeparator();
        }
        QAction* entry = qmenu_->addAction(QString());
        entry->setShortcut(shortcutFor(row.shortcut));
        entry->setCheckable(row.checkable);
        const MenuItemId id = row.id;
        // The model decides whether the row may act (shown, enabled, has an action), and
        // what its check mark shows: Qt's own toggle on the click is put back to the model's.
        connect(entry, &QAction::triggered, this, [this, id] {
            model_.activate(id);
            showRow(id);
        });
        actions_.emplace_back(id, entry);
        showRow(id);
    }
}

void TrayMenuView::showRow(MenuItemId id) {
    QAction* entry = action(id);
    if (entry == nullptr) {
        return;
    }
    const MenuRow& row = model_.row(id);
    entry->setText(overDBus_ ? dbusMenuText(row.title) : menuText(row.title));
    entry->setEnabled(row.enabled);
    entry->setVisible(!row.hidden);
    entry->setChecked(row.checked);
}

void TrayMenuView::showGlyph() {
    const QString glyph = QString::fromStdString(model_.glyph());
    tray_->setIcon(glyphIcon(glyph));
    tray_->setToolTip(appName_ + QLatin1Char(' ') + glyph);
}

QIcon TrayMenuView::glyphIcon(const QString& glyph) {
    QIcon icon;
    std::vector<qreal> ratios{1.0};
    if (qGuiApp != nullptr && qGuiApp->devicePixelRatio() != 1.0) {
        ratios.push_back(qGuiApp->devicePixelRatio());
    }
    for (qreal ratio : ratios) {
        for (int size : kIconSizes) {
            icon.addPixmap(glyphPixmap(glyph, size, ratio));
        }
    }
    return icon;
}

QString TrayMenuView::menuText(const std::string& title) {
    return oneLine(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString TrayMenuView::dbusMenuText(const std::string& title) {
    QString text = oneLine(title).replace(QLatin1Char('_'), QStringLiteral("__"));
    // Qt's export turns the first '&' into the access mark '_': doubled, the mark falls on
    // the second, which is drawn.
    if (const qsizetype first = text.indexOf(QLatin1Char('&')); first >= 0) {
        text.insert(first, QLatin1Char('&'));
    }
    return text;
}

}  // namespace pellora
