#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/Queue.h"
#include "solar/TimezoneLocations.h"
#include "ui/WorldOutlines.h"

namespace pellora {

// What the map shows: its centre and how many degrees it spans each way.
struct MapRegion {
    Coordinate centre;
    double spanLat = 0;
    double spanLon = 0;
};

// An offline world map (Web Mercator, wrapping east–west) on which one click picks a place.
// Dragging pans, the wheel and the +/- keys zoom, the arrows pan and Return or Space picks
// the place in the middle. A press released 4 points or more from where it began was a pan
// and picks nothing.
class MapPickerView final : public QWidget {
  public:
    static constexpr double clickThreshold = 4.0;
    static constexpr double animationSeconds = 0.25;
    // Web Mercator's edge: the latitude whose square world ends there.
    static constexpr double maxLatitude = 85.0511287798066;
    // Zoomed in all the way, the view's shorter side spans this many degrees of longitude.
    static constexpr double minSpanDegrees = 2.0;
    static constexpr double cornerRadius = 8.0;

    // `mainQueue` and `clock` time the animated moves and outlive the view.
    MapPickerView(Queue& mainQueue, const Clock& clock,
                  std::shared_ptr<const WorldOutlines> land = WorldOutlines::bundled(),
                  QWidget* parent = nullptr);
    ~MapPickerView() override;

    // Called with the place clicked.
    std::function<void(Coordinate)> onPick;
    // Where the current press began, in view coordinates.
    const std::optional<QPointF>& downPoint() const { return downPoint_; }

    // Fits the region into the view keeping the map's aspect, as a platform map does: the
    // centre lands in the middle and both spans are visible. Latitudes beyond the map's edge
    // and longitudes beyond ±180 are brought inside; a region with a number that is not
    // finite is ignored. Until the user moves the map, the region is refitted whenever the
    // view is resized. A hidden view moves at once instead of animating.
    void setRegion(Coordinate centre, double spanLat, double spanLon, bool animated);
    // What is visible now: the coordinate at the view's centre and the spans of its edges.
    MapRegion region() const;

    // The one pin on the map; none for a place that does not exist (|lat| > 90, not finite).
    void setMarker(std::optional<Coordinate> place);
    const std::optional<Coordinate>& marker() const { return marker_; }

    // The place under a view point (longitude in -180..180).
    Coordinate coordinateAt(QPointF point) const;
    // Where a place is drawn: its copy nearest the view's centre. None for a place that
    // does not exist.
    std::optional<QPointF> pointFor(Coordinate place) const;

    // Heap bytes of the projected outlines and of the cached land path.
    std::size_t residentBytes() const;

    QSize sizeHint() const override { return {528, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // The map's position: its centre in world units (0..1 west to east from -180, north to
    // south between the map's edges) and the width of the whole world in view pixels.
    struct Camera {
        double x = 0.5;
        double y = 0.5;
        double scale = 512;
    };
    struct ProjectedRing {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
        // Points of the coast itself; the rest close a ring round a pole and get no stroke.
        std::uint32_t coastCount = 0;
        QRectF bounds;
    };
    struct UnitPoint {
        float x = 0;
        float y = 0;
    };
    // The land drawn for one scale and size, in pixels from `origin` (the world point at the
    // view's top-left when it was built); valid while the view stays inside `cover`.
    struct LandPath {
        double scale = 0;
        QSize size;
        QPointF origin;
        QRectF cover;
        QPainterPath land;
        // Rings round a pole: filled closed, stroked open.
        QPainterPath polarFill;
        QPainterPath polarCoast;
    };
    struct Animation {
        Camera from;
        double start = 0;
        WorkItemPtr tick;
    };

    void project(const WorldOutlines& land);
    Camera fitted(const MapRegion& wanted) const;
    Camera clamped(Camera camera) const;
    double minScale() const;
    double maxScale() const;
    QPointF unitAt(QPointF point, const Camera& camera) const;
    void setCamera(Camera camera);
    void panBy(QPointF delta);
    void zoomAbout(QPointF point, double factor);
    // The user took the map: no animation and no refitting to the owner's region.
    void takeOver();
    void stopAnimation();
    void scheduleTick();
    void step();
    // The cached land for the current camera, and where to draw it.
    QPointF landPathOffset();
    void addRing(LandPath& path, const ProjectedRing& ring, double shift) const;

    Queue& mainQueue_;
    const Clock& clock_;
    std::vector<UnitPoint> unitPoints_;
    std::vector<ProjectedRing> rings_;
    Camera camera_;
    MapRegion wanted_{{0, 0}, 180, 360};
    bool followWanted_ = true;
    std::optional<Animation> animation_;
    std::optional<QPointF> downPoint_;
    std::optional<QPointF> panFrom_;
    std::optional<Coordinate> marker_;
    LandPath landPath_;
};

}  // namespace pellora
