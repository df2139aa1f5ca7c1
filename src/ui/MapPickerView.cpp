#include "ui/MapPickerView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ui/ChartStyle.h"

namespace pellora {
namespace {

constexpr double kPi = std::numbers::pi;
// Where the outlines' polar points are drawn: beyond the map's edge, yet finite.
constexpr double kPolarLatitude = 89.9;
constexpr double kFrameSeconds = 1.0 / 60.0;
// Land closer than this to the previous kept vertex adds nothing visible.
constexpr double kMinStepPixels = 0.5;
constexpr double kMinRingPixels = 0.75;
constexpr double kMinGridPixels = 48.0;

// North at 0, south at 1, for latitudes within the map's edge.
double unitY(double lat) {
    const double clamped = std::clamp(lat, -kPolarLatitude, kPolarLatitude);
    return (1.0 - std::asinh(std::tan(clamped * kPi / 180.0)) / kPi) / 2.0;
}

double latitudeAt(double y) {
    return std::atan(std::sinh(kPi * (1.0 - 2.0 * y))) * 180.0 / kPi;
}

// Into -180..180 (180 itself reads as -180: the same meridian).
double wrappedLongitude(double lon) {
    return lon - 360.0 * std::floor((lon + 180.0) / 360.0);
}

double easeInOut(double t) {
    return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
}

// The spacing of the faint grid: the first round step at least kMinGridPixels apart.
double gridStep(double pixelsPerDegree) {
    for (double step : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0}) {
        if (step * pixelsPerDegree >= kMinGridPixels) {
            return step;
        }
    }
    return 45.0;
}

}  // namespace

MapPickerView::MapPickerView(Queue& mainQueue, const Clock& clock,
                             std::shared_ptr<const WorldOutlines> land, QWidget* parent)
    : QWidget(parent), mainQueue_(mainQueue), clock_(clock) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(64, 48);
    if (land != nullptr) {
        project(*land);
    }
    camera_ = fitted(wanted_);
}

MapPickerView::~MapPickerView() {
    stopAnimation();
}

void MapPickerView::project(const WorldOutlines& land) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < land.ringCount(); ++i) {
        total += land.ring(i).size() + 3;
    }
    unitPoints_.reserve(total);
    rings_.reserve(land.ringCount());
    for (std::size_t i = 0; i < land.ringCount(); ++i) {
        const std::span<const LandPoint> ring = land.ring(i);
        if (ring.empty()) {
            continue;
        }
        ProjectedRing projected;
        projected.first = static_cast<std::uint32_t>(unitPoints_.size());
        projected.coastCount = static_cast<std::uint32_t>(ring.size());
        // A ring crossing the antimeridian continues past ±180 instead of jumping back, so
        // it stays one shape; the copies drawn a world to each side show its other end.
        const double firstLon = WorldOutlines::coordinate(ring[0]).lon;
        double lon = firstLon;
        double previous = firstLon;
        double latSum = 0;
        const auto stepTo = [&](double next) {
            const double delta = next - previous;
            lon += delta - 360.0 * std::round(delta / 360.0);
            previous = next;
        };
        for (const LandPoint point : ring) {
            const Coordinate c = WorldOutlines::coordinate(point);
            stepTo(c.lon);
            latSum += c.lat;
            unitPoints_.push_back(
                {static_cast<float>((lon + 180.0) / 360.0), static_cast<float>(unitY(c.lat))});
        }
        stepTo(firstLon);
        const double drift = lon - firstLon;
        if (std::abs(drift) > 180.0) {
            // The ring goes once round a pole (Antarctica): close it along the pole.
            const auto poleY = static_cast<float>(unitY(latSum < 0 ? -90.0 : 90.0));
            const UnitPoint start = unitPoints_[projected.first];
            const auto end = static_cast<float>(start.x + drift / 360.0);
            unitPoints_.push_back({end, start.y});
            unitPoints_.push_back({end, poleY});
            unitPoints_.push_back({start.x, poleY});
        }
        projected.count = static_cast<std::uint32_t>(unitPoints_.size()) - projected.first;
        constexpr float kFar = std::numeric_limits<float>::max();
        float left = kFar, right = -kFar, top = kFar, bottom = -kFar;
        for (std::uint32_t n = projected.first; n < projected.first + projected.count; ++n) {
            left = std::min(left, unitPoints_[n].x);
            right = std::max(right, unitPoints_[n].x);
            top = std::min(top, unitPoints_[n].y);
            bottom = std::max(bottom, unitPoints_[n].y);
        }
        projected.bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
        rings_.push_back(projected);
    }
}

