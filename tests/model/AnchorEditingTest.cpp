// Hand edits by position in the editable list, clearing, and seeding from the samples log.

#include <gtest/gtest.h>

#include <vector>

#include "TestEnvironment.h"
#include "model/AnchorStore.h"

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.anchorsV1";
constexpr double kDay = 86400.0;

struct Fixture {
    explicit Fixture(std::vector<Anchor> anchors = {}) {
        for (auto& a : anchors) {
            a.t = env.clock.now();
        }
        if (!anchors.empty()) {
            env.settings->set(kKey, Bytes{*AnchorStore::encode(anchors)});
        }
        store = AnchorStore::create(kMonitor, *env.settings, env.clock, env.log.get());
        store->setOnChange([this] { ++changes; });
    }
    std::vector<Anchor> stored() {
        const auto bytes = env.settings->data(kKey);
        return bytes ? AnchorStore::decode(*bytes).value_or(std::vector<Anchor>{})
                     : std::vector<Anchor>{};
    }
    TestEnvironment env;
    std::shared_ptr<AnchorStore> store;
    int changes = 0;
};

std::vector<double> lumas(const std::vector<Anchor>& anchors) {
    std::vector<double> out;
    for (const auto& a : anchors) {
        out.push_back(a.luma);
    }
    return out;
}

Sample userSample(double t, double luma, int brightness, int hour) {
    return Sample{t, luma, brightness, hour, true};
}

TEST(AnchorEditing, EditableListHoldsOnlyThePeriodOfTheHourOrderedByLuma) {
    Fixture f({{150, 70, 12, 0, 1}, {30, 20, 23, 0, 1}, {60, 40, 9, 0, 1}, {10, 5, 3, 0, 1}});
    EXPECT_EQ(lumas(f.store->editable(12.0)), (std::vector<double>{60, 150}));
    EXPECT_EQ(lumas(f.store->editable(23.0)), (std::vector<double>{10, 30}));
    EXPECT_EQ(lumas(f.store->editable(7.0)), (std::vector<double>{60, 150}));
}

TEST(AnchorEditing, EqualLumasKeepStorageOrderAndPositionOneIsTheLaterOne) {
    Fixture f({{80, 10, 12, 0, 1}, {80, 90, 13, 0, 1}});
    ASSERT_EQ(f.store->editable(12)[1].brightness, 90);
    f.store->moveEditable(1, 80, 55, 12);
    EXPECT_EQ(f.store->anchors()[0].brightness, 10);
    EXPECT_EQ(f.store->anchors()[1].brightness, 55);
}

TEST(AnchorEditing, DragClampsStampsAndRaisesTheWeightButKeepsTheHour) {
    Fixture f({{100, 50, 12, 0, 1.0}, {200, 80, 14, 0, 5.0}});
    f.env.clock.advance(3600);
    f.store->moveEditable(0, 300, -5, 12);
    const Anchor& moved = f.store->anchors()[0];
    EXPECT_EQ(moved.luma, 255);
    EXPECT_EQ(moved.brightness, 0);
    EXPECT_EQ(moved.hour, 12);
    EXPECT_EQ(moved.t, f.env.clock.now());
    EXPECT_EQ(moved.weight, 3.0);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.stored(), f.store->anchors());

    // The move changed the luma order: position 0 is now the other anchor.
    f.store->moveEditable(0, 190, 70, 12);
    EXPECT_EQ(f.store->anchors()[1].weight, 5.0);
    EXPECT_EQ(f.store->anchors()[1].luma, 190);
    // Moved onto another's luma, it stays a separate anchor.
    f.store->moveEditable(0, 255, 10, 12);
    EXPECT_EQ(f.store->anchors().size(), 2u);
}

TEST(AnchorEditing, StalePositionsDoNothingAtAll) {
    Fixture f({{10, 10, 12, 0, 1}, {50, 20, 12, 0, 1}, {90, 30, 12, 0, 1}, {5, 5, 23, 0, 1}});
    const auto before = f.stored();
    f.store->removeEditable(5, 12.0);
    f.store->removeEditable(-1, 12.0);
    f.store->moveEditable(3, 1, 1, 12.0);
    f.store->moveEditable(1, 1, 1, 23.0);  // the night list has one anchor
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.stored(), before);
    EXPECT_EQ(f.store->anchors(), before);
}

TEST(AnchorEditing, RemoveKeepsTheOthersInOrder) {
    Fixture f({{90, 30, 12, 0, 1}, {10, 10, 12, 0, 1}, {5, 5, 23, 0, 1}, {50, 20, 12, 0, 1}});
    f.store->removeEditable(1, 12.0);  // luma 50
    EXPECT_EQ(lumas(f.store->anchors()), (std::vector<double>{90, 10, 5}));
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.stored(), f.store->anchors());
}

TEST(AnchorEditing, ClearRemovesTheValueFromBothCopies) {
    Fixture f({{90, 30, 12, 0, 1}});
    f.store->clear();
    EXPECT_TRUE(f.store->anchors().empty());
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.env.settings->data(kKey), std::nullopt);
    f.env.reopenSettings();
    EXPECT_EQ(f.env.settings->data(kKey), std::nullopt);
    auto reloaded = AnchorStore::create(kMonitor, *f.env.settings, f.env.clock);
    EXPECT_TRUE(reloaded->anchors().empty());
}

