#include "model/AnchorStore.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "model/NumberRecords.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"

namespace pellora {

namespace {

bool allFinite(const Anchor& a) {
    return std::isfinite(a.luma) && std::isfinite(a.brightness) && std::isfinite(a.hour) &&
           std::isfinite(a.t) && std::isfinite(a.weight);
}

}  // namespace

std::shared_ptr<AnchorStore> AnchorStore::create(const std::string& monitorID,
                                                 SettingsStore& settings, const Clock& clock,
                                                 DebugLog* log) {
    std::shared_ptr<AnchorStore> store(new AnchorStore(monitorID, settings, clock, log));
    store->subscribe();
    return store;
}

AnchorStore::AnchorStore(const std::string& monitorID, SettingsStore& settings, const Clock& clock,
                         DebugLog* log)
    : key_("monitor." + monitorID + ".anchorsV1"), settings_(settings), clock_(clock), log_(log) {
    load(/*notify=*/false);
}

void AnchorStore::subscribe() {
    subscription_ = settings_.onRemoteChange(
        whileAlive(this, [](const auto& self) { self->load(/*notify=*/true); }));
}

void AnchorStore::load(bool notify) {
    anchors_.clear();
    storedEmpty_ = false;
    // Read as bytes, so a synced value of another type leaves the local copy in charge, and
    // so does a synced copy that is damaged: the next choice would write over the good one.
    const auto copies = settings_.dataCopies(key_);
    bool loaded = false;
    for (std::size_t i = 0; i < copies.size() && !loaded; ++i) {
        if (auto decoded = decode(copies[i])) {
            anchors_ = std::move(*decoded);
            loaded = true;
            storedEmpty_ = anchors_.empty();
            if (i > 0) {
                note("synced anchors under " + key_ + " do not decode; using this machine's own");
            }
        }
    }
    if (!loaded && (!copies.empty() || settings_.value(key_))) {
        note("stored anchors under " + key_ + " do not decode; starting empty");
    }
    dropFaded(clock_.now());
    if (anchors_.size() > maxLoadedAnchors) {
        // No store of ours writes such a list; every prediction would pay for its length.
        note("stored anchors under " + key_ + " number " + std::to_string(anchors_.size()) +
             ", more than the " + std::to_string(maxAnchors) + " kept; using the strongest");
        keepStrongest();
    }
    if (notify) {
        changed();
    }
}

void AnchorStore::keepStrongest() {
    // Pruning drops the weakest of a period at a time, so what it keeps of each period is
    // among that period's strongest `maxAnchors`: only those go through it, which keeps a
    // list of thousands from costing the square of its length.
    const double now = clock_.now();
    std::vector<std::pair<double, std::size_t>> ranked;
    ranked.reserve(anchors_.size());
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        const double w = anchors_[i].decayedWeight(now, halfLifeDays);
        ranked.emplace_back(std::isnan(w) ? -std::numeric_limits<double>::infinity() : w, i);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    std::vector<bool> kept(anchors_.size(), false);
    int days = 0;
    int nights = 0;
    for (const auto& [weight, i] : ranked) {
        int& count = anchors_[i].period() == DayPeriod::day ? days : nights;
        if (count < maxAnchors) {
            ++count;
            kept[i] = true;
        }
    }
    std::vector<Anchor> strongest;
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        if (kept[i]) {
            strongest.push_back(anchors_[i]);
        }
    }
    anchors_ = std::move(strongest);
    prune(std::nullopt);
}

void AnchorStore::dropFaded(double now) {
    std::erase_if(anchors_, [&](const Anchor& a) { return a.decayedWeight(now) < minWeight; });
}

