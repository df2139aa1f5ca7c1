#include "model/AnchorStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

#include "TestEnvironment.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.anchorsV1";
constexpr double kDay = 86400.0;
constexpr double kStart = 1718960400.0;  // where the environment's clock starts
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Anchors = std::vector<Anchor>;

// Anchors whose `t` is given as an age in days, stamped that long before the start.
Anchors aged(Anchors anchors) {
    for (auto& a : anchors) {
        a.t = kStart - a.t * kDay;
    }
    return anchors;
}

// A store over `anchors` (see `aged`) as already stored, counting the changes it announces.
struct Fixture {
    explicit Fixture(const Anchors& anchors = {}) {
        if (!anchors.empty()) {
            env.settings->set(kKey, Bytes{*AnchorStore::encode(aged(anchors))});
        }
        reopen();
    }
    // A new store over what is stored now, as after a restart.
    std::shared_ptr<AnchorStore>& reopen() {
        store = AnchorStore::create(kMonitor, *env.settings, env.clock, env.log.get());
        store->setOnChange([this] { ++changes; });
        return store;
    }
    Anchors stored() const {
        return AnchorStore::decode(env.settings->data(kKey).value_or("")).value_or(Anchors{});
    }
    TestEnvironment env;
    std::shared_ptr<AnchorStore> store;
    int changes = 0;
};

std::vector<double> lumas(const Anchors& anchors) {
    std::vector<double> out;
    std::ranges::transform(anchors, std::back_inserter(out), &Anchor::luma);
    return out;
}

TEST(AnchorStore, AnObservationMergesIntoTheNearestSamePeriodAnchorWithinTwentyLumaElseJoins) {
    // Stored anchors, the observation (luma, brightness, hour, weight) and the stored list
    // after it, ages in days.
    const std::tuple<Anchors, std::array<double, 4>, Anchors> cases[] = {
        {{{100, 40, 12, 0, 1}}, {120, 60, 13, 1}, {{110, 50, 13, 0, 2}}},
        {{{100, 40, 12, 0, 1}}, {120.01, 60, 12, 1}, {{100, 40, 12, 0, 1}, {120.01, 60, 12, 0, 1}}},
        {{{100, 40, 23.5, 0, 1}}, {110, 60, 3, 1}, {{105, 50, 3, 0, 2}}},
        {{{100, 40, 6.99, 0, 1}}, {100, 60, 7, 1}, {{100, 40, 6.99, 0, 1}, {100, 60, 7, 0, 1}}},
        {{{100, 40, 22, 0, 1}}, {100, 60, 21.99, 1}, {{100, 40, 22, 0, 1}, {100, 60, 21.99, 0, 1}}},
        // 18 from 85, 12 from 115; then a tie, which goes to the earlier.
        {{{50, 10, 12, 0, 1}, {85, 30, 12, 0, 1}, {115, 70, 12, 0, 1}},
         {103, 50, 14, 1},
         {{50, 10, 12, 0, 1}, {85, 30, 12, 0, 1}, {109, 60, 14, 0, 2}}},
        {{{85, 30, 12, 0, 1}, {109, 60, 12, 0, 1}},
         {97, 50, 14, 1},
         {{91, 40, 14, 0, 2}, {109, 60, 12, 0, 1}}},
        // A choice in the morning fade keeps its hour when the day confirms it (within 12),
        // not when the day overrules it or the morning chooses again.
        {{{100, 40, 7.5, 0, 1}}, {110, 52, 13, 1}, {{105, 46, 7.5, 0, 2}}},
        {{{100, 40, 7.5, 0, 1}}, {110, 53, 13, 1}, {{105, 46.5, 13, 0, 2}}},
        {{{100, 40, 7.5, 0, 1}}, {100, 44, 8.5, 1}, {{100, 42, 8.5, 0, 2}}},
        // The weight adds the old one decayed (a future stamp counts as now), up to 6.
        {{{100, 50, 12, 30, 2}}, {100, 50, 12, 1}, {{100, 50, 12, 0, 2}}},
        {{{100, 50, 12, -400, 1}}, {100, 60, 12, 1}, {{100, 55, 12, 0, 2}}},
        {{{100, 50, 12, 0, 5.5}}, {100, 50, 12, 1}, {{100, 50, 12, 0, 6}}},
    };
    for (const auto& [before, seen, after] : cases) {
        Fixture f(before);
        f.store->observe(seen[0], seen[1], seen[2], seen[3]);
        EXPECT_EQ(f.stored(), aged(after)) << seen[0] << " at " << seen[2];
        EXPECT_EQ(f.store->anchors(), f.stored());
        EXPECT_EQ(f.changes, 1);
    }
}

