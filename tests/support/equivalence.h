// Inputs for the tests that compare a fast path with the plain
// extended-precision rule it stands for: a fixed pseudo-random sequence and
// float values drawn from every corner of the format.
#pragma once

#include <cstdint>

// Number of inputs each equivalence test checks: VMFITS_EQUIVALENCE_INPUTS
// when set (for a long run by hand, e.g. 10000000), else `usual`.
int64_t EquivalenceInputs(int64_t usual);

// splitmix64: the same sequence for the same seed on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    // Uniform in 0 .. bound - 1 (bound > 0).
    uint64_t Below(uint64_t bound) { return Next() % bound; }
    // Uniform in lowest .. highest.
    int64_t Between(int64_t lowest, int64_t highest) {
        return lowest + static_cast<int64_t>(Below(static_cast<uint64_t>(highest - lowest) + 1));
    }
    bool OneIn(uint64_t n) { return Below(n) == 0; }

private:
    uint64_t state_;
};

float FloatFromBits(uint32_t bits);
uint32_t BitsOfFloat(float value);

// Any float bit pattern: NaNs, infinities, zeros of both signs, denormals.
float AnyFloat(Random& random);
// A finite float of random sign whose exponent is uniform in 2^lowest ..
// 2^highest (exponents below -126 give denormals), random significand.
float FloatInBinades(Random& random, int lowest, int highest);
// `value` moved by `steps` units in the last place (toward +inf when steps > 0).
float StepFloat(float value, int steps);
