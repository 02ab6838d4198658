#include "convert/repair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int32_t kRules[] = {kTwoSidedExtrapolation, kBackExtrapolation};

const char* RuleName(int32_t mode) { return mode == kTwoSidedExtrapolation ? "two-sided" : "back"; }

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Runs the repair on a copy of the samples. The copy is followed by guard
// values that must come back untouched.
std::vector<float> Repair(int16_t calibrationIndex, std::vector<float> samples,
                          const std::vector<int16_t>& markers, int32_t mode) {
    const std::size_t n = samples.size();
    constexpr float kGuard = 1234.5f;
    samples.insert(samples.end(), 4, kGuard);
    const std::vector<int16_t> list(markers);  // exactly the loaded values
    RepairJumps(calibrationIndex, static_cast<int32_t>(n), samples.data(),
                static_cast<int32_t>(list.size()), list.empty() ? nullptr : list.data(), mode);
    for (std::size_t i = n; i < samples.size(); ++i) EXPECT_EQ(samples[i], kGuard) << "guard " << i;
    samples.resize(n);
    return samples;
}

// values - baseline, each rounded to single precision.
std::vector<float> Minus(const std::vector<float>& values, float baseline) {
    std::vector<float> result;
    for (float v : values) result.push_back(v - baseline);
    return result;
}

// For 20 integer-valued samples (sums exact in single precision): the values
// less the nearest float to their mean, which is what the baseline step gives.
std::vector<float> MinusMean(const std::vector<float>& values) {
    double sum = 0.0;
    for (float v : values) sum += v;
    return Minus(values, static_cast<float>(sum) / 20.0f);
}

std::vector<float> Ramp(int n) {
    std::vector<float> p;
    for (int i = 0; i < n; ++i) p.push_back(static_cast<float>(i));
    return p;
}

// p[i] = i up to the marker at 8, p[8] spoiled, p[i] = 2i after it.
std::vector<float> OneJump() {
    std::vector<float> p = Ramp(20);
    p[8] = -77.0f;
    for (int i = 9; i < 20; ++i) p[i] = 2.0f * i;
    return p;
}

// p[i] = i, 2i and 6i in three stretches, the samples at 6 and 13 spoiled.
std::vector<float> TwoJumps() {
    std::vector<float> p = Ramp(20);
    p[6] = -50.0f;
    for (int i = 7; i <= 12; ++i) p[i] = 2.0f * i;
    p[13] = -50.0f;
    for (int i = 14; i < 20; ++i) p[i] = 6.0f * i;
    return p;
}

const std::vector<float> kRampMinusMean = Minus(Ramp(20), 9.5f);

TEST(RepairJumps, BringsEveryStretchToTheLevelBeforeTheFirstMarker) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        std::vector<int16_t> markers;
    };
    const Case cases[] = {
        {"one marker", OneJump(), {8, 3 * 8}},
        {"two markers", TwoJumps(), {6, 3 * 8, 13, 3 * 8 + 7}},
        {"position -1 and 0 are ignored, not range ends", OneJump(), {8, 24, -1, 24, 0, 24}},
        {"odd count: the last value has no tag", OneJump(), {8, 24, 12}},
        {"pairs of other channels are passed over", TwoJumps(), {6, 24, 9, 16, 10, 32, 13, 24}},
    };
    for (int32_t mode : kRules) {
        for (const Case& c : cases) {
            EXPECT_EQ(Repair(3, c.samples, c.markers, mode), kRampMinusMean)
                << c.name << ", " << RuleName(mode);
        }
    }
}

TEST(RepairJumps, MarkersApplyInFileOrder) {
    // 13 before 6: the range of 13 ends at 6, so only its marked sample
    // changes (two-sided: A = 2 * 24 - 22 = 26; back: (24 + 84) / 2 = 54).
    // The marker at 6 then halves samples 7 to 19.
    std::vector<float> twoSided = Ramp(14);
    std::vector<float> back = Ramp(14);
    back[13] = 27.0f;
    for (int i = 14; i < 20; ++i) {
        twoSided.push_back(3.0f * i);
        back.push_back(3.0f * i);
    }
    EXPECT_EQ(Repair(0, TwoJumps(), {13, 0, 6, 0}, kTwoSidedExtrapolation), Minus(twoSided, 19.4f));
    EXPECT_EQ(Repair(0, TwoJumps(), {13, 0, 6, 0}, kBackExtrapolation), Minus(back, 20.1f));
}

