#include "ui/LocationSection.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>

#include "app/LocalTime.h"
#include "app/SnapshotPolicy.h"
#include "app/StoredChoices.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "solar/SolarCalculator.h"
#include "solar/TimezoneLocations.h"
#include "store/SettingsStore.h"
#include "ui/MapPickerView.h"
#include "ui/ToneLabel.h"
#include "ui/UiFonts.h"

namespace pellora {

namespace {

std::string minutes(double seconds) {
    return std::to_string(static_cast<int>(seconds / 60.0)) + " min";
}

QLineEdit* coordinateField() {
    auto* field = new QLineEdit;
    field->setFixedWidth(90);
    field->setFont(uifonts::monospaced(12));
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return field;
}

QString fourDecimals(double value) {
    return QString::asprintf("%.4f", value);
}

}  // namespace

LocationSection::LocationSection(SettingsStore& settings, const Clock& clock, Queue& main,
                                 Queue& work, Animation animation,
                                 std::function<bool()> closeReadingsLeft, QObject* parent)
    : QObject(parent),
      settings_(settings),
      clock_(clock),
      main_(main),
      work_(work),
      animation_(animation),
      closeReadingsLeft_(std::move(closeReadingsLeft)) {}

void LocationSection::addTo(QVBoxLayout& column) {
    column.addWidget(new ToneLabel("Location — used to schedule denser samples near sunrise/sunset",
                                   ToneLabel::Tone::secondary, 11, QFont::DemiBold));
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    latField_ = coordinateField();
    lonField_ = coordinateField();
    autoButton_ = new QPushButton("Auto-detect from timezone");
    autoButton_->setFont(uifonts::system(11));
    // Each label names its field to a screen reader.
    for (auto [name, field] : {std::pair{"Latitude", latField_}, {"Longitude", lonField_}}) {
        auto* label = new ToneLabel(name, ToneLabel::Tone::primary, 12);
        label->setBuddy(field);
        layout->addWidget(label, 0, Qt::AlignVCenter);
        layout->addWidget(field, 0, Qt::AlignVCenter);
    }
    layout->addWidget(autoButton_, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    column.addWidget(row);

    map_ = new MapPickerView(animation_.queue, animation_.clock);
    map_->setFixedHeight(200);
    map_->setAccessibleName("Location map");
    column.addWidget(map_);
    column.addWidget(
        new ToneLabel("Click anywhere on the map to pick a location (timezone is inferred)",
                      ToneLabel::Tone::tertiary, 10));
    solarLabel_ = new ToneLabel("", ToneLabel::Tone::tertiary, 10);
    // Wrapped, so that a long cadence never widens the window past its width.
    solarLabel_->setWordWrap(true);
    column.addWidget(solarLabel_);

    // editingFinished: Return, or leaving the field, commits the typed text.
    connect(latField_, &QLineEdit::editingFinished, this, &LocationSection::locationChanged);
    connect(lonField_, &QLineEdit::editingFinished, this, &LocationSection::locationChanged);
    connect(autoButton_, &QPushButton::clicked, this, &LocationSection::autoDetectLocation);
    map_->onPick = [self = QPointer<LocationSection>(this)](Coordinate picked) {
        if (self) {
            self->applyLocation(picked.lat, picked.lon);
        }
    };
}

std::pair<double, double> LocationSection::stored() const {
    return {settings_.doubleValue(latitudeKey).value_or(SolarCalculator::defaultLat),
            settings_.doubleValue(longitudeKey).value_or(SolarCalculator::defaultLon)};
}

void LocationSection::load() {
    auto [lat, lon] = stored();
    showInFields(lat, lon);
    map_->setRegion(Coordinate{lat, lon}, spanLat, spanLon, false);
    map_->setMarker(Coordinate{lat, lon});
}

void LocationSection::showInFields(double lat, double lon) {
    latField_->setText(fourDecimals(lat));
    lonField_->setText(fourDecimals(lon));
    // Shown rounded; committing the unchanged text again must not count as an edit.
    latField_->setModified(false);
    lonField_->setModified(false);
}

std::optional<double> LocationSection::parseCoordinate(const QString& text) {
    QByteArray bytes = text.toUtf8();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (first != last && *first == '+') {
        ++first;
    }
    double value = 0;
    auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (first == last || error != std::errc() || end != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void LocationSection::locationChanged() {
    // Leaving a field without typing in it sends the same signal; nothing changed then.
    if (!latField_->isModified() && !lonField_->isModified()) {
        return;
    }
    double lat = parseCoordinate(latField_->text()).value_or(SolarCalculator::defaultLat);
    double lon = parseCoordinate(lonField_->text()).value_or(SolarCalculator::defaultLon);
    applyLocation(lat, lon);
}

void LocationSection::autoDetectLocation() {
    autoButton_->setEnabled(false);
    work_.post([self = QPointer<LocationSection>(this), &clock = clock_, &main = main_] {
        Coordinate guess = TimezoneLocations::guessFromCurrent(clock);
        main.post([self, guess] {
            if (self) {
                self->autoButton_->setEnabled(true);
                self->applyLocation(guess.lat, guess.lon);
            }
        });
    });
}

void LocationSection::applyLocation(double lat, double lon) {
    // 190 is the meridian of -170: the map draws it there, and the schedule, which takes no
    // longitude past ±180, would otherwise use the default place's.
    if (std::isfinite(lon) && std::abs(lon) > 180.0) {
        lon = std::remainder(lon, 360.0);
    }
    showInFields(lat, lon);
    settings_.set(latitudeKey, lat);
    settings_.set(longitudeKey, lon);
    map_->setRegion(Coordinate{lat, lon}, spanLat, spanLon, true);
    map_->setMarker(Coordinate{lat, lon});
    updateSolarLabel();
}

void LocationSection::updateSolarLabel() {
    // The place as the sampling schedule reads it, so that the line tells the cadence in use
    // also when the stored place is one it cannot use (a typed latitude of 95, say).
    const SolarCalculator solar = StoredChoices::location(settings_).value;
    // Following the room closely, the desk's 10 minutes come first and the sun's only away;
    // once the week's readings are spent, the sun's at the desk too.
    const bool follow = StoredChoices::followRoomClosely(settings_);
    const bool closeLeft = !closeReadingsLeft_ || closeReadingsLeft_();
    const std::string cadence =
        follow && closeLeft
            ? " · cadence: " + minutes(SnapshotPolicy::closeInterval) + " at the desk, else "
            : std::string(" · cadence: ");
    const double now = clock_.now();
    const double interval = SnapshotPolicy::interval(now, solar);
    const std::string usual = minutes(interval) +
                              (interval <= SnapshotPolicy::fastInterval ? " (solar window)" : "") +
                              (follow && !closeLeft ? " (this week's readings are used up)" : "");
    auto times = solar.sunriseSunset(now);
    if (!times) {
        solarLabel_->setText(QString::fromStdString("No sunrise/sunset today (polar day or night)" +
                                                    cadence + usual));
        return;
    }
    solarLabel_->setText(
        QString::fromStdString("Sunrise " + localtime::hoursMinutes(times->sunrise) + " · sunset " +
                               localtime::hoursMinutes(times->sunset) + cadence + usual));
}

}  // namespace pellora
