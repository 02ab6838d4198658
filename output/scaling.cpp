// Scaling one polarisation to 16-bit integers: the search for the largest and
// smallest sample, BZERO and BSCALE, and the stored values. The rule is the
// extended-precision one of ScaledValue; the loops below reach the same bits
// faster, each with the reason why in front of it.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "output/scan_output.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The low 16 bits of the integer that `quotient` truncates to. Quotients
// outside the 32-bit range cannot arise from samples between min and max, but
// are still reduced exactly instead of being converted out of range.
int16_t LowSixteenBits(long double quotient) {
    if (!std::isfinite(quotient)) return 0;
    if (quotient > -2147483649.0L && quotient < 2147483648.0L) {
        const auto whole = static_cast<int32_t>(quotient);  // truncates toward zero
        return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(whole) & 0xFFFFu));
    }
    long double rest = std::fmod(std::trunc(quotient), 65536.0L);
    if (rest < 0) rest += 65536.0L;
    return static_cast<int16_t>(static_cast<uint16_t>(rest));
}

bool IsFinite(float x) { return std::fabs(x) <= FLT_MAX; }  // false for NaN too

struct Range {
    float max;
    float min;
};

// The search as the procedure states it: max starts at -seed and min at
// +seed; a finite sample replaces max unless max >= it, and replaces min when
// min > it. Ties keep the earlier value, which matters for 0 and -0 only.
void SearchInOrder(const float* samples, int32_t n, Range& range) {
    for (int32_t i = 0; i < n; ++i) {
        const float x = samples[i];
        if (!IsFinite(x)) continue;
        if (!(range.max >= x)) range.max = x;
        if (range.min > x) range.min = x;
    }
}

// The same search, four lanes wide. No NaN ever enters a lane (a sample that
// is not finite stands in as -inf for the maximum and +inf for the minimum,
// which never replace anything), so every lane holds the exact largest and
// smallest value of its samples and the seed, and so does their combination:
// max and min are exact in any order. The order decides only which of several
// equal values is kept, and equal finite floats have equal bits except 0 and
// -0. So when either result is a zero, the search is run again in order.
Range SearchRange(const float* samples, int32_t n, float seed) {
    Range range{-seed, seed};
    int32_t done = 0;
#if defined(__SSE2__)
    if (n >= 8 && IsFinite(seed)) {
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 largest = _mm_set1_ps(FLT_MAX);
        const __m128 minusInfinity = _mm_set1_ps(-INFINITY);
        const __m128 plusInfinity = _mm_set1_ps(INFINITY);
        __m128 lanesMax = _mm_set1_ps(range.max);
        __m128 lanesMin = _mm_set1_ps(range.min);
        for (; done + 4 <= n; done += 4) {
            const __m128 x = _mm_loadu_ps(samples + done);
            const __m128 finite = _mm_cmple_ps(_mm_and_ps(x, magnitude), largest);
            const __m128 finiteX = _mm_and_ps(finite, x);
            lanesMax = _mm_max_ps(_mm_or_ps(finiteX, _mm_andnot_ps(finite, minusInfinity)), lanesMax);
            lanesMin = _mm_min_ps(_mm_or_ps(finiteX, _mm_andnot_ps(finite, plusInfinity)), lanesMin);
        }
        float maxima[4], minima[4];
        _mm_storeu_ps(maxima, lanesMax);
        _mm_storeu_ps(minima, lanesMin);
        for (int lane = 0; lane < 4; ++lane) {
            if (!(range.max >= maxima[lane])) range.max = maxima[lane];
            if (range.min > minima[lane]) range.min = minima[lane];
        }
    }
#endif
    SearchInOrder(samples + done, n - done, range);
    if (done > 0 && (range.max == 0.0f || range.min == 0.0f)) {
        range = Range{-seed, seed};
        SearchInOrder(samples, n, range);
    }
    return range;
}

