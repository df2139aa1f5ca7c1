#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Anchor.h"
#include "model/CurvePoint.h"
#include "platform/Clock.h"
#include "store/Sample.h"
#include "store/SettingsStore.h"

namespace pellora {

class DebugLog;

// The learnt anchors of one monitor: merged, aged and pruned as observations arrive, kept
// in the settings store (and so synced to the user's other machines), and turned into a
// day curve and a night curve that predict a brightness for a room light.
//
// Main thread only. Made with `create`, so the remote-change subscription can hold the
// store weakly.
class AnchorStore : public std::enable_shared_from_this<AnchorStore> {
  public:
    static constexpr int maxAnchors = 10;
    // A list from elsewhere may hold a few more, and loads as it is; one longer than this
    // (damage, or a hostile file in the synced folder) loads as the `maxAnchors` that pruning
    // would keep, since predicting in the morning fade costs the square of the list's length.
    static constexpr std::size_t maxLoadedAnchors = 64;
    static constexpr double mergeLumaDist = 20.0;
    static constexpr double mergeAlpha = 0.5;
    static constexpr double halfLifeDays = 30.0;
    static constexpr double minWeight = 0.15;
    static constexpr double confidenceFull = 5.0;
    static constexpr double nightStart = 22.0;
    static constexpr double nightEnd = 7.0;
    static constexpr double rampHours = 2.0;
    // A merged anchor's evidence never grows past this.
    static constexpr double maxMergedWeight = 6.0;
    // A later choice this close to a morning one, at the same light, confirms it.
    static constexpr double morningAgreement = 12.0;
    // Finer steps than this would make `curveSamples` produce more points than any view
    // can use; such calls give nothing.
    static constexpr int maxCurveSamples = 4096;

    // One period's curve: knots ascending in luma with a never-falling brightness.
    struct PeriodCurve {
        struct Knot {
            double luma = 0;
            double bri = 0;
        };
        std::vector<Knot> knots;
        double weightSum = 0;
        double confidenceFull = AnchorStore::confidenceFull;

        // The curve at luma `x`, drawn towards the default line while evidence is thin.
        double brightness(double x) const;
    };

    // Loads the list stored for `monitorID` ("%08X-%08X-%08X") and follows remote changes.
    // `log` may be null.
    static std::shared_ptr<AnchorStore> create(const std::string& monitorID,
                                               SettingsStore& settings, const Clock& clock,
                                               DebugLog* log = nullptr);

    AnchorStore(const AnchorStore&) = delete;
    AnchorStore& operator=(const AnchorStore&) = delete;

    const std::string& key() const { return key_; }
    const std::vector<Anchor>& anchors() const { return anchors_; }
    // Called after every change of the list, including a reload after a remote change.
    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }

    // Merges the observation into the nearest same-period anchor within `mergeLumaDist`,
    // or adds it. An observation with a non-finite number is ignored.
    void observe(double luma, double brightness, double hour, double weight);

    // What a choice made after sunset in the last hour of the evening fade (from 21:00, where
    // the night curve counts for more than half of what is shown) tells of the night: the
    // night curve's value at `luma` that, faded with the day curve as it is, gives `brightness`
    // at `hour`. As a day anchor it barely moves what is shown, so after the user's evening
    // wish changes the same correction comes back every evening. Nothing at other hours.
    std::optional<double> nightValueOfEveningChoice(double luma, double brightness,
                                                    double hour) const;

    // How the morning fade from the night curve to the day curve meets the user's own
    // choices made in it. They are day anchors, so with the fade alone a choice at 7:30 counts
    // for a sixth of what is shown then and the same correction comes back every morning.
    // `heedingChoices` lets day anchors confirmed in the fade's hours outweigh the night curve
    // near their light, in proportion to their evidence.
    enum class MorningFade { fixed, heedingChoices };

    // The predicted brightness 0..100, or nothing without anchors.
    std::optional<int> predict(double luma, double hour,
                               MorningFade fade = MorningFade::fixed) const;
    // How much the night curve counts at `hour`, 0..1.
    static double nightWeight(double hour);
    // The curve at `hour` from luma 0 up to 255 in steps of `step` (empty for a step that is
    // not positive or too fine).
    std::vector<CurvePoint> curveSamples(double hour, double step,
                                         MorningFade fade = MorningFade::fixed) const;
    // The default line: 20 up to luma 20, 100 from luma 180, linear between.
    static double baseBrightness(double luma);

    // Copies of the anchors of `hour`'s period, ordered by luma (ties in storage order).
    std::vector<Anchor> editable(double hour) const;
    // Moves the anchor at that position of `editable(hour)`; a stale position does nothing.
    void moveEditable(int position, double luma, double brightness, double hour);
    void removeEditable(int position, double hour);
    // Forgets every anchor; the empty list is stored, so it stays empty.
    void clear();
    // Whether the stored list was empty as loaded: the user cleared or removed every anchor.
    bool storedEmpty() const { return storedEmpty_; }
    // Replaces the list with up to `maxAnchors` anchors averaged from the user's own
    // adjustments in `samples`; without any, nothing changes.
    void seedFromSamples(const std::vector<Sample>& samples);

    // The stored form: a compact JSON array of {"l","b","h","t","w"}. Encoding fails on a
    // non-finite number; decoding fails on anything but such an array of finite numbers.
    static std::optional<std::string> encode(const std::vector<Anchor>& anchors);
    static std::optional<std::vector<Anchor>> decode(std::string_view bytes);

  private:
    AnchorStore(const std::string& monitorID, SettingsStore& settings, const Clock& clock,
                DebugLog* log);

    void subscribe();
    void load(bool notify);
    void dropFaded(double now);
    // Keeps `maxAnchors`: always `newcomer`, the anchor just added, and of the others the
    // weakest goes from the period that holds more.
    void prune(std::optional<std::size_t> newcomer);
    // What `prune` would keep of a list longer than `maxAnchors` (one no store of ours
    // writes), found without its cost per anchor dropped.
    void keepStrongest();
    void persist();
    void changed();
    void note(const std::string& message) const;

    std::optional<PeriodCurve> derive(DayPeriod period, double now) const;
    // The night curve's weight at `hour` for a light `luma`: less, with `heedingChoices`,
    // near the morning choices.
    double nightWeight(double luma, double hour, MorningFade fade, double now) const;
    static bool inMorningFade(double hour) {
        return hour >= nightEnd && hour < nightEnd + rampHours;
    }
    // The cross-fade of the two curves with the night curve's weight `n`.
    static std::optional<int> predictFrom(const std::optional<PeriodCurve>& day,
                                          const std::optional<PeriodCurve>& night, double luma,
                                          double n);
    // The values at `lumas` and `hour`. Heeding the morning choices, the night curve's weight
    // varies with the light, so each value is held at the highest of the darker lumas' (whole
    // ones, and where that weight turns):
    // a brighter room never gets less than a darker one.
    std::vector<std::optional<int>> values(const std::vector<double>& lumas, double hour,
                                           MorningFade fade) const;
    std::vector<std::size_t> editableIndices(double hour) const;
    std::optional<std::size_t> globalIndex(int position, double hour) const;

    std::string key_;
    std::vector<Anchor> anchors_;
    bool storedEmpty_ = false;
    std::function<void()> onChange_;
    SettingsStore& settings_;
    const Clock& clock_;
    DebugLog* log_;
    SettingsStore::Subscription subscription_;
};

}  // namespace pellora
