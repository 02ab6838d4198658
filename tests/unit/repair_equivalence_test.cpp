// The repair's single-precision loops against the extended-precision rule:
// RepairJumps and RepairJumpsPlain on the same random and adversarial
// samples and markers must leave the same bits. VMFITS_EQUIVALENCE_INPUTS
// sets the number of samples (e.g. 10000000 by hand).
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <vector>

#include "convert/repair.h"
#include "support/equivalence.h"

namespace {

constexpr int64_t kUsualInputs = 1000000;
constexpr int16_t kChannel = 3;  // calibration index of the repaired channel

// A level that jumps by random factors at the marker positions, on a slope.
void Drift(Random& random, const std::vector<int16_t>& positions, std::vector<float>& p) {
    double level = 1000.0 + static_cast<double>(random.Below(5000));
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t k = 0; k + 1 < positions.size(); k += 2)
            if (positions[k] == static_cast<int16_t>(i)) level *= 0.5 + static_cast<double>(random.Below(1000)) / 500.0;
        p[i] = static_cast<float>(level + 0.01 * static_cast<double>(i) +
                                  static_cast<double>(random.Below(100)) * 0.37);
    }
}

// Every bit pattern: NaNs, infinities, zeros of both signs, denormals.
void AnyBits(Random& random, const std::vector<int16_t>&, std::vector<float>& p) {
    for (float& x : p) x = AnyFloat(random);
}

// The ten first and ten last samples all v, so the baseline is close to v;
// the others differ from it by every exponent step up to 2^30 either way and
// lie a few units in the last place from the values where the difference
// from v needs rounding at half a unit: the hard cases of the subtraction.
void NearTheBaseline(Random& random, const std::vector<int16_t>&, std::vector<float>& p) {
    const float v = FloatInBinades(random, -90, 90);
    int exponent = 0;
    std::frexp(v, &exponent);
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (i < 10 || i + 10 >= p.size()) {
            p[i] = v;
            continue;
        }
        const int shift = static_cast<int>(random.Between(-30, 30));
        const float x = FloatInBinades(random, exponent + shift - 1, exponent + shift - 1);
        p[i] = StepFloat(random.OneIn(2) ? x : std::ldexp(v, shift), static_cast<int>(random.Between(-3, 3)));
    }
}

// Denormals, and values near the largest float of both signs, whose products
// and differences leave the single-precision range.
void Extremes(Random& random, const std::vector<int16_t>&, std::vector<float>& p) {
    for (float& x : p) {
        x = random.OneIn(2) ? FloatInBinades(random, -149, -120) : FloatInBinades(random, 120, 127);
        if (random.OneIn(50)) x = StepFloat(random.OneIn(2) ? FLT_MAX : -FLT_MAX, -static_cast<int>(random.Below(4)));
    }
}

// Position/tag pairs: most of the channel (tags 8 x 3 .. 8 x 3 + 7), some of
// another channel, positions anywhere from before the start to past the end,
// -1 and 0 among them, sometimes more than 19 and sometimes an odd count.
std::vector<int16_t> Markers(Random& random, int64_t n) {
    std::vector<int16_t> markers;
    const int64_t pairs = random.Below(26);
    for (int64_t k = 0; k < pairs; ++k) {
        const auto position = static_cast<int16_t>(random.OneIn(10) ? random.Between(-3, 1)
                                                                    : random.Between(0, n + 4));
        const auto tag = static_cast<int16_t>(8 * (random.OneIn(6) ? 4 : kChannel) + random.Below(8));
        markers.insert(markers.end(), {position, tag});
    }
    if (random.OneIn(10)) markers.push_back(static_cast<int16_t>(random.Between(2, n + 2)));
    return markers;
}

TEST(RepairEquivalence, FastRepairLeavesThePlainRulesBits) {
    struct Generator {
        const char* name;
        void (*fill)(Random&, const std::vector<int16_t>&, std::vector<float>&);
    };
    const Generator generators[] = {{"drift", Drift},
                                    {"any bits", AnyBits},
                                    {"near the baseline", NearTheBaseline},
                                    {"extremes", Extremes}};
    const int64_t share = EquivalenceInputs(kUsualInputs) / 4;
    Random random(19);
    for (const Generator& generator : generators) {
        int64_t inputs = 0, calls = 0, differing = 0;
        std::vector<float> fast, plain;
        while (inputs < share) {
            const int64_t n = random.OneIn(20) ? random.Between(0, 4000) : random.Between(0, 60);
            const std::vector<int16_t> markers = Markers(random, n);
            fast.resize(static_cast<std::size_t>(n));
            generator.fill(random, markers, fast);
            plain = fast;
            const int32_t mode = random.OneIn(2) ? kTwoSidedExtrapolation
                                                 : static_cast<int32_t>(random.Between(-3, 5));
            const auto count = static_cast<int32_t>(markers.size());
            RepairJumps(kChannel, static_cast<int32_t>(n), fast.data(), count, markers.data(), mode);
            RepairJumpsPlain(kChannel, static_cast<int32_t>(n), plain.data(), count, markers.data(), mode);
            for (std::size_t i = 0; i < fast.size(); ++i) {
                if (BitsOfFloat(fast[i]) == BitsOfFloat(plain[i])) continue;
                if (differing++ == 0) {
                    ADD_FAILURE() << generator.name << ": n " << n << ", mode " << mode << ", sample " << i
                                  << ": fast " << fast[i] << ", plain " << plain[i];
                }
                break;
            }
            inputs += n;
            ++calls;
        }
        std::printf("repair %-18s %lld calls, %lld samples, %lld calls differ\n", generator.name,
                    static_cast<long long>(calls), static_cast<long long>(inputs),
                    static_cast<long long>(differing));
    }
}

}  // namespace
