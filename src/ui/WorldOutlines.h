#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "solar/TimezoneLocations.h"

namespace pellora {

// One vertex of a land outline, quantized: longitude × 32767 / 180, latitude × 32767 / 90.
struct LandPoint {
    std::int16_t lon = 0;
    std::int16_t lat = 0;
};

// The land of the world as closed outlines (Natural Earth at 1:50m, bundled with the
// program). A ring that crosses the antimeridian keeps its longitudes in -180..180, so one
// step of it may jump by nearly 360 degrees; Antarctica's ring also runs along -90.
class WorldOutlines {
  public:
    static constexpr double lonStep = 180.0 / 32767.0;
    static constexpr double latStep = 90.0 / 32767.0;
    // Far beyond the bundled file (about 1,400 rings and 60,000 points); a header claiming
    // more is damaged.
    static constexpr std::uint32_t maxRings = 100'000;
    static constexpr std::uint32_t maxPoints = 4'000'000;

    // No land at all.
    WorldOutlines() = default;

    // The outlines the file holds, or none when it is not a whole, well-formed ring file.
    static WorldOutlines fromBytes(std::span<const std::uint8_t> bytes);
    // The outlines compiled into the program, read once (from memory, never from disk).
    static std::shared_ptr<const WorldOutlines> bundled();

    bool empty() const { return ringSizes_.empty(); }
    std::size_t ringCount() const { return ringSizes_.size(); }
    std::size_t pointCount() const { return points_.size(); }
    // Ring `index`'s vertices in order; the last joins back to the first.
    std::span<const LandPoint> ring(std::size_t index) const;
    static Coordinate coordinate(LandPoint point) {
        return {point.lat * latStep, point.lon * lonStep};
    }
    // Heap bytes held.
    std::size_t residentBytes() const;

  private:
    std::vector<LandPoint> points_;
    std::vector<std::uint32_t> ringStarts_;
    std::vector<std::uint32_t> ringSizes_;
};

}  // namespace pellora