TEST(RepairJumps, TagsSelectTheCalibrationIndexByTheirHighBits) {
    struct Case {
        int16_t calibrationIndex;
        int16_t tag;
        bool applies;
    };
    const Case cases[] = {
        {3, 24, true}, {3, 27, true}, {3, 31, true}, {3, 23, false}, {3, 32, false},
        {0, 0, true},  {0, 7, true},  {0, 8, false}, {0, -1, false}, {-1, -1, true},
        {-1, -8, true}, {-1, -9, false}, {4095, 32767, true},
    };
    const std::vector<float> untouched = Minus(OneJump(), 12.95f);  // mean of the raw samples
    for (int32_t mode : kRules) {
        for (const Case& c : cases) {
            EXPECT_EQ(Repair(c.calibrationIndex, OneJump(), {8, c.tag}, mode),
                      c.applies ? kRampMinusMean : untouched)
                << "index " << c.calibrationIndex << " tag " << c.tag << ", " << RuleName(mode);
        }
    }
}

TEST(RepairJumps, WithoutMatchingMarkersOnlyTheBaselineIsSubtracted) {
    for (int32_t mode : kRules) {
        EXPECT_EQ(Repair(3, OneJump(), {}, mode), Minus(OneJump(), 12.95f));
        EXPECT_EQ(Repair(3, OneJump(), {8, 16}, mode), Minus(OneJump(), 12.95f));
    }
}

TEST(RepairJumps, RepairModeZeroLeavesTheSamplesAsRead) {
    EXPECT_EQ(Repair(3, OneJump(), {8, 24}, 0), OneJump());
}

TEST(RepairJumps, OnlyTheFirstNineteenMatchingPairsAreApplied) {
    // Markers at 5, 10, ..., 125; stretch k (after the k-th marker) is raw
    // i * 2^k. The first 19 markers bring their stretches to i; the range of
    // the 19th (at 95) reaches the end, so everything after it is multiplied
    // by 2^-19 and the later jumps stay.
    const int n = 140;
    std::vector<float> raw(n);
    std::vector<int16_t> markers;
    for (int k = 1; k <= 25; ++k) {
        markers.push_back(static_cast<int16_t>(5 * k));
        markers.push_back(8);
    }
    std::vector<float> repaired(n);
    for (int i = 0; i < n; ++i) {
        const int stretch = i / 5 > 25 ? 25 : i / 5;
        const bool marked = i % 5 == 0 && stretch >= 1 && i <= 125;
        raw[i] = marked ? -1.0f : std::ldexp(static_cast<float>(i), stretch);
        if (i < 100) {
            repaired[i] = static_cast<float>(i);
        } else {
            repaired[i] = marked ? -0x1p-19f : std::ldexp(static_cast<float>(i), stretch - 19);
        }
    }
    // Baseline: (0 + ... + 9 + 64 * (130 + ... + 139)) / 20 = 86125 / 20.
    const std::vector<float> expected = Minus(repaired, 4306.25f);
    for (int32_t mode : kRules) {
        EXPECT_EQ(Repair(1, raw, markers, mode), expected) << RuleName(mode);
    }
}

TEST(RepairJumps, ZeroEstimateSkipsTheMarkerButEndsThePreviousRange) {
    // Two-sided: p[14] = p[15] = 0 gives B = 0 at 13. Back: p[14..16] = 0
    // gives D = 0. The marker at 6 still stops at 13.
    for (int32_t mode : kRules) {
        std::vector<float> p = TwoJumps();
        p[14] = p[15] = p[16] = 0.0f;
        std::vector<float> expected = p;
        for (int i = 0; i <= 12; ++i) expected[i] = static_cast<float>(i);
        // 0 + ... + 12 - 50 + 0 + 0 + 0 + 102 + 108 + 114 = 352; 352 / 20 = 17.6
        EXPECT_EQ(Repair(0, p, {6, 0, 13, 0}, mode), Minus(expected, 17.6f)) << RuleName(mode);
    }
}

