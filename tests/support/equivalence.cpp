#include "support/equivalence.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

int64_t EquivalenceInputs(int64_t usual) {
    const char* text = std::getenv("VMFITS_EQUIVALENCE_INPUTS");
    if (text == nullptr || *text == '\0') return usual;
    char* end = nullptr;
    const long long count = std::strtoll(text, &end, 10);
    return (*end == '\0' && count > 0) ? count : usual;
}

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t BitsOfFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float AnyFloat(Random& random) { return FloatFromBits(static_cast<uint32_t>(random.Next())); }

float FloatInBinades(Random& random, int lowest, int highest) {
    const int exponent = static_cast<int>(random.Between(lowest, highest));
    const uint32_t sign = random.OneIn(2) ? 0x80000000u : 0u;
    const auto significand = static_cast<uint32_t>(random.Next() & 0x7FFFFFu);
    if (exponent < -126) {
        // A denormal below 2^(exponent + 1).
        const uint32_t bits = (significand | 0x800000u) >> (-126 - exponent);
        return FloatFromBits(sign | (bits == 0 ? 1u : bits));
    }
    return FloatFromBits(sign | (static_cast<uint32_t>(exponent + 127) << 23) | significand);
}

float StepFloat(float value, int steps) {
    const float toward = steps > 0 ? INFINITY : -INFINITY;
    for (int i = 0; i < std::abs(steps); ++i) value = std::nextafter(value, toward);
    return value;
}
