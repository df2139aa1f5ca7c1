#include "model/CurveStore.h"

#include <array>

#include "model/NumberRecords.h"

namespace pellora {

std::shared_ptr<CurveStore> CurveStore::create(const std::string& monitorID,
                                               SettingsStore& settings) {
    std::shared_ptr<CurveStore> store(new CurveStore(monitorID, settings));
    store->subscription_ = settings.onRemoteChange([weak = store->weak_from_this()] {
        if (auto self = weak.lock()) {
            self->load(/*notify=*/true);
        }
    });
    return store;
}

CurveStore::CurveStore(const std::string& monitorID, SettingsStore& settings)
    : key_("monitor." + monitorID + ".curvePointsV1"), settings_(settings) {
    load(/*notify=*/false);
}

void CurveStore::load(bool notify) {
    // A damaged synced copy leaves this machine's own in charge.
    std::optional<std::vector<CurvePoint>> decoded;
    for (const auto& bytes : settings_.dataCopies(key_)) {
        if ((decoded = decode(bytes))) {
            break;
        }
    }
    points_ = decoded ? std::move(*decoded) : std::vector<CurvePoint>{};
    // A copy, so the callback may replace itself.
    if (auto callback = onChange_; notify && callback) {
        callback();
    }
}

std::optional<std::vector<CurvePoint>> CurveStore::decode(std::string_view bytes) {
    static constexpr std::array<std::string_view, 2> fields{"luma", "brightness"};
    std::vector<CurvePoint> points;
    const bool whole = readNumberRecords(bytes, fields, [&](std::span<const double> n) {
        points.push_back({n[0], n[1]});
    });
    return whole ? std::optional(std::move(points)) : std::nullopt;
}

}  // namespace pellora