TEST(RepairJumps, BaselineWindowOverlapsForTenToNineteenSamples) {
    // Only p[5] = 40 is non-zero. From the back, sample 5 is in the window of
    // the last ten while n - 6 < 10, so it counts twice up to n = 15.
    for (int n = 10; n <= 20; ++n) {
        std::vector<float> p(n, 0.0f);
        p[5] = 40.0f;
        const float baseline = n <= 15 ? 4.0f : 2.0f;
        std::vector<float> expected(n, -baseline);
        expected[5] = 40.0f - baseline;
        EXPECT_EQ(Repair(0, p, {}, kTwoSidedExtrapolation), expected) << "n = " << n;
    }
}

TEST(RepairJumps, FewerThanTenSamplesUseAsManyFromEachEnd) {
    EXPECT_EQ(Repair(0, {1, 2, 3, 4, 10}, {}, kTwoSidedExtrapolation),
              (std::vector<float>{-3, -2, -1, 0, 6}));  // baseline 40 / 10
    EXPECT_EQ(Repair(0, {7}, {}, kBackExtrapolation), (std::vector<float>{0}));
    // (1 + 4) + (2 + 2) + (4 + 1) = 14 over 6 samples; the marker at 1 cannot
    // be repaired in three samples.
    const float third = 7.0f / 3.0f;
    EXPECT_EQ(Repair(0, {1, 2, 4}, {1, 0}, kTwoSidedExtrapolation),
              (std::vector<float>{1.0f - third, 2.0f - third, 4.0f - third}));
    // No samples: nothing is read or written.
    EXPECT_EQ(Repair(0, {}, {8, 0}, kBackExtrapolation), std::vector<float>{});
    float untouched = 3.0f;
    RepairJumps(0, 0, &untouched, 0, nullptr, kTwoSidedExtrapolation);
    RepairJumps(0, -5, &untouched, 0, nullptr, kTwoSidedExtrapolation);
    EXPECT_EQ(untouched, 3.0f);
}

TEST(RepairJumps, MarkersTooCloseToTheEndsChangeNothingButEndTheRange) {
    // n = 20: two-sided reads r - 2 ... r + 2 (r from 2 to 17), back
    // r - 2 ... r + 3 (r from 2 to 16).
    struct Case {
        int16_t position;
        bool twoSidedApplies;
        bool backApplies;
    };
    const Case cases[] = {
        {1, false, false}, {-5, false, false}, {-32768, false, false}, {2, true, true},
        {16, true, true},  {17, true, false},  {18, false, false},     {19, false, false},
        {20, false, false}, {32767, false, false},
    };
    for (const Case& c : cases) {
        for (int32_t mode : kRules) {
            const bool applies = mode == kTwoSidedExtrapolation ? c.twoSidedApplies : c.backApplies;
            if (applies) continue;
            std::vector<float> p(20);
            for (int i = 0; i < 20; ++i) p[i] = 1.0f + static_cast<float>(i);
            EXPECT_EQ(Repair(0, p, {c.position, 0}, mode), MinusMean(p))
                << c.position << ", " << RuleName(mode);

            // After a marker at 6 that halves its range: the position ends
            // that range (a range end beyond n being n, one before 7 leaving
            // the range empty), and the samples from it on keep their level.
            std::vector<float> stepped = p;
            for (int i = 7; i < 20; ++i) stepped[i] = 2.0f * p[i];
            const int end = c.position >= 20 ? 20 : c.position;
            std::vector<float> expected = p;
            for (int i = 7; i < 20; ++i) {
                if (end <= 6 || i >= end) expected[i] = stepped[i];
            }
            // The marked sample: A = 7, or the mean of its neighbours as left.
            if (mode != kTwoSidedExtrapolation) expected[6] = (expected[5] + expected[7]) * 0.5f;
            EXPECT_EQ(Repair(0, stepped, {6, 0, c.position, 0}, mode), MinusMean(expected))
                << "after 6: " << c.position << ", " << RuleName(mode);
        }
    }
}

