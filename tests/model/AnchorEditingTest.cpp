// Hand edits by position in the editable list, clearing, and seeding from the samples log.

#include <gtest/gtest.h>

#include "AnchorStoreFixture.h"

namespace pellora::test {
namespace {

std::vector<double> lumas(const std::vector<Anchor>& anchors) {
    std::vector<double> out;
    for (const auto& a : anchors) {
        out.push_back(a.luma);
    }
    return out;
}

Sample user(double t, double luma, int brightness, int hour) {
    return Sample{t, luma, brightness, hour, true};
}

TEST(AnchorEditing, TheEditableListIsTheHoursPeriodByLumaWithEqualLumasInStorageOrder) {
    AnchorStoreFixture f({{150, 70, 12, 0, 1},
                          {30, 20, 23, 0, 1},
                          {60, 40, 9, 0, 1},
                          {10, 5, 3, 0, 1},
                          {60, 45, 13, 0, 1}});
    EXPECT_EQ(lumas(f.store->editable(12.0)), (std::vector<double>{60, 60, 150}));
    EXPECT_EQ(lumas(f.store->editable(7.0)), (std::vector<double>{60, 60, 150}));
    EXPECT_EQ(lumas(f.store->editable(23.0)), (std::vector<double>{10, 30}));
    f.store->removeEditable(1, 12.0);  // the later of the two at 60
    EXPECT_EQ(f.store->anchors()[2].brightness, 40);
    EXPECT_EQ(lumas(f.store->anchors()), (std::vector<double>{150, 30, 60, 10}));
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.stored(), f.store->anchors());
}

TEST(AnchorEditing, ADragClampsStampsAndRaisesTheWeightButKeepsTheHourAndNeverMerges) {
    AnchorStoreFixture f({{100, 50, 12, 0, 1.0}, {200, 80, 14, 0, 5.0}});
    f.env.clock.advance(3600);
    f.store->moveEditable(0, 300, -5, 12);
    EXPECT_EQ(f.store->anchors()[0], (Anchor{255, 0, 12, f.now(), 3.0}));
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.stored(), f.store->anchors());
    // Position 0 is now the other anchor; its larger weight stays.
    f.store->moveEditable(0, 255, 70, 23);  // the hour only picks the list
    f.store->moveEditable(0, 255, 70, 12);
    EXPECT_EQ(f.store->anchors()[1], (Anchor{255, 70, 14, f.now(), 5.0}));
    EXPECT_EQ(f.store->anchors().size(), 2u);
}

TEST(AnchorEditing, StalePositionsDoNothingAtAll) {
    AnchorStoreFixture f({{10, 10, 12, 0, 1}, {50, 20, 12, 0, 1}, {5, 5, 23, 0, 1}});
    const auto before = f.stored();
    f.store->removeEditable(5, 12.0);
    f.store->removeEditable(-1, 12.0);
    f.store->moveEditable(2, 1, 1, 12.0);
    f.store->moveEditable(1, 1, 1, 23.0);
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.stored(), before);
    EXPECT_EQ(f.store->anchors(), before);
}

TEST(AnchorEditing, ClearRemovesTheValueFromBothCopies) {
    AnchorStoreFixture f({{90, 30, 12, 0, 1}});
    f.store->clear();
    EXPECT_TRUE(f.store->anchors().empty());
    EXPECT_EQ(f.changes, 1);
    f.env.reopenSettings();
    EXPECT_EQ(f.env.settings->data(kKey), std::nullopt);
    EXPECT_TRUE(f.reopen()->anchors().empty());
}

TEST(AnchorSeeding, OnlyTheUsersSamplesCountAveragedPerBucketWithAtMostFour) {
    AnchorStoreFixture f({{90, 30, 12, 0, 1}});
    const double t0 = kStart - kDay;
    std::vector<Sample> samples{{t0 + 9999, 101, 99, 20, false}};
    f.store->seedFromSamples(samples);
    f.store->seedFromSamples({});
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.stored().size(), 1u);
    for (int i = 0; i < 7; ++i) {
        samples.push_back(user(t0 + i * 60, 100 + i, 40 + i, 20));
    }
    f.store->seedFromSamples(samples);
    EXPECT_EQ(f.store->anchors(), (std::vector<Anchor>{{103, 43, 20.0, t0 + 360, 4.0}}));
    EXPECT_EQ(f.stored(), f.store->anchors());
    EXPECT_EQ(f.changes, 1);
    samples.resize(4);
    f.store->seedFromSamples(samples);
    EXPECT_EQ(f.store->anchors().at(0).weight, 3.0);
    f.store->seedFromSamples({user(0, 50, 30, 12)});  // no time: stamped now
    EXPECT_EQ(f.store->anchors().at(0).t, kStart);
}

TEST(AnchorSeeding, BucketsSplitByPeriodAndBandsOf24) {
    AnchorStoreFixture f;
    f.store->seedFromSamples({user(kStart, 23.99, 10, 12), user(kStart, 24, 20, 12),
                              user(kStart, 10, 30, 21), user(kStart, 10, 40, 22),
                              user(kStart, 255, 50, 6), user(kStart, 240, 60, 6)});
    // Hour 21 is still day, so 23.99 and 10 share day band 0; 24 starts band 1. Hours 22
    // and 6 are night: band 0, and band 10 for 240 to 255.
    EXPECT_EQ(lumas(f.store->editable(12)), (std::vector<double>{(23.99 + 10) / 2, 24}));
    EXPECT_EQ(lumas(f.store->editable(23)), (std::vector<double>{10, 247.5}));
}

TEST(AnchorSeeding, ANightBucketAcrossMidnightKeepsANightHour) {
    AnchorStoreFixture f;
    auto seededHour = [&](std::initializer_list<int> hours) {
        std::vector<Sample> samples;
        for (int hour : hours) {
            samples.push_back(user(kStart, 50, 30, hour));
        }
        f.store->seedFromSamples(samples);
        return f.store->anchors().at(0).hour;
    };
    EXPECT_NEAR(seededHour({22, 6}), 2.0, 1e-9);  // the plain mean, 14, is a day hour
    EXPECT_NEAR(std::fmod(seededHour({23, 1}) + 1, 24), 1.0, 1e-9);  // midnight
    EXPECT_DOUBLE_EQ(seededHour({22, 23}), 22.5);  // one side only: the plain mean
    EXPECT_DOUBLE_EQ(seededHour({0, 5}), 2.5);
    for (int before : {22, 23}) {
        for (int after = 0; after <= 6; ++after) {
            EXPECT_EQ(dayPeriodOf(seededHour({before, before, after})), DayPeriod::night)
                << before << "+" << after;
        }
    }
}

TEST(AnchorSeeding, TwentyTwoBucketsKeepTheTenWithTheMostDecayedWeight) {
    AnchorStoreFixture f;
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