double MapPickerView::minScale() const {
    // The world covers the view both ways: no band beyond a pole, no land shown twice.
    return std::max({static_cast<double>(width()), static_cast<double>(height()), 64.0});
}

double MapPickerView::maxScale() const {
    const double shorter = std::max(std::min(width(), height()), 1);
    return std::max(minScale(), shorter * 360.0 / minSpanDegrees);
}

MapPickerView::Camera MapPickerView::clamped(Camera camera) const {
    if (!std::isfinite(camera.scale)) {
        camera.scale = camera.scale > 0 ? maxScale() : minScale();
    }
    camera.scale = std::clamp(camera.scale, minScale(), maxScale());
    const double half = height() / 2.0 / camera.scale;
    camera.y = half >= 0.5 ? 0.5 : std::clamp(camera.y, half, 1.0 - half);
    camera.x -= std::floor(camera.x);
    return camera;
}

MapPickerView::Camera MapPickerView::fitted(const MapRegion& wanted) const {
    const double lat = std::clamp(wanted.centre.lat, -maxLatitude, maxLatitude);
    const double halfLat = std::abs(wanted.spanLat) / 2;
    const double y = unitY(lat);
    // The centre stays in the middle, so the half that Mercator stretches more decides.
    const double halfY = std::max(y - unitY(std::min(lat + halfLat, maxLatitude)),
                                  unitY(std::max(lat - halfLat, -maxLatitude)) - y);
    const double spanX = std::min(std::abs(wanted.spanLon), 360.0) / 360.0;
    // A zero span asks for the closest view; the limits take it from there.
    const double scale = std::min(spanX > 0 ? width() / spanX : HUGE_VAL,
                                  halfY > 0 ? height() / (2 * halfY) : HUGE_VAL);
    return clamped({(wrappedLongitude(wanted.centre.lon) + 180.0) / 360.0, y, scale});
}

QPointF MapPickerView::unitAt(QPointF point, const Camera& camera) const {
    return {camera.x + (point.x() - width() / 2.0) / camera.scale,
            camera.y + (point.y() - height() / 2.0) / camera.scale};
}

Coordinate MapPickerView::coordinateAt(QPointF point) const {
    const QPointF unit = unitAt(point, camera_);
    return {latitudeAt(std::clamp(unit.y(), 0.0, 1.0)), wrappedLongitude(unit.x() * 360.0 - 180.0)};
}

std::optional<QPointF> MapPickerView::pointFor(Coordinate place) const {
    if (!std::isfinite(place.lat) || !std::isfinite(place.lon) || std::abs(place.lat) > 90.0) {
        return std::nullopt;
    }
    double x = (wrappedLongitude(place.lon) + 180.0) / 360.0;
    x += std::round(camera_.x - x);
    const double y = unitY(std::clamp(place.lat, -maxLatitude, maxLatitude));
    return QPointF((x - camera_.x) * camera_.scale + width() / 2.0,
                   (y - camera_.y) * camera_.scale + height() / 2.0);
}

void MapPickerView::setRegion(Coordinate centre, double spanLat, double spanLon, bool animated) {
    if (!std::isfinite(centre.lat) || !std::isfinite(centre.lon) || !std::isfinite(spanLat) ||
        !std::isfinite(spanLon)) {
        return;
    }
    wanted_ = {centre, spanLat, spanLon};
    followWanted_ = true;
    if (!animated || !isVisible() || width() <= 0 || height() <= 0) {
        stopAnimation();
        setCamera(fitted(wanted_));
        return;
    }
    stopAnimation();
    animation_ = Animation{camera_, clock_.monotonic(), nullptr};
    scheduleTick();
}