TEST(AnchorStore, AnEleventhAnchorSortsByDecayedWeightAndDropsTheWeakest) {
    // Weight and age in days of each stored anchor; luma is 20 × the position.
    const std::pair<double, double> stored[] = {{3, 0}, {1, 0}, {4, 60}, {2, 0},   {5, 0},
                                                {4, 0}, {6, 0}, {1, 0},  {0.5, 0}, {2, 0}};
    Anchors anchors;
    for (const auto& [weight, age] : stored) {
        anchors.push_back({anchors.size() * 20.0, 50, 12, age, weight});
    }
    Fixture f(anchors);
    f.store->observe(251, 50, 23, 2.0);
    // Ties keep their previous order (the 60-day-old 4 counts 1); the newcomer joins its tie
    // last and the fresh 0.5 goes.
    EXPECT_EQ(lumas(f.stored()), (std::vector<double>{120, 80, 100, 0, 60, 180, 251, 20, 40, 140}));

    // A new anchor weaker than all ten stays all the same (it was just committed); the
    // weakest of the others goes, the later of a tie.
    anchors.clear();
    for (double weight : {3.0, 2.0, 4.0, 6.0, 5.0, 4.0, 6.0, 2.5, 3.0, 2.0}) {
        anchors.push_back({anchors.size() * 20.0, 50, 12, 0, weight});
    }
    Fixture full(anchors);
    full.store->observe(251, 50, 12, 1.0);
    EXPECT_EQ(lumas(full.stored()),
              (std::vector<double>{60, 120, 80, 40, 100, 0, 160, 140, 20, 251}));

    // Nor is a period emptied to make room in the other: the fuller one gives up its weakest,
    // here the day's 2.0, not the night's only anchor.
    anchors.pop_back();
    anchors.push_back({200, 30, 23, 0, 1.5});
    Fixture night(anchors);
    night.store->observe(251, 50, 12, 1.0);
    EXPECT_EQ(lumas(night.stored()),
              (std::vector<double>{60, 120, 80, 40, 100, 0, 160, 140, 200, 251}));

    // And where the night holds more, the night gives up its weakest (2.5, at 120), not the
    // day its 1.0.
    anchors.clear();
    // Hour and weight of each stored anchor.
    const std::pair<double, double> nightHeavy[] = {{12, 3}, {12, 1},   {12, 4}, {12, 2}, {23, 5},
                                                    {23, 6}, {23, 2.5}, {23, 7}, {23, 8}, {23, 9}};
    for (const auto& [hour, weight] : nightHeavy) {
        anchors.push_back({anchors.size() * 20.0, 50, hour, 0, weight});
    }
    Fixture nights(anchors);
    nights.store->observe(251, 50, 12, 1.0);
    auto kept = lumas(nights.stored());
    std::ranges::sort(kept);
    EXPECT_EQ(kept, (std::vector<double>{0, 20, 40, 60, 80, 100, 140, 160, 180, 251}));
}

