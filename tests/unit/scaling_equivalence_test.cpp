// The fast scaling path against the extended-precision rule, value by value,
// on random and adversarial inputs. VMFITS_EQUIVALENCE_INPUTS=10000000 runs
// the long check by hand.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "output/scan_output.h"
#include "support/equivalence.h"

namespace {

constexpr int64_t kUsualInputs = 1000000;

// Samples that share one BZERO and BSCALE.
struct Batch {
    float bzero = 0.0f;
    float bscale = 1.0f;
    std::vector<float> samples;
};

// A quotient near every integer that matters: 0, +-1, the ends of the scale
// (+-30000), of 16 bits (+-32767, +-32768, 65536) and of the fast path (2^20).
int64_t InterestingQuotient(Random& random) {
    static const int64_t kEdges[] = {0, 1, -1, 2, -2, 30000, -30000, 29999, -29999, 32767, -32768,
                                     32768, 65535, 65536, -65536, 1048575, 1048576, -1048576};
    if (random.OneIn(3)) return kEdges[random.Below(sizeof kEdges / sizeof kEdges[0])];
    return random.Between(-40000, 40000);
}

// BZERO and BSCALE anywhere in the float range, tiny and huge ones included.
void AnyScale(Random& random, Batch& batch) {
    batch.bzero = random.OneIn(8) ? 0.0f : FloatInBinades(random, -149, 127);
    batch.bscale = std::fabs(FloatInBinades(random, -149, 110));
}

// Samples whose quotient lies within a few units in the last place of an
// integer: x = BZERO + k x BSCALE rounded to float, moved by up to 3 steps.
void NearIntegers(Random& random, Batch& batch) {
    AnyScale(random, batch);
    for (float& x : batch.samples) {
        const long double exact = static_cast<long double>(batch.bzero) +
                                  static_cast<long double>(InterestingQuotient(random)) * batch.bscale;
        const float nearest = std::fabs(exact) <= FLT_MAX ? static_cast<float>(exact) : batch.bzero;
        x = StepFloat(nearest, static_cast<int>(random.Between(-3, 3)));
    }
}

// Integer and half-integer samples with scales of a few bits: exact
// quotients, the case that must always take the plain rule.
void ExactQuotients(Random& random, Batch& batch) {
    static const float kScales[] = {1.0f, 0.5f, 2.0f, 0.25f, 1.0f / 3.0f, 3.0f, 1e-3f};
    static const float kZeros[] = {0.0f, -0.0f, 0.5f, -0.5f, 1.0f, -1234.0f};
    batch.bscale = kScales[random.Below(sizeof kScales / sizeof kScales[0])];
    batch.bzero = kZeros[random.Below(sizeof kZeros / sizeof kZeros[0])];
    for (float& x : batch.samples)
        x = static_cast<float>(random.Between(-80000, 80000)) * (random.OneIn(2) ? 1.0f : 0.5f);
}

// Every bit pattern: NaNs, infinities, zeros of both signs, denormals.
void AnyBits(Random& random, Batch& batch) {
    batch.bzero = AnyFloat(random);
    batch.bscale = AnyFloat(random);
    for (float& x : batch.samples) x = AnyFloat(random);
}

// Denormal samples and scales: the tiny ranges.
void Denormals(Random& random, Batch& batch) {
    batch.bzero = FloatInBinades(random, -149, -120);
    batch.bscale = std::fabs(FloatInBinades(random, -149, -135));
    for (float& x : batch.samples) x = FloatInBinades(random, -149, -118);
}

struct Tally {
    int64_t inputs = 0;
    int64_t mismatches = 0;
    int64_t hard = 0;  // inputs where a plain double-precision quotient truncates wrongly
    std::string first;
};

// Whether (x - BZERO) / BSCALE in double precision, truncated, misses the
// plain rule's value: the inputs a fast path without its fallback would get wrong.
bool DoubleGetsItWrong(float x, float bzero, float bscale, int16_t plain) {
    const double q = (static_cast<double>(x) - bzero) / static_cast<double>(bscale);
    if (!(std::fabs(q) < 0x1p31)) return false;
    return static_cast<uint16_t>(static_cast<int32_t>(q)) != static_cast<uint16_t>(plain);
}

void Check(const float* samples, int32_t n, float bzero, float bscale, const int16_t* reversed,
           Tally& tally) {
    for (int32_t i = 0; i < n; ++i) {
        const int16_t expected = ScaledValue(samples[i], bzero, bscale);
        const int16_t got = reversed[n - 1 - i];
        ++tally.inputs;
        if (DoubleGetsItWrong(samples[i], bzero, bscale, expected)) ++tally.hard;
        if (got == expected) continue;
        if (tally.mismatches++ == 0) {
            char text[160];
            std::snprintf(text, sizeof text, "x %08x bzero %08x bscale %08x: fast %d, plain %d",
                          BitsOfFloat(samples[i]), BitsOfFloat(bzero), BitsOfFloat(bscale), got,
                          expected);
            tally.first = text;
        }
    }
}

TEST(ScalingEquivalence, FastPathGivesThePlainRulesValues) {
    struct Generator {
        const char* name;
        void (*fill)(Random&, Batch&);
    };
    const Generator generators[] = {{"near integers", NearIntegers},
                                    {"exact quotients", ExactQuotients},
                                    {"any bits", AnyBits},
                                    {"denormals", Denormals}};
    const int64_t share = EquivalenceInputs(kUsualInputs) / 4;
    Random random(20031105);
    int64_t hard = 0;
    for (const Generator& generator : generators) {
        Tally tally;
        Batch batch;
        std::vector<int16_t> out;
        while (tally.inputs < share) {
            batch.samples.resize(static_cast<std::size_t>(random.Between(1, 700)));
            generator.fill(random, batch);
            const auto n = static_cast<int32_t>(batch.samples.size());
            out.assign(batch.samples.size(), 0x5A5A);
            ScaleValuesReversed(batch.samples.data(), n, batch.bzero, batch.bscale, out.data());
            Check(batch.samples.data(), n, batch.bzero, batch.bscale, out.data(), tally);
        }
        EXPECT_EQ(tally.mismatches, 0) << generator.name << ", first: " << tally.first;
        std::printf("scaling %-16s %lld inputs, %lld hard, %lld differ\n", generator.name,
                    static_cast<long long>(tally.inputs), static_cast<long long>(tally.hard),
                    static_cast<long long>(tally.mismatches));
        hard += tally.hard;
    }
    // The inputs are adversarial: without its fallback the fast path would
    // get some of them wrong, so the comparison can tell the two apart.
    EXPECT_GT(hard, 0);
}

// Blocks for the search of the largest and smallest sample.

// Ranges from denormal to huge widths around any centre, a few samples that
// are not finite among them.
void Ranges(Random& random, std::vector<float>& samples) {
    const float centre = random.OneIn(4) ? 0.0f : FloatInBinades(random, -149, 126);
    const float width = std::fabs(FloatInBinades(random, -149, 126));
    for (float& x : samples) {
        const long double offset =
            (static_cast<long double>(random.Next() >> 11) * 0x1p-53L - 0.5L) * width;
        x = static_cast<float>(centre + offset);
        if (!std::isfinite(x) || random.OneIn(997)) x = AnyFloat(random);
    }
}

// Zeros of both signs among negative or positive samples, or alone: max or
// min is often a zero, whose sign depends on which zero came first, and with
// zeros alone that sign is the sign of BZERO.
void SignedZeros(Random& random, std::vector<float>& samples) {
    const float side = random.OneIn(2) ? 1.0f : -1.0f;
    const uint64_t kinds = random.OneIn(2) ? 3 : 5;  // 3: zeros and NaNs alone
    for (float& x : samples) {
        switch (random.Below(kinds)) {
            case 0: x = 0.0f; break;
            case 1: x = -0.0f; break;
            case 2: x = NAN; break;
            case 3: x = side * static_cast<float>(random.Between(1, 1000)); break;
            default: x = side * 0.5f;
        }
    }
}

// Samples beyond the seeds (+-1e10, +-1e11) or all on one side of them, so
// that max or min keeps its seed; infinities and NaNs between them.
void BeyondTheSeeds(Random& random, std::vector<float>& samples) {
    const float base = random.OneIn(2) ? 1e10f : -1.2e11f;
    for (float& x : samples) {
        x = base * (1.0f + static_cast<float>(random.Below(1000)) * 1e-3f);
        if (random.OneIn(5)) x = random.OneIn(2) ? INFINITY : -NAN;
    }
}

// Every fourth sample not finite, or all of them.
void NonFiniteLanes(Random& random, std::vector<float>& samples) {
    const uint64_t lane = random.Below(5);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const bool spoiled = lane == 4 || i % 4 == lane;
        samples[i] = spoiled ? (random.OneIn(2) ? -INFINITY : NAN)
                             : static_cast<float>(random.Between(-50000, 50000)) * 0.25f;
    }
}