TEST(RepairJumps, SamplesThatAreNotFiniteOnlyPropagate) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t mode : kRules) {
        std::vector<float> p = OneJump();
        p[10] = nan;
        const std::vector<float> result = Repair(3, p, {8, 24}, mode);
        EXPECT_TRUE(std::isnan(result[0])) << RuleName(mode);
        p = OneJump();
        p[19] = inf;
        EXPECT_TRUE(std::isinf(Repair(3, p, {8, 24}, mode)[5])) << RuleName(mode);
        p = OneJump();
        p[9] = 3e38f;  // ratios and products beyond the float range
        p[10] = -3e38f;
        Repair(3, p, {8, 24}, mode);
    }
}

// Samples and expectations found by evaluating the steps exactly and rounding
// each to a 64-bit significand (extended) or to 53 bits (double).
TEST(RepairJumps, BaselineSumIsRoundedToSingleAfterEachStep) {
    // S = p[0] + p[19] = 1 + 2^-23, then S + 2^-24 - 2^-60 = 1 + 2^-23 +
    // 2^-24 - 2^-60: just below the midpoint, so S stays 1 + 2^-23 and the
    // baseline is 0x1.99999cp-5. Evaluated in double, S would round to the
    // midpoint and then up to 1 + 2^-22 (baseline 0x1.9999a0p-5).
    std::vector<float> p(20, 0.0f);
    p[0] = 0x1.000002p+0f;
    p[1] = 0x1p-24f;
    p[18] = -0x1p-60f;
    const std::vector<float> result = Repair(0, p, {}, kTwoSidedExtrapolation);
    EXPECT_EQ(Bits(result[0]), Bits(0x1.e6666ap-1f));
    EXPECT_EQ(Bits(result[1]), Bits(-0x1.99997cp-5f));
    for (int i = 2; i < 20; ++i) EXPECT_EQ(Bits(result[i]), Bits(-0x1.99999cp-5f)) << i;
}

TEST(RepairJumps, TwoSidedResultCarriesTheExtendedBaseline) {
    // Marker at 10: A = 2 * 0.25 - 0 = 0.5, B = 2 * 0.75 - 0.5 = 1, ratio 0.5.
    // Then the baseline sum as above: the result below differs from a double
    // evaluation in every sample but 9 to 12 (p[0] would be 0x1.c33336p-1).
    std::vector<float> p(20, 0.0f);
    p[0] = 0x1.000002p+0f;
    p[1] = 0x1p-24f;
    p[9] = 0.25f;
    p[10] = 99.0f;
    p[11] = 0.75f;
    p[12] = 0.5f;
    p[18] = -0x1p-59f;
    const std::vector<float> result = Repair(0, p, {10, 5}, kTwoSidedExtrapolation);
    const float other = -0x1.e66666p-4f;
    const std::vector<float> expected = {
        0x1.c33338p-1f, -0x1.e66656p-4f, other, other, other, other, other, other, other,
        0x1.0ccccc0p-3f, 0x1.866666p-2f, 0x1.066666p-2f, 0x1.0ccccc0p-3f, other, other, other,
        other, other, other, other};
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Bits(result[i]), Bits(expected[i])) << i;
}

TEST(RepairJumps, BackExtrapolationEstimateIsRoundedOnce) {
    // D = 4 * (1 + 2^-23) + 2^-22 - 3 * 2^-58 = 4 + 2^-21 + 2^-22 - 3 * 2^-58,
    // just below a midpoint: D = 4 + 2^-21 and ratio 4 / D = 0x1.fffffcp-1. In
    // double, D would round to the midpoint and on to 4 + 2^-20 (ratio
    // 0x1.fffff8p-1), and every sample below would differ.
    std::vector<float> p(20, 0.0f);
    p[8] = 1.0f;
    p[9] = 3.0f;
    p[10] = 50.0f;
    p[11] = 0x1.000002p+0f;
    p[12] = 0x1p-22f;
    p[13] = 0x1p-58f;
    for (int i = 14; i < 20; ++i) p[i] = static_cast<float>(i);
    const std::vector<uint32_t> expected = {
        0xc0a99999, 0xc0a99999, 0xc0a99999, 0xc0a99999, 0xc0a99999, 0xc0a99999, 0xc0a99999,
        0xc0a99999, 0xc0899999, 0xc0133332, 0xc0533332, 0xc0899999, 0xc0a99999, 0xc0a99999,
        0x410b3332, 0x411b3332, 0x412b3332, 0x413b3332, 0x414b3332, 0x415b3332};
    const std::vector<float> result = Repair(0, p, {10, 5}, kBackExtrapolation);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Bits(result[i]), expected[i]) << i;
}

}  // namespace