MapRegion MapPickerView::region() const {
    if (width() <= 0 || height() <= 0) {
        return wanted_;
    }
    const double half = height() / 2.0 / camera_.scale;
    return {
        coordinateAt(QPointF(width() / 2.0, height() / 2.0)),
        latitudeAt(std::max(camera_.y - half, 0.0)) - latitudeAt(std::min(camera_.y + half, 1.0)),
        width() / camera_.scale * 360.0};
}

void MapPickerView::setMarker(std::optional<Coordinate> place) {
    if (place &&
        (!std::isfinite(place->lat) || !std::isfinite(place->lon) || std::abs(place->lat) > 90.0)) {
        place.reset();
    }
    marker_ = place;
    update();
}

void MapPickerView::setCamera(Camera camera) {
    camera_ = camera;
    update();
}

void MapPickerView::stopAnimation() {
    if (animation_ && animation_->tick) {
        animation_->tick->cancel();
    }
    animation_.reset();
}

void MapPickerView::scheduleTick() {
    animation_->tick = mainQueue_.postAfter(kFrameSeconds, [view = QPointer(this)] {
        if (view != nullptr) {
            view->step();
        }
    });
}

void MapPickerView::step() {
    if (!animation_) {
        return;
    }
    const double t = (clock_.monotonic() - animation_->start) / animationSeconds;
    const Camera target = fitted(wanted_);
    if (t >= 1.0) {
        animation_.reset();
        setCamera(target);
        return;
    }
    const Camera& from = animation_->from;
    const double e = easeInOut(std::max(t, 0.0));
    // The short way round the world.
    const double toX = target.x + std::round(from.x - target.x);
    const double scale = from.scale * std::pow(target.scale / from.scale, e);
    setCamera(clamped({from.x + (toX - from.x) * e, from.y + (target.y - from.y) * e, scale}));
    scheduleTick();
}

void MapPickerView::takeOver() {
    stopAnimation();
    followWanted_ = false;
}

void MapPickerView::panBy(QPointF delta) {
    if (delta.isNull()) {
        return;
    }
    Camera camera = camera_;
    camera.x -= delta.x() / camera.scale;
    camera.y -= delta.y() / camera.scale;
    setCamera(clamped(camera));
}

void MapPickerView::zoomAbout(QPointF point, double factor) {
    const QPointF unit = unitAt(point, camera_);
    Camera camera = camera_;
    camera.scale = std::clamp(camera.scale * factor, minScale(), maxScale());
    camera.x = unit.x() - (point.x() - width() / 2.0) / camera.scale;
    camera.y = unit.y() - (point.y() - height() / 2.0) / camera.scale;
    setCamera(clamped(camera));
}

void MapPickerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // While animating, each step fits the owner's region to the new size anyway.
    if (animation_) {
        return;
    }
    camera_ = followWanted_ ? fitted(wanted_) : clamped(camera_);
}

void MapPickerView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    downPoint_ = event->position();
    takeOver();
    panFrom_ = event->position();
    event->accept();
}

void MapPickerView::mouseMoveEvent(QMouseEvent* event) {
    if (!panFrom_ || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    panBy(event->position() - *panFrom_);
    panFrom_ = event->position();
    event->accept();
}

void MapPickerView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPointF point = event->position();
    // The pan ends first, so the place picked is the one under the pointer now.
    if (panFrom_) {
        panBy(point - *panFrom_);
        panFrom_.reset();
    }
    const std::optional<QPointF> down = std::exchange(downPoint_, std::nullopt);
    event->accept();
    if (down && std::hypot(point.x() - down->x(), point.y() - down->y()) < clickThreshold &&
        onPick) {
        // A copy: the owner may replace or drop the callback, or this view, while it runs.
        const auto pick = onPick;
        pick(coordinateAt(point));
    }
}