// Whole blocks: ScaleSamples against the plain procedure, BZERO and BSCALE
// bit for bit (the sign of a zero shows in the BZERO card) and every value.
TEST(ScalingEquivalence, ScaleSamplesGivesThePlainProceduresBlocks) {
    struct Generator {
        const char* name;
        void (*fill)(Random&, std::vector<float>&);
    };
    const Generator generators[] = {{"ranges", Ranges},
                                    {"signed zeros", SignedZeros},
                                    {"beyond the seeds", BeyondTheSeeds},
                                    {"non-finite lanes", NonFiniteLanes}};
    const int64_t share = EquivalenceInputs(kUsualInputs) / 4;
    Random random(1103);
    for (const Generator& generator : generators) {
        int64_t inputs = 0, blocks = 0, differing = 0;
        std::vector<float> samples;
        while (inputs < share) {
            // Mostly short blocks around the four-lane width, some long ones.
            const int64_t n = random.OneIn(40) ? random.Between(0, 3000) : random.Between(0, 40);
            samples.resize(static_cast<std::size_t>(n));
            generator.fill(random, samples);
            const float seed = random.OneIn(2) ? kLeftScalingSeed : kRightScalingSeed;
            const auto count = static_cast<int32_t>(n);
            const ScaledBlock fast = ScaleSamples(samples.data(), count, seed);
            const ScaledBlock plain = ScaleSamplesPlain(samples.data(), count, seed);
            int32_t notFinite = 0;  // the count of the non-finite samples, by the plain test
            for (const float x : samples) notFinite += std::isfinite(x) ? 0 : 1;
            const bool same = BitsOfFloat(fast.bzero) == BitsOfFloat(plain.bzero) &&
                              BitsOfFloat(fast.bscale) == BitsOfFloat(plain.bscale) &&
                              fast.values == plain.values && CountNotFinite(samples.data(), count) == notFinite;
            if (!same && differing++ == 0) {
                ADD_FAILURE() << generator.name << ": n " << n << ", bzero " << fast.bzero << " / "
                              << plain.bzero << ", bscale " << fast.bscale << " / " << plain.bscale;
            }
            inputs += n;
            ++blocks;
        }
        std::printf("scaling %-16s %lld blocks, %lld samples, %lld blocks differ\n", generator.name,
                    static_cast<long long>(blocks), static_cast<long long>(inputs),
                    static_cast<long long>(differing));
    }
}

}  // namespace
