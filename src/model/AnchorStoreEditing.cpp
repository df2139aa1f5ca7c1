// Hand edits from the curve editor, and building anchors from the samples log.

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

#include "model/AnchorStore.h"

namespace pellora {

namespace {

// One seeding bucket: one period and one band of 24 luma.
struct Acc {
    double sumB = 0;
    double sumL = 0;
    double sumH = 0;
    double w = 0;
    double t = 0;
    // Night buckets only: whether hours fell before and after midnight, and the hours as
    // angles on the 24-hour circle.
    bool beforeMidnight = false;
    bool afterMidnight = false;
    double sinH = 0;
    double cosH = 0;
};

constexpr int kLumaBands = 11;  // 0..23.99, 24..47.99, ..., 240..255
constexpr double kRadiansPerHour = 2.0 * std::numbers::pi / 24.0;

// The mean hour of a night whose samples straddle midnight, taken on the clock face so
// that 23 and 1 average to 0, not 12.
double nightMeanHour(const Acc& acc) {
    double hour = std::atan2(acc.sinH, acc.cosH) / kRadiansPerHour;
    if (hour < 0) {
        hour += 24.0;
    }
    if (hour >= 24.0) {
        hour -= 24.0;
    }
    // Night hours always average to a night hour; only out-of-range hours in a damaged
    // log can land in the day, and are put on the nearer edge of the night.
    if (dayPeriodOf(hour) == DayPeriod::day) {
        hour = hour < 14.5 ? std::nextafter(7.0, 0.0) : 22.0;
    }
    return hour;
}

}  // namespace

std::vector<std::size_t> AnchorStore::editableIndices(double hour) const {
    const DayPeriod period = dayPeriodOf(hour);
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        if (anchors_[i].period() == period) {
            indices.push_back(i);
        }
    }
    std::stable_sort(indices.begin(), indices.end(), [&](std::size_t x, std::size_t y) {
        return anchors_[x].luma < anchors_[y].luma;
    });
    return indices;
}

std::vector<Anchor> AnchorStore::editable(double hour) const {
    std::vector<Anchor> list;
    for (std::size_t i : editableIndices(hour)) {
        list.push_back(anchors_[i]);
    }
    return list;
}

std::optional<std::size_t> AnchorStore::globalIndex(int position, double hour) const {
    const auto indices = editableIndices(hour);
    if (position < 0 || static_cast<std::size_t>(position) >= indices.size()) {
        return std::nullopt;
    }
    return indices[static_cast<std::size_t>(position)];
}

void AnchorStore::moveEditable(int position, double luma, double brightness, double hour) {
    const auto index = globalIndex(position, hour);
    if (!index) {
        return;
    }
    if (!std::isfinite(luma) || !std::isfinite(brightness)) {
        note("ignored a move to a non-finite point");
        return;
    }
    Anchor& a = anchors_[*index];
    a.luma = std::clamp(luma, 0.0, 255.0);
    a.brightness = std::clamp(brightness, 0.0, 100.0);
    a.t = clock_.now();
    a.weight = std::max(a.weight, 3.0);
    persist();
}

void AnchorStore::removeEditable(int position, double hour) {
    const auto index = globalIndex(position, hour);
    if (!index) {
        return;
    }
    anchors_.erase(anchors_.begin() + static_cast<std::ptrdiff_t>(*index));
    persist();
}

void AnchorStore::clear() {
    // Stored as an empty list, not removed: a store with nothing stored is seeded from the
    // samples log when its monitor next connects, and the cleared curve would come back.
    anchors_.clear();
    persist();
}

void AnchorStore::seedFromSamples(const std::vector<Sample>& samples) {
    // Buckets 0..10 are day bands, 11..21 night bands; `order` keeps first appearance.
    std::array<Acc, 2 * kLumaBands> buckets{};
    std::vector<std::size_t> order;
    for (const Sample& s : samples) {
        if (!s.userSet || !std::isfinite(s.luma) || !std::isfinite(s.t)) {
            continue;
        }
        const bool night = s.hour < 7 || s.hour > 21;
        // Values out of range come only from a damaged log; they count as the range's ends,
        // or two lumas of 1e308 would sum to an anchor that can never be stored.
        const double luma = std::clamp(s.luma, 0.0, 255.0);
        const double band = std::clamp(std::trunc(luma / 24.0), 0.0, kLumaBands - 1.0);
        const std::size_t slot = static_cast<std::size_t>(band) + (night ? kLumaBands : 0);
        Acc& acc = buckets[slot];
        if (acc.w == 0) {
            order.push_back(slot);
        }
        acc.sumB += std::clamp(s.brightness, 0, 100);
        acc.sumL += luma;
        acc.sumH += s.hour;
        acc.w += 1;
        acc.t = std::max(acc.t, s.t);
        if (night) {
            (s.hour > 21 ? acc.beforeMidnight : acc.afterMidnight) = true;
            acc.sinH += std::sin(s.hour * kRadiansPerHour);
            acc.cosH += std::cos(s.hour * kRadiansPerHour);
        }
    }
    if (order.empty()) {
        return;
    }

    const double now = clock_.now();
    std::vector<std::pair<double, Anchor>> seeded;
    for (std::size_t slot : order) {
        const Acc& acc = buckets[slot];
        const bool straddles = acc.beforeMidnight && acc.afterMidnight;
        Anchor a;
        a.luma = acc.sumL / acc.w;
        a.brightness = acc.sumB / acc.w;
        a.hour = straddles ? nightMeanHour(acc) : acc.sumH / acc.w;
        a.t = acc.t > 0 ? acc.t : now;
        a.weight = std::min(acc.w, 4.0);
        seeded.emplace_back(a.decayedWeight(now, halfLifeDays), a);
    }
    std::stable_sort(seeded.begin(), seeded.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    if (seeded.size() > static_cast<std::size_t>(maxAnchors)) {
        seeded.resize(maxAnchors);
    }
    anchors_.clear();
    for (auto& [w, a] : seeded) {
        anchors_.push_back(a);
    }
    persist();
}

}  // namespace pellora