void MapPickerView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    takeOver();
    // Two notches double the scale.
    zoomAbout(event->position(), std::pow(2.0, notches / 2.0));
    event->accept();
}

void MapPickerView::keyPressEvent(QKeyEvent* event) {
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double stepX = width() / 4.0;
    const double stepY = height() / 4.0;
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            takeOver();
            zoomAbout(centre, 2.0);
            break;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            takeOver();
            zoomAbout(centre, 0.5);
            break;
        case Qt::Key_Left:
            takeOver();
            panBy({stepX, 0});
            break;
        case Qt::Key_Right:
            takeOver();
            panBy({-stepX, 0});
            break;
        case Qt::Key_Up:
            takeOver();
            panBy({0, stepY});
            break;
        case Qt::Key_Down:
            takeOver();
            panBy({0, -stepY});
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            // The place under the cross in the middle, which the arrows moved there.
            if (onPick) {
                const auto pick = onPick;
                pick(coordinateAt(centre));
            }
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void MapPickerView::addRing(LandPath& path, const ProjectedRing& ring, double shift) const {
    const double scale = path.scale;
    const QPointF origin = path.origin;
    const bool polar = ring.coastCount < ring.count;
    QPainterPath& fill = polar ? path.polarFill : path.land;
    QPointF last;
    for (std::uint32_t n = 0; n < ring.count; ++n) {
        const UnitPoint& unit = unitPoints_[ring.first + n];
        const QPointF point((unit.x + shift - origin.x()) * scale, (unit.y - origin.y()) * scale);
        if (n == 0) {
            fill.moveTo(point);
            if (polar) {
                path.polarCoast.moveTo(point);
            }
        } else if (std::abs(point.x() - last.x()) + std::abs(point.y() - last.y()) >=
                       kMinStepPixels ||
                   n + 1 == ring.coastCount) {
            fill.lineTo(point);
            if (polar && n < ring.coastCount) {
                path.polarCoast.lineTo(point);
            }
        } else {
            continue;
        }
        last = point;
    }
    fill.closeSubpath();
}

QPointF MapPickerView::landPathOffset() {
    const double scale = camera_.scale;
    const QSizeF view(width() / scale, height() / scale);
    QPointF origin(camera_.x - view.width() / 2, camera_.y - view.height() / 2);
    if (landPath_.scale == scale && landPath_.size == size()) {
        // The copy of the world nearest to where the cache was built.
        origin.rx() += std::round(landPath_.origin.x() - origin.x());
        if (landPath_.cover.contains(QRectF(origin, view))) {
            return (landPath_.origin - origin) * scale;
        }
    }

    LandPath path;
    path.scale = scale;
    path.size = size();
    path.origin = origin;
    // Half a view of margin all round: a pan within it only moves the cached path.
    path.cover =
        QRectF(origin, view)
            .adjusted(-view.width() / 2, -view.height() / 2, view.width() / 2, view.height() / 2);
    for (const ProjectedRing& ring : rings_) {
        if (ring.bounds.bottom() < path.cover.top() || ring.bounds.top() > path.cover.bottom() ||
            (ring.bounds.width() * scale < kMinRingPixels &&
             ring.bounds.height() * scale < kMinRingPixels)) {
            continue;
        }
        // Every copy of the world whose ring reaches into the cover (a few at most: the
        // cover is at most two worlds wide).
        const double first = std::ceil(path.cover.left() - ring.bounds.right());
        const double last = std::floor(path.cover.right() - ring.bounds.left());
        for (double shift = first; shift <= last && shift <= first + 4; ++shift) {
            addRing(path, ring, shift);
        }
    }
    landPath_ = std::move(path);
    return {0, 0};
}

std::size_t MapPickerView::residentBytes() const {
    const auto elements = static_cast<std::size_t>(landPath_.land.elementCount() +
                                                   landPath_.polarFill.elementCount() +
                                                   landPath_.polarCoast.elementCount());
    return unitPoints_.capacity() * sizeof(UnitPoint) + rings_.capacity() * sizeof(ProjectedRing) +
           elements * sizeof(QPainterPath::Element);
}

void MapPickerView::paintEvent(QPaintEvent* /*event*/) {
    const QPalette& palette = this->palette();
    const ChartStyle style = ChartStyle::from(palette);
    const bool dark = style.dark;
    const QColor text = palette.color(QPalette::WindowText);
    const QColor base = palette.color(QPalette::Base);
    const QColor blue = dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF);
    const QColor sea = ChartStyle::blend(base, blue, dark ? 0.22 : 0.14);
    // Land a warm shade of the window (not its very colour, which the map sits on).
    const QColor land = ChartStyle::blend(
        ChartStyle::blend(palette.color(QPalette::Window), text, dark ? 0.10 : 0.02), style.yellow,
        dark ? 0.03 : 0.10);
    const QColor coast = ChartStyle::withAlpha(text, dark ? 0.45 : 0.30);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    QPainterPath clip;
    clip.addRoundedRect(bounds, cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    painter.fillRect(bounds, sea);

    const QPointF offset = landPathOffset();
    painter.save();
    painter.translate(offset);
    // Qt's antialiased fill of tens of thousands of edges costs several times the rest of
    // the paint; the antialiased coast drawn over the plain fill hides its stair steps.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(land);
    painter.drawPath(landPath_.land);
    painter.drawPath(landPath_.polarFill);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen coastPen(coast, 1.0);
    coastPen.setCosmetic(true);
    painter.setPen(coastPen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(landPath_.land);
    painter.drawPath(landPath_.polarCoast);
    painter.restore();

    // A faint grid of meridians and parallels at round degrees.
    const double pixelsPerDegree = camera_.scale / 360.0;
    const double step = gridStep(pixelsPerDegree);
    painter.setPen(QPen(ChartStyle::withAlpha(text, dark ? 0.10 : 0.08), 1.0));
    const double westLon = unitAt({0, 0}, camera_).x() * 360.0 - 180.0;
    for (double lon = std::ceil(westLon / step) * step;
         (lon - westLon) * pixelsPerDegree <= width(); lon += step) {
        const double x = (lon - westLon) * pixelsPerDegree;
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    }
    for (double lat = -90.0 + step; lat < 90.0; lat += step) {
        const double y = (unitY(lat) - camera_.y) * camera_.scale + height() / 2.0;
        if (y >= 0 && y <= height()) {
            painter.drawLine(QPointF(0, y), QPointF(width(), y));
        }
    }

    if (const std::optional<QPointF> pin = marker_ ? pointFor(*marker_) : std::nullopt) {
        // Red with a white ring and a dark rim reads on sea and land, light or dark.
        painter.setPen(QPen(QColor(0, 0, 0, 90), 1.0));
        painter.setBrush(Qt::white);
        painter.drawEllipse(*pin, 7.5, 7.5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(style.red);
        painter.drawEllipse(*pin, 5.0, 5.0);
    }

    if (hasFocus()) {
        // The keys' place: Return picks what is under the cross.
        const QPointF middle(width() / 2.0, height() / 2.0);
        painter.setPen(QPen(ChartStyle::withAlpha(text, 0.7), 1.0));
        painter.drawLine(middle - QPointF(8, 0), middle + QPointF(8, 0));
        painter.drawLine(middle - QPointF(0, 8), middle + QPointF(0, 8));
    }

    // The edge hides the clip's stair steps at the corners; in the highlight while the keys
    // act on the map.
    painter.setClipping(false);
    painter.setPen(hasFocus() ? QPen(palette.color(QPalette::Highlight), 1.5)
                              : QPen(ChartStyle::withAlpha(text, dark ? 0.25 : 0.18), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
}

}  // namespace pellora