namespace {

// The report of a repair: what each collected marker did, and the same
// samples as a repair without a report.
TEST(RepairReport, SaysWhatEachMarkerDid) {
    // n = 20: p[i] = i up to 7, a jump from 9 on; a zero stretch after 13.
    std::vector<float> p;
    for (int i = 0; i < 20; ++i) p.push_back(i < 8 ? i : i == 8 ? 100.0f : i < 14 ? 2.0f * i : 0.0f);
    const std::vector<int16_t> markers{8, 8, 13, 8, 11, 8, 1, 8, 0, 8, 18, 8, 5, 16};
    const struct {
        int32_t mode;
        std::vector<MarkerEffect> effects;
    } cases[] = {
        {kTwoSidedExtrapolation,
         {MarkerEffect::Repaired, MarkerEffect::ZeroEstimate, MarkerEffect::OnlyMarked,
          MarkerEffect::OutsideSamples, MarkerEffect::OutsideSamples}},
        {kBackExtrapolation,
         {MarkerEffect::Repaired, MarkerEffect::ZeroEstimate, MarkerEffect::OnlyMarked,
          MarkerEffect::OutsideSamples, MarkerEffect::OutsideSamples}},
    };
    for (const auto& c : cases) {
        std::vector<float> reported = p;
        RepairReport report;
        RepairJumps(1, 20, reported.data(), static_cast<int32_t>(markers.size()), markers.data(), c.mode,
                    &report);
        const std::vector<float> plain = Repair(1, p, markers, c.mode);
        for (std::size_t i = 0; i < p.size(); ++i) EXPECT_EQ(Bits(reported[i]), Bits(plain[i])) << i;
        ASSERT_EQ(report.count, 5) << RuleName(c.mode);
        const int16_t positions[] = {8, 13, 11, 1, 18};
        const int32_t ends[] = {13, 11, 1, 18, 20};
        for (int k = 0; k < report.count; ++k) {
            EXPECT_EQ(report.markers[k].position, positions[k]);
            EXPECT_EQ(report.markers[k].rangeEnd, ends[k]);
            EXPECT_EQ(report.markers[k].effect, c.effects[static_cast<std::size_t>(k)])
                << RuleName(c.mode) << " marker " << positions[k];
        }
    }
}

TEST(MarkersOfChannel, EveryPairOfTheChannelInFileOrder) {
    std::vector<int16_t> markers{-1, 8, 5, 16, 0, 15};
    for (int i = 1; i <= 20; ++i) {
        markers.push_back(static_cast<int16_t>(10 * i));
        markers.push_back(8);
    }
    markers.push_back(99);  // a position without a tag
    const std::vector<ChannelMarkerPair> pairs =
        MarkersOfChannel(1, static_cast<int32_t>(markers.size()), markers.data());
    ASSERT_EQ(pairs.size(), 22u);
    EXPECT_EQ(pairs[0].use, MarkerPairUse::NotAPosition);
    EXPECT_EQ(pairs[0].pair, 0);
    EXPECT_EQ(pairs[1].use, MarkerPairUse::NotAPosition);  // 0 with tag 15
    EXPECT_EQ(pairs[1].tag, 15);
    for (std::size_t k = 2; k < 21; ++k) EXPECT_EQ(pairs[k].use, MarkerPairUse::Collected) << k;
    EXPECT_EQ(pairs[21].use, MarkerPairUse::BeyondLimit);
    EXPECT_EQ(pairs[21].position, 200);
    EXPECT_EQ(pairs[21].pair, 22);
    EXPECT_TRUE(MarkersOfChannel(1, 0, nullptr).empty());
}

}  // namespace
