#pragma once

#include <QObject>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace pellora {

class Clock;
class MapPickerView;
class Queue;
class SettingsStore;

// Where the user is: typed, picked on the map or guessed from the time zone. Sunrise and
// sunset there decide when room light is sampled more often.
class LocationSection final : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* latitudeKey = "userLat";
    static constexpr const char* longitudeKey = "userLon";
    // Degrees of latitude and longitude the map shows around the place.
    static constexpr double spanLat = 60.0;
    static constexpr double spanLon = 80.0;

    // The real time the map's moves are timed on (main thread).
    struct Animation {
        const Clock& clock;
        Queue& queue;
    };

    // `clock` is the desk's, for the solar line; `work` runs the time-zone guess, which reads
    // the system's zone files.
    // `closeReadingsLeft` says whether the week's readings still allow the close cadence.
    LocationSection(SettingsStore& settings, const Clock& clock, Queue& main, Queue& work,
                    Animation animation, std::function<bool()> closeReadingsLeft,
                    QObject* parent = nullptr);

    void addTo(QVBoxLayout& column);
    // Fields and map from the stored place (or New York).
    void load();
    void applyLocation(double lat, double lon);
    void updateSolarLabel();

    // A whole floating-point number with a decimal point; white space, grouping or any other
    // character around it makes it no number, and so do infinities and NaN.
    static std::optional<double> parseCoordinate(const QString& text);

    QLineEdit& latitudeField() const { return *latField_; }
    QLineEdit& longitudeField() const { return *lonField_; }
    QPushButton& autoLocationButton() const { return *autoButton_; }
    MapPickerView& map() const { return *map_; }
    QLabel& solarLabel() const { return *solarLabel_; }

  private:
    std::pair<double, double> stored() const;
    void locationChanged();
    void autoDetectLocation();
    void showInFields(double lat, double lon);

    SettingsStore& settings_;
    const Clock& clock_;
    Queue& main_;
    Queue& work_;
    Animation animation_;
    std::function<bool()> closeReadingsLeft_;
    QLineEdit* latField_ = nullptr;
    QLineEdit* lonField_ = nullptr;
    QPushButton* autoButton_ = nullptr;
    MapPickerView* map_ = nullptr;
    QLabel* solarLabel_ = nullptr;
};

}  // namespace pellora