// A list no store of ours writes (another machine's file, damaged or hostile) may hold
// thousands of anchors in a settings file of well under a megabyte. Heeding the morning
// choices, every prediction then costs the square of their number on the main thread (3000
// of them took seconds a snapshot). A few more than ten still load as they are; thousands
// load as the ten pruning would keep.
TEST(AnchorStore, AListOfThousandsFromAnotherMachineLoadsAsTheTenPruningWouldKeep) {
    Anchors twelve;
    for (int i = 0; i < 12; ++i) {
        twelve.push_back({20.0 * i, 50, 12, kStart, 1.0});
    }
    Fixture few;
    few.env.remoteSet(kKey, Bytes{*AnchorStore::encode(twelve)});
    EXPECT_EQ(few.store->anchors(), twelve);

    Anchors theirs;
    for (int i = 0; i < 3000; ++i) {
        // Morning-fade day anchors; every 50th a little stronger than the rest.
        theirs.push_back({255.0 * i / 3000, 50, 7.5, kStart, i % 50 == 49 ? 5.0 : 1.0});
    }
    const Anchors nights{{30, 20, 23, kStart, 2.0}, {90, 40, 1, kStart, 3.0}};
    theirs.insert(theirs.end(), nights.begin(), nights.end());
    Fixture f;
    f.env.remoteSet(kKey, Bytes{*AnchorStore::encode(theirs)});
    const Anchors& loaded = f.store->anchors();
    ASSERT_EQ(loaded.size(), std::size_t(AnchorStore::maxAnchors));
    // The fewer period keeps all of its own; the fuller one its strongest.
    for (const Anchor& night : nights) {
        EXPECT_EQ(std::ranges::count(loaded, night), 1) << night.luma;
    }
    for (const Anchor& a : loaded) {
        EXPECT_TRUE(a.hour != 7.5 || a.weight == 5.0) << a.luma;
    }
    // Loading writes nothing back; the next choice stores the ten and itself only.
    EXPECT_EQ(f.stored().size(), theirs.size());
    f.store->observe(250, 90, 12, 1.0);
    EXPECT_EQ(f.stored().size(), std::size_t(AnchorStore::maxAnchors));
    EXPECT_TRUE(f.store->predict(100, 7.5, AnchorStore::MorningFade::heedingChoices));
}

TEST(AnchorStore, AnAnchorOfWeightOneFadesAfterAbout82DaysAtTheNextLoadOrObservation) {
    const double limitDays = 30.0 * std::log2(1 / 0.15);
    ASSERT_NEAR(limitDays, 82.1, 0.05);
    Fixture faded({{100, 50, 12, limitDays + 0.01, 1.0}});
    EXPECT_TRUE(faded.store->anchors().empty());
    EXPECT_EQ(faded.stored().size(), 1u);  // loading writes nothing back
    Fixture f({{100, 50, 12, limitDays - 0.01, 1.0}});
    EXPECT_EQ(f.store->anchors().size(), 1u);
    f.env.clock.advance(0.02 * kDay);
    f.store->observe(105, 80, 12, 1.0);  // no merge with what faded meanwhile
    EXPECT_EQ(f.stored(), (Anchors{{105, 80, 12, kStart + 0.02 * kDay, 1}}));
}

TEST(AnchorStore, TheStoredFormReadsBackExactlyAndAnythingElseLoadsEmptyUntilTheNextWrite) {
    const Anchors anchors{{0.1, 1.0 / 3.0, 23.999, 1718960400.123456, 5.999999},
                          {-0.0, 1e300, 7, -5, 1e-300}};
    const auto bytes = AnchorStore::encode(anchors);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->find_first_of(" \n\t"), std::string::npos);
    EXPECT_EQ(AnchorStore::decode(*bytes), anchors);
    EXPECT_EQ(AnchorStore::decode(R"([{"w":2,"t":1718960400,"h":13.5,"b":55,"l":120}])"),
              (Anchors{{120, 55, 13.5, 1718960400, 2}}));
    EXPECT_EQ(AnchorStore::encode({{1, 2, 3, 4, 5}, {1, 1, 1, 1, kInf}}), std::nullopt);
    Fixture good({{100, 50, 12, 0, 2.0}});  // a synced value of another type leaves the local
    good.env.remoteSet(kKey, std::string("not bytes"));
    EXPECT_EQ(good.store->anchors(), aged({{100, 50, 12, 0, 2.0}}));
    good.env.remoteSet(kKey, Bytes{R"([{"l":1}])"});  // and so do damaged synced bytes
    EXPECT_EQ(good.store->anchors(), aged({{100, 50, 12, 0, 2.0}}));
    good.store->observe(20, 30, 12, 1.0);
    EXPECT_EQ(good.stored().size(), 2u) << "the good list was written over";
    // Unreadable data loads as nothing and stays until the next write.
    for (const char* text : {"", R"([{"l":1}])"}) {
        Fixture f;
        f.env.settings->set(kKey, Bytes{text});
        EXPECT_TRUE(f.reopen()->anchors().empty());
        EXPECT_EQ(f.env.settings->data(kKey), text);
        f.store->observe(100, 50, 12, 1.0);
        EXPECT_EQ(f.stored().size(), 1u);
    }
}

