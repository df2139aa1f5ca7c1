// The day and night curves and the brightness predicted from them.

#include <algorithm>
#include <array>
#include <cmath>

#include "model/AnchorStore.h"

namespace pellora {

double AnchorStore::baseBrightness(double luma) {
    return 20.0 + 80.0 * std::clamp((luma - 20.0) / 160.0, 0.0, 1.0);
}

double AnchorStore::PeriodCurve::brightness(double x) const {
    const double base = baseBrightness(x);
    if (knots.empty()) {
        return base;
    }
    double c = 0;
    if (x <= knots.front().luma) {
        c = knots.front().bri;
    } else if (x >= knots.back().luma) {
        c = knots.back().bri;
    } else {
        for (std::size_t i = 0; i + 1 < knots.size(); ++i) {
            const Knot& p = knots[i];
            const Knot& q = knots[i + 1];
            if (p.luma <= x && x <= q.luma) {
                c = p.bri + (x - p.luma) / std::max(q.luma - p.luma, 0.0001) * (q.bri - p.bri);
                break;
            }
        }
    }
    const double k = std::min(weightSum / confidenceFull, 1.0);
    return (1 - k) * base + k * c;
}

std::optional<AnchorStore::PeriodCurve> AnchorStore::derive(DayPeriod period, double now) const {
    std::vector<const Anchor*> chosen;
    for (const auto& a : anchors_) {
        if (a.period() == period) {
            chosen.push_back(&a);
        }
    }
    if (chosen.empty()) {
        return std::nullopt;
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const Anchor* x, const Anchor* y) { return x->luma < y->luma; });

    struct Entry {
        double luma;
        double bri;
        double w;
    };
    std::vector<Entry> entries;
    entries.reserve(chosen.size());
    for (const Anchor* a : chosen) {
        const double w = a->decayedWeight(now, halfLifeDays);
        if (!entries.empty() && std::fabs(a->luma - entries.back().luma) < 1.0) {
            // Anchors less than one luma apart act as one knot.
            // As a share, so that weights near the largest double cannot overflow to NaN.
            Entry& last = entries.back();
            const double total = w + last.w;
            const double share = total > 0 ? std::min(w / total, 1.0) : 0.5;
            last.luma = std::lerp(last.luma, a->luma, share);
            last.bri = std::lerp(last.bri, a->brightness, share);
            last.w = total;
        } else {
            entries.push_back({a->luma, a->brightness, w});
        }
    }

    PeriodCurve curve;
    curve.confidenceFull = confidenceFull;
    curve.knots.reserve(entries.size());
    double running = -1.0;
    for (const auto& e : entries) {
        running = std::max(running, e.bri);
        curve.knots.push_back({e.luma, running});
        curve.weightSum += e.w;
    }
    return curve;
}

double AnchorStore::nightWeight(double hour) {
    auto smoothstep = [](double s) {
        s = std::clamp(s, 0.0, 1.0);
        return s * s * (3 - 2 * s);
    };
    if (!(hour > nightEnd && hour < nightStart)) {
        return 1.0;
    }
    if (hour < nightEnd + rampHours) {
        return 1.0 - smoothstep((hour - nightEnd) / rampHours);
    }
    if (hour <= nightStart - rampHours) {
        return 0.0;
    }
    return smoothstep((hour - (nightStart - rampHours)) / rampHours);
}

double AnchorStore::nightWeight(double luma, double hour, MorningFade fade, double now) const {
    const double n = nightWeight(hour);
    if (fade == MorningFade::fixed || !(hour > nightEnd && hour < nightEnd + rampHours)) {
        return n;
    }
    double evidence = 0;
    for (const auto& a : anchors_) {
        if (a.period() == DayPeriod::day && inMorningFade(a.hour)) {
            const double near = 1 - std::fabs(a.luma - luma) / mergeLumaDist;
            evidence += a.decayedWeight(now, halfLifeDays) * std::max(near, 0.0);
        }
    }
    return n * (1 - std::min(evidence / confidenceFull, 1.0));
}