TEST(AnchorSeeding, SamplesNotSetByTheUserChangeNothing) {
    Fixture f({{90, 30, 12, 0, 1}});
    const auto before = f.stored();
    const double t = f.env.clock.now();
    f.store->seedFromSamples({{t, 100, 50, 12, false}, {t, 10, 5, 23, false}});
    f.store->seedFromSamples({});
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.store->anchors(), before);
    EXPECT_EQ(f.stored(), before);
}

TEST(AnchorSeeding, OneBucketAveragesItsSamplesAndCountsAtMostFour) {
    Fixture f;
    const double t0 = f.env.clock.now() - kDay;
    std::vector<Sample> seven;
    for (int i = 0; i < 7; ++i) {
        seven.push_back(userSample(t0 + i * 60, 100 + i, 40 + i, 20));
    }
    seven.push_back(Sample{t0 + 9999, 101, 99, 20, false});  // not the user's: ignored
    f.store->seedFromSamples(seven);
    ASSERT_EQ(f.store->anchors().size(), 1u);
    const Anchor& a = f.store->anchors()[0];
    EXPECT_DOUBLE_EQ(a.luma, 103);
    EXPECT_DOUBLE_EQ(a.brightness, 43);
    EXPECT_DOUBLE_EQ(a.hour, 20.0);
    EXPECT_EQ(a.t, t0 + 6 * 60);
    EXPECT_EQ(a.weight, 4.0);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.stored(), f.store->anchors());

    seven.resize(3);
    f.store->seedFromSamples(seven);
    ASSERT_EQ(f.store->anchors().size(), 1u);
    EXPECT_EQ(f.store->anchors()[0].weight, 3.0);
}

TEST(AnchorSeeding, BucketsSplitByPeriodAndBandsOf24) {
    Fixture f;
    const double t = f.env.clock.now();
    f.store->seedFromSamples({userSample(t, 23.99, 10, 12), userSample(t, 24, 20, 12),
                              userSample(t, 10, 30, 21), userSample(t, 10, 40, 22),
                              userSample(t, 255, 50, 6), userSample(t, 240, 60, 6)});
    // Hour 21 is still day, so 23.99 and 10 share day band 0; 24 starts band 1. Hours 22
    // and 6 are night: band 0, and band 10 for 240 to 255.
    EXPECT_EQ(lumas(f.store->editable(12)), (std::vector<double>{(23.99 + 10) / 2, 24}));
    EXPECT_EQ(lumas(f.store->editable(23)), (std::vector<double>{10, 247.5}));
}

TEST(AnchorSeeding, NightBucketAcrossMidnightKeepsANightHour) {
    Fixture f;
    const double t = f.env.clock.now();
    // Arithmetic mean of 22 and 6 is 14, a day hour; on the clock face it is 2.
    f.store->seedFromSamples({userSample(t, 50, 30, 22), userSample(t, 50, 30, 6)});
    ASSERT_EQ(f.store->anchors().size(), 1u);
    EXPECT_NEAR(f.store->anchors()[0].hour, 2.0, 1e-9);
    EXPECT_EQ(f.store->anchors()[0].period(), DayPeriod::night);

    // 23 and 1 meet at midnight.
    f.store->seedFromSamples({userSample(t, 50, 30, 23), userSample(t, 50, 30, 1)});
    const double hour = f.store->anchors()[0].hour;
    EXPECT_TRUE(hour < 1e-9 || hour > 24 - 1e-9) << hour;
    EXPECT_EQ(f.store->anchors()[0].period(), DayPeriod::night);

    // Every mix of night hours lands in the night.
    for (int before = 22; before <= 23; ++before) {
        for (int after = 0; after <= 6; ++after) {
            f.store->seedFromSamples({userSample(t, 50, 30, before), userSample(t, 50, 30, before),
                                      userSample(t, 50, 30, after)});
            EXPECT_EQ(f.store->anchors()[0].period(), DayPeriod::night)
                << before << " and " << after;
        }
    }

    // One side of midnight only: the plain mean.
    f.store->seedFromSamples({userSample(t, 50, 30, 22), userSample(t, 50, 30, 23)});
    EXPECT_DOUBLE_EQ(f.store->anchors()[0].hour, 22.5);
    f.store->seedFromSamples({userSample(t, 50, 30, 0), userSample(t, 50, 30, 5)});
    EXPECT_DOUBLE_EQ(f.store->anchors()[0].hour, 2.5);
}

TEST(AnchorSeeding, TwentyTwoBucketsKeepTheTenWithTheMostDecayedWeight) {
    Fixture f({{90, 30, 12, 0, 1}});
    const double now = f.env.clock.now();
    std::vector<Sample> samples;
    // Bucket b's newest sample is b days old, so bucket 0 counts most.
    for (int b = 0; b < 22; ++b) {
        const bool night = b >= 11;
        const double luma = (b % 11) * 24 + 5;
        samples.push_back(userSample(now - b * kDay, luma, 50, night ? 2 : 12));
    }
    f.store->seedFromSamples(samples);
    ASSERT_EQ(f.store->anchors().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(f.store->anchors()[i].t, now - double(i) * kDay);
        EXPECT_EQ(f.store->anchors()[i].weight, 1.0);
    }
    EXPECT_EQ(f.stored(), f.store->anchors());  // the earlier anchor is gone
}

TEST(AnchorSeeding, SamplesWithoutATimeAreStampedNow) {
    Fixture f;
    f.store->seedFromSamples({userSample(0, 50, 30, 12)});
    ASSERT_EQ(f.store->anchors().size(), 1u);
    EXPECT_EQ(f.store->anchors()[0].t, f.env.clock.now());
}

}  // namespace
}  // namespace pellora::test