TEST(AnchorStore, NonFiniteObservationsAreNeverWrittenAndHugeAnchorsPredictInRange) {
    Fixture f({{1e308, 1e308, 12, 0, 1e308}, {-1e308, -1e308, 13, 0, 1e308}});
    const auto before = f.env.settings->data(kKey);
    f.store->observe(kNaN, 50, 12, 1);
    f.store->observe(100, 50, 12, -kInf);
    EXPECT_EQ(f.env.settings->data(kKey), before);
    EXPECT_EQ(f.changes, 0);
    EXPECT_LE(f.store->predict(1e308, 12).value_or(0), 100);
    for (const auto& p : f.store->curveSamples(12, 8.0)) {
        EXPECT_TRUE(p.brightness >= 0 && p.brightness <= 100) << p.luma;
    }
}

TEST(AnchorStore, ARemoteChangeReloadsAndAnnouncesButTheFirstLoadAndADroppedStoreDoNot) {
    Fixture f({{100, 50, 12, 0, 1.0}});
    EXPECT_EQ(f.changes, 0);
    const Anchors theirs{{30, 20, 23, kStart, 2.0}, {200, 90, 14, kStart, 4.0}};
    f.env.remoteSet(kKey, Bytes{*AnchorStore::encode(theirs)});
    EXPECT_EQ(f.store->anchors(), theirs);
    EXPECT_EQ(f.changes, 1);
    // A callback may replace itself; a dropped store is neither kept alive nor called.
    f.store->setOnChange([&] { f.store->setOnChange([&] { f.changes += 10; }); });
    f.store->observe(100, 50, 12, 1.0);
    f.store->observe(100, 50, 12, 1.0);
    std::weak_ptr<AnchorStore> weak = f.store;
    f.store.reset();
    EXPECT_TRUE(weak.expired());
    f.env.remoteSet(kKey, Bytes{"[]"});
    EXPECT_EQ(f.changes, 11);
}

TEST(AnchorPrediction, WithoutAnchorsThereIsNoPredictionAndTheSamplesAreTheDefaultLine) {
    Fixture f;
    EXPECT_EQ(f.store->predict(100, 12), std::nullopt);
    const auto points = f.store->curveSamples(12, 8.0);
    ASSERT_EQ(points.size(), 32u);
    const double expected[][2] = {{16, 20}, {24, 22}, {104, 62}, {176, 98}, {184, 100}};
    for (const auto& [luma, brightness] : expected) {
        EXPECT_EQ(points[std::size_t(luma / 8)], (CurvePoint{luma, brightness}));
    }
    EXPECT_EQ(f.store->curveSamples(12, 255).size(), 2u);  // 0 and 255 itself
    EXPECT_TRUE(f.store->curveSamples(12, kNaN).empty());
    EXPECT_TRUE(f.store->curveSamples(12, 1e-9).empty());
}

