#include "ui/WorldOutlines.h"

#include <QFile>

#include <cstring>

namespace pellora {
namespace {

constexpr char kMagic[4] = {'P', 'L', 'N', 'D'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 16;
constexpr std::int16_t kMinQuantized = -32767;

std::uint16_t u16At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t u32At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::int16_t i16At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int16_t>(u16At(bytes, at));
}

}  // namespace

WorldOutlines WorldOutlines::fromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        u16At(bytes, 4) != kVersion) {
        return {};
    }
    const std::uint32_t rings = u32At(bytes, 8);
    const std::uint32_t points = u32At(bytes, 12);
    if (rings == 0 || rings > maxRings || points > maxPoints) {
        return {};
    }
    // Both counts are bounded, so this cannot overflow; the file must be exactly this long.
    const std::size_t expected = kHeaderBytes + std::size_t{4} * rings + std::size_t{4} * points;
    if (bytes.size() != expected) {
        return {};
    }

    WorldOutlines outlines;
    outlines.ringStarts_.reserve(rings);
    outlines.ringSizes_.reserve(rings);
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < rings; ++i) {
        const std::uint32_t size = u32At(bytes, kHeaderBytes + std::size_t{4} * i);
        if (size < 3 || total + size > points) {
            return {};
        }
        outlines.ringStarts_.push_back(static_cast<std::uint32_t>(total));
        outlines.ringSizes_.push_back(size);
        total += size;
    }
    if (total != points) {
        return {};
    }

    outlines.points_.reserve(points);
    const std::size_t pointsAt = kHeaderBytes + std::size_t{4} * rings;
    for (std::uint32_t i = 0; i < points; ++i) {
        const LandPoint point{i16At(bytes, pointsAt + std::size_t{4} * i),
                              i16At(bytes, pointsAt + std::size_t{4} * i + 2)};
        // -32768 would lie just beyond the pole or the antimeridian.
        if (point.lon < kMinQuantized || point.lat < kMinQuantized) {
            return {};
        }
        outlines.points_.push_back(point);
    }
    return outlines;
}

std::shared_ptr<const WorldOutlines> WorldOutlines::bundled() {
    static const std::shared_ptr<const WorldOutlines> land = [] {
        // A compiled-in resource: reading it touches no disk.
        QFile file(QStringLiteral(":/pellora/world-land-50m.bin"));
        if (!file.open(QIODevice::ReadOnly)) {
            return std::make_shared<const WorldOutlines>();
        }
        const QByteArray bytes = file.readAll();
        return std::make_shared<const WorldOutlines>(
            fromBytes({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size())}));
    }();
    return land;
}

std::span<const LandPoint> WorldOutlines::ring(std::size_t index) const {
    if (index >= ringSizes_.size()) {
        return {};
    }
    return std::span<const LandPoint>(points_).subspan(ringStarts_[index], ringSizes_[index]);
}

std::size_t WorldOutlines::residentBytes() const {
    return points_.capacity() * sizeof(LandPoint) +
           (ringStarts_.capacity() + ringSizes_.capacity()) * sizeof(std::uint32_t);
}

}  // namespace pellora