// The fast path: q = (x - BZERO) x (1 / BSCALE) in double precision, and its
// truncation taken whenever q lies within +-2^15 and at least 2^-30 away from
// every integer; every other sample goes through ScaledValue.
//
// Why the truncations agree. Let Q = (x - z) / s be the exact quotient of the
// float sample x, BZERO z and BSCALE s (all finite, s non-zero; anything else
// gives a q that is not finite and takes the plain rule), and u = 2^-53.
// - x - z is a multiple of 2^-149 below 2^129 in magnitude, 1 / s lies in
//   [2^-128, 2^149] and their product, when not 0, in [2^-277, 2^278]: all in
//   the normal range of double, so each of the three double operations (the
//   subtraction, the reciprocal and the product), correctly rounded, has a
//   relative error of at most u, and q = Q (1 + e) with |e| <= (1 + u)^3 - 1.
//   For |q| < 2^15 that gives |q - Q| < 2^15 x 3.0000001 u < 2^-36.
// - The plain rule rounds twice to 64 bits (its exponent range has no
//   overflow or underflow here): q_L = Q (1 + f), |f| <= (1 + 2^-64)^2 - 1,
//   so |q_L - Q| < 2^-47.
// - Hence |q - q_L| < 2^-35. The test takes the fraction |q - trunc(q)|,
//   which is exact (Sterbenz for |q| >= 1; q itself below 1). When it lies in
//   (2^-30, 1 - 2^-30), q lies in (k + 2^-30, k + 1 - 2^-30) for an integer
//   k, so q_L lies strictly inside (k, k + 1), and truncation toward zero,
//   constant on that open interval, gives the same integer for both. It lies
//   within -32767 .. 32767, so it is its own low 16 bits.
// The four-lane loop computes the same q with the same three operations on
// each lane (the conversion of a float to double is exact) and takes a lane
// only where these bounds hold (FourValues); a group of four with any lane
// outside goes through the one-sample path. Where the compiler evaluates
// double expressions in a wider format (x87), the one-sample path takes the
// plain rule for every sample.
constexpr double kLargest = 32768.0;
constexpr double kMargin = 0x1p-30;

struct Scale {
    float bzero;
    float bscale;
    double z;
    double reciprocal;
};

int16_t FastValue(float x, const Scale& scale) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    const double q = (static_cast<double>(x) - scale.z) * scale.reciprocal;
    if (std::fabs(q) < kLargest) {
        const auto whole = static_cast<int32_t>(q);  // truncates toward zero
        const double fraction = std::fabs(q - static_cast<double>(whole));
        if (fraction > kMargin && fraction < 1.0 - kMargin) return static_cast<int16_t>(whole);
    }
#endif
    return ScaledValue(x, scale.bzero, scale.bscale);
}

#if defined(__SSE2__)
// The four-lane form of FastValue for samples[0 .. 3]: false when any lane is
// left to the one-sample path. Its tests are sound forms of the same bounds:
// - Range: the four truncations packed to 16 bits with saturation. A lane
//   whose packed value is neither -32768 nor 32767 truncated to within
//   +-32766, so its q lies within +-32767 (a q that is not finite or beyond
//   the 32-bit range truncates to -2^31, which packs to -32768).
// - Fraction: with g = |q - trunc(q)| (exact, as above), the lane is taken
//   when |g - 1/2| < 1/2 - 2^-30. For g >= 1/4 the subtraction is exact and
//   this is 2^-30 < g < 1 - 2^-30; for g < 1/4 the computed g - 1/2 can
//   only lie above -1/2 + 2^-30 (which is a double) when g - 1/2 itself
//   does, so it implies g > 2^-30.
bool FourValues(const float* samples, const __m128d z, const __m128d reciprocal, __m128i& packed) {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d within = _mm_set1_pd(0.5 - kMargin);
    const __m128 x = _mm_loadu_ps(samples);
    const __m128d q01 = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(x), z), reciprocal);
    const __m128d q23 = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), z), reciprocal);
    const __m128i whole01 = _mm_cvttpd_epi32(q01);
    const __m128i whole23 = _mm_cvttpd_epi32(q23);
    const __m128d g01 = _mm_and_pd(_mm_sub_pd(q01, _mm_cvtepi32_pd(whole01)), magnitude);
    const __m128d g23 = _mm_and_pd(_mm_sub_pd(q23, _mm_cvtepi32_pd(whole23)), magnitude);
    const __m128d taken01 = _mm_cmplt_pd(_mm_and_pd(_mm_sub_pd(g01, half), magnitude), within);
    const __m128d taken23 = _mm_cmplt_pd(_mm_and_pd(_mm_sub_pd(g23, half), magnitude), within);
    const __m128i whole = _mm_unpacklo_epi64(whole01, whole23);
    packed = _mm_packs_epi32(whole, whole);
    const __m128i saturated = _mm_or_si128(_mm_cmpeq_epi16(packed, _mm_set1_epi16(32767)),
                                           _mm_cmpeq_epi16(packed, _mm_set1_epi16(-32768)));
    return (_mm_movemask_pd(taken01) & _mm_movemask_pd(taken23)) == 3 &&
           (_mm_movemask_epi8(saturated) & 0xFF) == 0;
}