TEST(AnchorPrediction, ConfidenceNightWeightFoldedRisingKnotsAndRounding) {
    // The night weight ramps smoothly: 1 up to 7:00, 0 from 9:00 to 20:00, 1 from 22:00.
    EXPECT_NEAR(AnchorStore::nightWeight(7.5), 0.84375, 1e-12);
    EXPECT_NEAR(AnchorStore::nightWeight(20.5), 0.15625, 1e-12);
    // Stored anchors, then predictions as luma, hour, brightness; the curve samples agree.
    const std::pair<Anchors, std::vector<std::array<double, 3>>> cases[] = {
        // Weight 1: confidence one fifth, at every hour; weight 5 a half-life old counts 2.5.
        {{{100, 50, 12, 0, 1}}, {{96, 0, 56}, {100, 23.5, 58}, {20, 12, 26}}},
        {{{100, 100, 12, 30, 5}}, {{100, 12, 80}}},
        // Full confidence: day says 80 and night 20, cross-faded; one period alone decides.
        {{{100, 80, 12, 0, 5}, {100, 20, 23, 0, 5}},
         {{64, 8, 50}, {60, 9, 80}, {60, 22, 20}, {8, 7.5, 29}}},
        {{{100, 20, 23, 0, 5}}, {{100, 12, 20}, {100, 2, 20}}},
        // Knots less than one luma apart fold (100.375, 70, weight 4); knots never fall and
        // are flat beyond both ends.
        {{{100, 40, 12, 0, 1}, {100.5, 80, 12, 0, 3}},
         {{0, 12, 60}, {255, 12, 76}, {100.375, 12, 68}}},
        {{{50, 60, 12, 0, 2.5}, {150, 40, 12, 0, 2.5}}, {{0, 12, 60}, {104, 12, 60}}},
        {{{150, 80, 12, 0, 2.5}, {50, 40, 12, 0, 2.5}}, {{0, 12, 40}, {72, 12, 49}, {255, 12, 80}}},
        // Weights near the largest double fold without overflowing to no number.
        {{{100, 50, 12, 0, 1e308}, {100.5, 50, 12, 0, 1e308}}, {{100, 12, 50}, {200, 12, 50}}},
    };
    for (const auto& [anchors, expected] : cases) {
        Fixture f(anchors);
        for (const auto& [luma, hour, brightness] : expected) {
            EXPECT_EQ(f.store->predict(luma, hour), brightness) << luma << " at " << hour;
            if (std::fmod(luma, 8) == 0) {
                EXPECT_EQ(f.store->curveSamples(hour, 8)[std::size_t(luma / 8)].brightness,
                          brightness);
            }
        }
    }
    const double rounded[][2] = {{99.5, 100}, {99.49, 99}, {140, 100}, {2.5, 3}, {-10, 0}};
    for (const auto& [stored, brightness] : rounded) {
        EXPECT_EQ(Fixture({{100, stored, 12, 0, 5}}).store->predict(100, 12), brightness) << stored;
    }
}

// Heeded, day anchors confirmed in the morning fade take the night curve's weight near their
// light (all of it with full evidence, none 20 luma away); other hours and anchors count not.
// A brighter room never gets less than the choice's light does.
TEST(AnchorPrediction, MorningChoicesOutweighTheNightCurveNearTheirLightWhenHeeded) {
    using Fade = AnchorStore::MorningFade;
    const Anchors usual{{100, 80, 10, 0, 5}, {100, 20, 23, 0, 5}};
    Anchors choice = usual, full = usual;
    choice.push_back({60, 70, 7.5, 0, 2.5});
    full.push_back({60, 70, 7.5, 0, 10});
    // Anchors, luma, hour, then the brightness with the fade alone and heeding the choices.
    const std::tuple<const Anchors*, double, double, int, int> cases[] = {
        {&choice, 56, 7.5, 28, 45},  {&choice, 60, 7.5, 28, 49}, {&choice, 70, 7.5, 28, 49},
        {&choice, 100, 7.5, 29, 49}, {&choice, 60, 7.0, 20, 20}, {&choice, 60, 20.5, 62, 62},
        {&full, 60, 7.5, 28, 70},    {&usual, 60, 7.5, 29, 29},
    };
    for (const auto& [anchors, luma, hour, fixed, heeding] : cases) {
        Fixture f(*anchors);
        EXPECT_EQ(f.store->predict(luma, hour), fixed) << luma << " at " << hour;
        EXPECT_EQ(f.store->predict(luma, hour, Fade::heedingChoices), heeding)
            << luma << " at " << hour;
        if (std::fmod(luma, 8) == 0) {
            const std::size_t i = std::size_t(luma / 8);
            EXPECT_EQ(f.store->curveSamples(hour, 8, Fade::heedingChoices)[i].brightness, heeding);
        }
    }
}