std::optional<double> AnchorStore::nightValueOfEveningChoice(double luma, double brightness,
                                                             double hour) const {
    const double n = nightWeight(hour);
    if (!(hour > nightEnd + rampHours && hour < nightStart && n >= 0.5) || !std::isfinite(luma) ||
        !std::isfinite(brightness)) {
        return std::nullopt;
    }
    const auto day = derive(DayPeriod::day, clock_.now());
    // Without a day curve the night curve alone is shown, so the choice is its value.
    const double value = day ? (brightness - (1 - n) * day->brightness(luma)) / n : brightness;
    return std::clamp(value, 0.0, 100.0);
}

std::optional<int> AnchorStore::predictFrom(const std::optional<PeriodCurve>& day,
                                            const std::optional<PeriodCurve>& night, double luma,
                                            double n) {
    if (!day && !night) {
        return std::nullopt;
    }
    double v = 0;
    if (day && night) {
        v = night->brightness(luma) * n + day->brightness(luma) * (1 - n);
    } else {
        v = (day ? *day : *night).brightness(luma);
    }
    if (std::isnan(v)) {
        // Only damaged numbers get here; the caller's default map is the better answer.
        return std::nullopt;
    }
    if (!(v < 100.0)) {
        return 100;
    }
    return static_cast<int>(std::round(std::max(v, 0.0)));
}

std::vector<std::optional<int>> AnchorStore::values(const std::vector<double>& lumas, double hour,
                                                    MorningFade fade) const {
    // The curves do not change within one call, so they are derived once.
    const double now = clock_.now();
    const auto day = derive(DayPeriod::day, now);
    const auto night = derive(DayPeriod::night, now);
    const auto at = [&](double luma) {
        return predictFrom(day, night, luma, nightWeight(luma, hour, fade, now));
    };
    const bool varies = fade == MorningFade::heedingChoices && hour > nightEnd &&
                        hour < nightEnd + rampHours && (day || night);
    // The lumas the floor is taken at: every whole one, and where the night curve's weight
    // turns, at each morning choice's light and 20 either side, which seldom are whole.
    std::vector<double> grid;
    if (varies) {
        grid.reserve(256 + 3 * anchors_.size());
        for (int k = 0; k <= 255; ++k) {
            grid.push_back(k);
        }
        for (const auto& a : anchors_) {
            if (a.period() == DayPeriod::day && inMorningFade(a.hour)) {
                for (double x : {a.luma - mergeLumaDist, a.luma, a.luma + mergeLumaDist}) {
                    if (x > 0 && x < 255) {
                        grid.push_back(x);
                    }
                }
            }
        }
        std::sort(grid.begin(), grid.end());
    }
    // The highest value at the grid's lumas up to each.
    std::vector<std::optional<int>> floor(grid.size());
    std::optional<int> best;
    for (std::size_t k = 0; k < grid.size(); ++k) {
        const auto v = at(grid[k]);
        if (v && (!best || *v > *best)) {
            best = v;
        }
        floor[k] = best;
    }
    std::vector<std::optional<int>> out;
    out.reserve(lumas.size());
    for (double luma : lumas) {
        auto v = at(luma);
        if (varies && v && luma >= 0) {
            const auto above = std::upper_bound(grid.begin(), grid.end(), luma);
            const auto& below =
                floor[std::size_t(std::max(above - grid.begin(), std::ptrdiff_t(1)) - 1)];
            if (below && *below > *v) {
                v = below;
            }
        }
        out.push_back(v);
    }
    return out;
}

std::optional<int> AnchorStore::predict(double luma, double hour, MorningFade fade) const {
    return values({luma}, hour, fade).front();
}

std::vector<CurvePoint> AnchorStore::curveSamples(double hour, double step,
                                                  MorningFade fade) const {
    std::vector<CurvePoint> points;
    if (!(step > 0.0) || !std::isfinite(step) || 255.0 / step > maxCurveSamples) {
        return points;
    }
    std::vector<double> lumas;
    for (double x = 0.0; x <= 255.0; x += step) {
        lumas.push_back(x);
    }
    const auto predicted = values(lumas, hour, fade);
    for (std::size_t i = 0; i < lumas.size(); ++i) {
        const double x = lumas[i];
        points.push_back(CurvePoint{x, predicted[i] ? double(*predicted[i]) : baseBrightness(x)});
    }
    return points;
}

}  // namespace pellora