// Groups of four from sample i on, up to the first group that any lane
// leaves to the one-sample path; returns where it stopped. Values are stored
// reversed, as ScaleValuesReversed has them.
int32_t FourLaneGroups(const float* samples, int32_t i, int32_t n, const Scale& scale, int16_t* out) {
    const __m128d z = _mm_set1_pd(scale.z);
    const __m128d reciprocal = _mm_set1_pd(scale.reciprocal);
    for (; i + 4 <= n; i += 4) {
        __m128i packed;
        if (!FourValues(samples + i, z, reciprocal, packed)) break;
        // Samples i .. i + 3 go to out[n - 1 - i] down to out[n - 4 - i].
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (n - 4 - i)),
                         _mm_shufflelo_epi16(packed, _MM_SHUFFLE(0, 1, 2, 3)));
    }
    return i;
}
#endif

}  // namespace

int16_t ScaledValue(float sample, float bzero, float bscale) {
    if (!std::isfinite(sample)) return 0;
    return LowSixteenBits((static_cast<long double>(sample) - static_cast<long double>(bzero)) /
                          static_cast<long double>(bscale));
}

void ScaleValuesReversed(const float* samples, int32_t n, float bzero, float bscale, int16_t* out) {
    const Scale scale{bzero, bscale, bzero, 1.0 / static_cast<double>(bscale)};
    int32_t i = 0;
#if defined(__SSE2__)
    while ((i = FourLaneGroups(samples, i, n, scale, out)) + 4 <= n) {
        for (int32_t end = i + 4; i < end; ++i) out[n - 1 - i] = FastValue(samples[i], scale);
    }
#endif
    for (; i < n; ++i) out[n - 1 - i] = FastValue(samples[i], scale);
}

namespace {

// BZERO, the middle of max and min, and BSCALE, which maps max - BZERO onto
// 30000 steps, with room for the n values.
ScaledBlock BlockFor(const Range& range, int32_t n) {
    ScaledBlock block;
    block.bzero = static_cast<float>(
        (static_cast<long double>(range.max) + static_cast<long double>(range.min)) * 0.5L);
    block.bscale = static_cast<float>(
        (static_cast<long double>(range.max) - static_cast<long double>(block.bzero)) *
        (1.0L / 30000.0L));
    block.values.assign(static_cast<std::size_t>(n > 0 ? n : 0), 0);
    return block;
}

}  // namespace

ScaledBlock ScaleSamples(const float* samples, int32_t n, float seed) {
    ScaledBlock block = BlockFor(SearchRange(samples, n, seed), n);
    if (block.bscale == 0.0f || n <= 0) return block;
    ScaleValuesReversed(samples, n, block.bzero, block.bscale, block.values.data());
    return block;
}

ScaledBlock ScaleSamplesPlain(const float* samples, int32_t n, float seed) {
    Range range{-seed, seed};
    SearchInOrder(samples, n, range);
    ScaledBlock block = BlockFor(range, n);
    if (block.bscale == 0.0f) return block;
    for (int32_t i = 0; i < n; ++i)
        block.values[static_cast<std::size_t>(n - 1 - i)] = ScaledValue(samples[i], block.bzero, block.bscale);
    return block;
}

int32_t CountNotFinite(const float* samples, int32_t n) {
    // A float is not finite exactly when its eight exponent bits are all set.
    constexpr uint32_t kExponent = 0x7F800000u;
    int32_t i = 0, count = 0;
#if defined(__SSE2__)
    const __m128i exponent = _mm_set1_epi32(static_cast<int>(kExponent));
    __m128i lanes = _mm_setzero_si128();  // each lane counts down by one per match
    for (; i + 4 <= n; i += 4) {
        const __m128i bits = _mm_castps_si128(_mm_loadu_ps(samples + i));
        lanes = _mm_add_epi32(lanes, _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent));
    }
    int32_t lane[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), lanes);
    count = -(lane[0] + lane[1] + lane[2] + lane[3]);
#endif
    for (; i < n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, samples + i, sizeof bits);
        count += (bits & kExponent) == kExponent ? 1 : 0;
    }
    return count;
}