// A morning choice's light rarely falls on a whole luma (a merge halves the distance); where
// the night curve counts least, between two whole lumas, the curve must not peak above what
// every brighter room gets, with the choice's own light or with a darker night.
TEST(AnchorPrediction, HeedingMorningChoicesABrighterRoomNeverGetsLessBetweenWholeLumas) {
    using Fade = AnchorStore::MorningFade;
    const Anchors choices[] = {
        {{100, 100, 12, 0, 5}, {100, 20, 23, 0, 5}, {50.5, 100, 7.5, 0, 5}},
        {{100, 40, 12, 0, 5}, {100, 90, 23, 0, 5}, {120.5, 40, 7.5, 0, 5}},
    };
    for (const auto& anchors : choices) {
        Fixture f(anchors);
        int highest = 0;
        double at = 0;
        for (double luma = 0; luma <= 255; luma += 0.125) {
            const int value = f.store->predict(luma, 7.25, Fade::heedingChoices).value();
            if (value < highest) {
                ADD_FAILURE() << "luma " << luma << " gets " << value << ", luma " << at << " "
                              << highest;
                break;
            }
            if (value > highest) {
                highest = value;
                at = luma;
            }
        }
    }
}

// From 21:00 (night weight 0.5) to 22:00 a choice gives the night curve's value that, faded
// with the day curve as it is (thin ones drawn to the default line), shows it; -1: none.
TEST(AnchorPrediction, AnEveningChoiceGivesTheNightValueTheFadeNeeds) {
    const Anchors day{{100, 80, 12, 0, 5}}, thin{{100, 80, 12, 0, 2.5}}, night{{100, 20, 23, 0, 5}};
    // Anchors, hour, then the night value for a choice of 30 at luma 60 (21:00 gives -20).
    const std::tuple<const Anchors*, double, double> cases[] = {
        {&day, 21.5, (30 - 0.15625 * 80) / 0.84375},
        {&thin, 21.5, (30 - 0.15625 * 60) / 0.84375},
        {&night, 21.5, 30},
        {&day, 21.0, 0},
        {&day, 20.9, -1},
        {&day, 22.0, -1},
        {&day, 7.5, -1}};
    for (const auto& [anchors, hour, value] : cases) {
        EXPECT_NEAR(Fixture(*anchors).store->nightValueOfEveningChoice(60, 30, hour).value_or(-1),
                    value, 1e-9)
            << hour;
    }
}

TEST(AnchorEditing, PositionsFollowTheHoursPeriodByLumaAndStaleOnesDoNothing) {
    Anchors anchors{{150, 70, 12, 0, 1}, {30, 20, 23, 0, 1}, {60, 40, 9, 0, 1}};
    anchors.insert(anchors.end(), {{10, 5, 3, 0, 1}, {60, 45, 13, 0, 1}});
    Fixture f(anchors);
    EXPECT_EQ(lumas(f.store->editable(7.0)), (std::vector<double>{60, 60, 150}));
    EXPECT_EQ(lumas(f.store->editable(23.0)), (std::vector<double>{10, 30}));
    f.store->removeEditable(3, 12.0);
    f.store->removeEditable(-1, 12.0);
    f.store->moveEditable(2, 1, 1, 23.0);
    EXPECT_EQ(f.changes, 0);
    f.store->removeEditable(1, 12.0);  // the later of the two at 60
    anchors.pop_back();
    EXPECT_EQ(f.stored(), aged(anchors));
    EXPECT_EQ(f.changes, 1);
}

