#include "ui/NativeControlsSection.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "display/BrightnessController.h"
#include "display/MonitorCapabilities.h"
#include "display/MonitorScope.h"
#include "ui/OneLine.h"
#include "ui/ToneLabel.h"
#include "ui/UiFonts.h"

namespace pellora {

namespace {

constexpr int rowLabelWidth = 110;
// A damaged capabilities string ("model(" never closed) makes the rest of it the model;
// past this many characters it is cut, or the line would stretch the window.
constexpr qsizetype maxModelCharacters = 40;

// The model as one short line: control characters and runs of white space become one space.
QString modelText(const std::string& model) {
    QString text = oneLine(model).simplified();
    if (text.size() > maxModelCharacters) {
        text = text.left(maxModelCharacters).trimmed() + u'…';
    }
    return text;
}

}  // namespace

NativeControlsSection::NativeControlsSection(std::shared_ptr<BrightnessController> controller,
                                             QObject* parent)
    : QObject(parent), controller_(std::move(controller)) {
    rows_[colorPreset].code = 0x14;
    rows_[colorPreset].labels = &VCPLabels::colorPreset();
    rows_[pictureMode].code = 0xDC;
    rows_[pictureMode].labels = &VCPLabels::pictureMode();
    rows_[inputSource].code = 0x60;
    rows_[inputSource].labels = &VCPLabels::inputSource();
}

void NativeControlsSection::addTo(QVBoxLayout& column) {
    title_ = new ToneLabel("Native controls (DDC/CI) — indexed from the monitor itself",
                           ToneLabel::Tone::secondary, 11, QFont::DemiBold);
    column.addWidget(title_);
    const char* names[] = {"Color preset", "Picture mode", "Input source"};
    for (int i = 0; i < 3; ++i) {
        Row& row = rows_[i];
        row.row = new QWidget;
        auto* layout = new QHBoxLayout(row.row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        auto* label = new ToneLabel(names[i], ToneLabel::Tone::primary, 12);
        label->setFixedWidth(rowLabelWidth);
        row.popup = new QComboBox;
        row.popup->setFont(uifonts::system(12));
        label->setBuddy(row.popup);
        layout->addWidget(label, 0, Qt::AlignVCenter);
        layout->addWidget(row.popup, 0, Qt::AlignVCenter);
        layout->addStretch(1);
        // activated, not currentIndexChanged: choosing the item already shown writes too.
        connect(row.popup, &QComboBox::activated, this, [this, i] { chosen(rows_[i]); });
        row.row->hide();
        column.addWidget(row.row);
    }
    status_ = new ToneLabel("", ToneLabel::Tone::tertiary, 10);
    column.addWidget(status_);
}

void NativeControlsSection::refresh(const MonitorScope* scope) {
    if (scope == nullptr || !scope->capabilities()) {
        for (Row& row : rows_) {
            row.row->hide();
        }
        status_->setText(scope == nullptr ? "" : "Reading capabilities…");
        return;
    }
    const MonitorCapabilities& caps = *scope->capabilities();
    for (Row& row : rows_) {
        auto found = caps.vcps.find(row.code);
        populate(row, found == caps.vcps.end() ? nullptr : &found->second);
    }
    QString line = QString("Indexed %1 VCP codes").arg(caps.vcps.size());
    if (caps.model) {
        line += " · " + modelText(*caps.model);
    }
    status_->setText(line);
}

void NativeControlsSection::populate(Row& row, const std::vector<std::uint8_t>* values) {
    if (values == nullptr || values->empty()) {
        row.row->hide();
        return;
    }
    row.row->show();
    // The window refreshes every few seconds: rebuilding an unchanged list would put the
    // first item back over the one just chosen, and would close a list open under the
    // pointer.
    if (*values == row.values) {
        return;
    }
    // Another list (another monitor swapped in): one held open would offer the old monitor's
    // values to the new one.
    row.popup->hidePopup();
    row.values = *values;
    row.popup->clear();
    for (std::uint8_t value : *values) {
        auto label = row.labels->find(value);
        QString title = label != row.labels->end() ? QString::fromStdString(label->second)
                                                   : QString::asprintf("Value 0x%02X", value);
        row.popup->addItem(title, QVariant::fromValue<uint>(value));
    }
}

void NativeControlsSection::chosen(const Row& row) {
    QVariant value = row.popup->currentData();
    if (row.popup->currentIndex() < 0 || !value.isValid()) {
        return;
    }
    controller_->setVCP(row.code, static_cast<std::uint16_t>(value.toUInt() & 0xFF));
}

}  // namespace pellora