void AnchorStore::observe(double luma, double brightness, double hour, double weight) {
    if (!std::isfinite(luma) || !std::isfinite(brightness) || !std::isfinite(hour) ||
        !std::isfinite(weight)) {
        // Kept out of the list: one such anchor would stop every later write of it.
        note("ignored an observation with a non-finite value");
        return;
    }
    dropFaded(clock_.now());
    const double stamp = clock_.now();
    const DayPeriod period = dayPeriodOf(hour);

    std::optional<std::size_t> nearest;
    double nearestDistance = 0;
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        if (anchors_[i].period() != period) {
            continue;
        }
        const double distance = std::fabs(luma - anchors_[i].luma);
        if (distance <= mergeLumaDist && (!nearest || distance < nearestDistance)) {
            nearest = i;
            nearestDistance = distance;
        }
    }

    if (!nearest) {
        anchors_.push_back({luma, brightness, hour, stamp, weight});
    } else {
        Anchor& a = anchors_[*nearest];
        const double decayed = a.decayedWeight(stamp, halfLifeDays);
        // A morning choice that the day confirms stays one: else the fade stops heeding it
        // and the same correction comes back the next morning. One the day overrules does not.
        if (!inMorningFade(a.hour) || inMorningFade(hour) ||
            std::fabs(brightness - a.brightness) > morningAgreement) {
            a.hour = hour;
        }
        a.luma = mergeAlpha * luma + (1 - mergeAlpha) * a.luma;
        a.brightness = mergeAlpha * brightness + (1 - mergeAlpha) * a.brightness;
        a.t = stamp;
        a.weight = std::min(weight + decayed, maxMergedWeight);
    }
    prune(nearest ? std::nullopt : std::optional(anchors_.size() - 1));
    persist();
}

void AnchorStore::prune(std::optional<std::size_t> newcomer) {
    if (anchors_.size() <= static_cast<std::size_t>(maxAnchors)) {
        return;
    }
    // One clock reading for the whole sort keeps the ordering consistent.
    const double now = clock_.now();
    struct Ranked {
        double weight;
        Anchor anchor;
        bool isNew;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(anchors_.size());
    for (std::size_t i = 0; i < anchors_.size(); ++i) {
        const double w = anchors_[i].decayedWeight(now, halfLifeDays);
        ranked.push_back({std::isnan(w) ? -std::numeric_limits<double>::infinity() : w, anchors_[i],
                          i == newcomer});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& x, const auto& y) { return x.weight > y.weight; });
    // A new anchor has one choice's weight, so in a full list of merged ones it would be the
    // weakest and go at once, though just committed: the user's new light could never be
    // learnt. It stays; the weakest of the others goes, taken from the fuller period, so that
    // the day's many anchors cannot push out the night's few (each day's new choice at dawn
    // would then take the place of the last).
    while (ranked.size() > static_cast<std::size_t>(maxAnchors)) {
        const auto days = std::count_if(ranked.begin(), ranked.end(), [](const auto& r) {
            return r.anchor.period() == DayPeriod::day;
        });
        const DayPeriod fuller = 2 * days > std::ssize(ranked) ? DayPeriod::day : DayPeriod::night;
        auto victim = std::find_if(ranked.rbegin(), ranked.rend(), [&](const auto& r) {
            return !r.isNew && r.anchor.period() == fuller;
        });
        ranked.erase(std::next(victim).base());
    }
    anchors_.clear();
    for (const auto& r : ranked) {
        anchors_.push_back(r.anchor);
    }
}

void AnchorStore::persist() {
    if (auto bytes = encode(anchors_)) {
        settings_.set(key_, Bytes{std::move(*bytes)});
    } else {
        note("anchors under " + key_ + " hold a non-finite number; not written");
    }
    changed();
}

void AnchorStore::changed() {
    // A copy, so the callback may replace itself.
    if (auto callback = onChange_) {
        callback();
    }
}

void AnchorStore::note(const std::string& message) const {
    if (log_ != nullptr) {
        log_->log(message, "anchor");
    }
}

std::optional<std::string> AnchorStore::encode(const std::vector<Anchor>& anchors) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& a : anchors) {
        if (!allFinite(a)) {
            return std::nullopt;
        }
        nlohmann::ordered_json item;
        item["l"] = a.luma;
        item["b"] = a.brightness;
        item["h"] = a.hour;
        item["t"] = a.t;
        item["w"] = a.weight;
        list.push_back(std::move(item));
    }
    return list.dump();
}

std::optional<std::vector<Anchor>> AnchorStore::decode(std::string_view bytes) {
    static constexpr std::array<std::string_view, 5> fields{"l", "b", "h", "t", "w"};
    std::vector<Anchor> anchors;
    const bool whole = readNumberRecords(bytes, fields, [&](std::span<const double> n) {
        anchors.push_back({n[0], n[1], n[2], n[3], n[4]});
    });
    return whole ? std::optional(std::move(anchors)) : std::nullopt;
}

}  // namespace pellora