TEST(AnchorEditing, ADragClampsStampsRaisesTheWeightKeepsTheHourNeverMergesAndClearClears) {
    Fixture f({{100, 50, 12, 0, 1.0}, {200, 80, 14, 0, 5.0}});
    f.env.clock.advance(3600);
    f.store->moveEditable(0, 300, -5, 12);
    f.store->moveEditable(0, 255, 70, 13);  // now the other one, which keeps its larger weight
    EXPECT_EQ(f.stored(),
              (Anchors{{255, 0, 12, kStart + 3600, 3}, {255, 70, 14, kStart + 3600, 5}}));
    EXPECT_EQ(f.changes, 2);
    f.store->clear();  // in both copies
    EXPECT_TRUE(f.store->anchors().empty());
    EXPECT_EQ(f.changes, 3);
    f.env.reopenSettings();
    EXPECT_EQ(f.env.settings->dataCopies(kKey), (std::vector<std::string>{"[]", "[]"}));
}

Sample user(double t, double luma, int brightness, int hour) {
    return Sample{t, luma, brightness, hour, true};
}

TEST(AnchorSeeding, OnlyTheUsersSamplesCountAveragedPerPeriodAndBandOf24WithAtMostFour) {
    Fixture f({{90, 30, 12, 0, 1}});
    std::vector<Sample> samples{{kStart, 101, 99, 20, false}};
    f.store->seedFromSamples(samples);
    f.store->seedFromSamples({});
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.stored().size(), 1u);
    const double t0 = kStart - kDay;
    for (int i = 0; i < 7; ++i) {
        samples.push_back(user(t0 + i * 60, 100 + i, 40 + i, 20));
    }
    f.store->seedFromSamples(samples);
    EXPECT_EQ(f.stored(), (Anchors{{103, 43, 20.0, t0 + 360, 4.0}}));
    samples.resize(4);
    f.store->seedFromSamples(samples);
    EXPECT_EQ(f.stored().at(0).weight, 3.0);
    f.store->seedFromSamples({user(0, 50, 30, 12)});  // no time: stamped now
    EXPECT_EQ(f.stored().at(0).t, kStart);
    f.store->seedFromSamples({user(kStart, 23.99, 10, 12), user(kStart, 24, 20, 12),
                              user(kStart, 10, 30, 21), user(kStart, 10, 40, 22),
                              user(kStart, 14, 40, 6), user(kStart, 255, 50, 6),
                              user(kStart, 240, 60, 6)});
    // Hour 21 is still day, so 23.99 and 10 share day band 0; 24 starts band 1. Hours 22
    // and 6 are night: band 0, and band 10 for 240 to 255.
    EXPECT_EQ(lumas(f.store->editable(12)), (std::vector<double>{(23.99 + 10) / 2, 24}));
    const auto night = f.store->editable(23);
    EXPECT_EQ(lumas(night), (std::vector<double>{12, 247.5}));
    // 22:00 and 6:00 average across midnight to 2:00 (the plain mean, 14:00, is a day hour).
    EXPECT_NEAR(night.at(0).hour, 2.0, 1e-9);
    // 22:00 and 1:00 average to 23:30, not to half an hour before 0:00.
    f.store->seedFromSamples({user(kStart, 10, 30, 22), user(kStart, 10, 30, 1)});
    EXPECT_NEAR(f.store->editable(23).at(0).hour, 23.5, 1e-9);
    // A damaged log's values count as the range's ends, and what they make can be stored.
    f.store->seedFromSamples({user(kStart, 1e308, 1000000, 12), user(kStart, 1e308, 50, 12)});
    EXPECT_EQ(f.stored(), (Anchors{{255, 75, 12, kStart, 2}}));
}

TEST(AnchorSeeding, TwentyTwoBucketsKeepTheTenWithTheMostDecayedWeight) {
    Fixture f;
    std::vector<Sample> samples;
    // Bucket b's newest sample is b days old, so bucket 0 counts most.
    for (int b = 0; b < 22; ++b) {
        samples.push_back(user(kStart - b * kDay, (b % 11) * 24 + 5, 50, b >= 11 ? 2 : 12));
    }
    f.store->seedFromSamples(samples);
    ASSERT_EQ(f.store->anchors().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(f.store->anchors()[i].t, kStart - double(i) * kDay);
    }
}

}  // namespace
}  // namespace pellora::test
