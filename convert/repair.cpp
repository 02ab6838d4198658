#include "convert/repair.h"

#include <cmath>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

// The collected positions: 20 slots, at most 19 filled, so that a 0 always
// follows the last one (position 0 is never collected).
constexpr int kPositionSlots = 20;
constexpr int kMaxCollected = kPositionSlots - 1;
static_assert(kMaxCollected == kMostCollectedMarkers, "19 collected markers");

// Number of samples taken from each end of the samples for the baseline.
constexpr int32_t kBaselineWindow = 10;

// The two operations the repair applies to every sample of a range, as the
// rule states them: each in extended precision, rounded to single precision.
struct PlainArithmetic {
    // p[j] = p[j] x ratio for j = 0 .. count - 1.
    static void Multiply(float* p, int32_t count, float ratio) {
        for (int32_t j = 0; j < count; ++j)
            p[j] = static_cast<float>(static_cast<long double>(p[j]) * static_cast<long double>(ratio));
    }
    // p[i] = p[i] - baseline for i = 0 .. n - 1.
    static void Subtract(float* p, int32_t n, float baseline) {
        for (int32_t i = 0; i < n; ++i)
            p[i] = static_cast<float>(static_cast<long double>(p[i]) - static_cast<long double>(baseline));
    }
};

// The same operations in single precision, which give the same bits:
// - The product of two floats has at most 48 significant bits and lies
//   between 2^-298 and 2^256, so extended precision holds it exactly, and
//   rounding it to single precision is the one rounding that a
//   single-precision product makes, subnormal and overflowing results
//   included.
// - The difference of two floats rounded to 64 bits and then to 24 is the
//   difference rounded to 24 bits once: double rounding cannot change a sum
//   or difference when the wider format has at least 2 x 24 + 2 bits
//   (Figueroa, "When is double rounding innocuous?", 1995). The result is the
//   same when it overflows (rounding decides that in both), and a difference
//   in the subnormal range is exact in both.
// - A NaN operand: both keep the NaN of a sample (quieted); infinity minus
//   infinity and zero times infinity give the same default NaN. Only with
//   two NaN operands could the two units choose different payloads, so a NaN
//   ratio or baseline takes the plain loop.
// The four-lane SSE2 operations round each lane as the one-lane ones do.
struct FastArithmetic {
    enum class Operation { Multiply, Subtract };
    // p[j] times or minus `value` for j < count, four lanes at a time.
    template <Operation operation>
    static void Apply(float* p, int32_t count, float value) {
        constexpr bool multiply = operation == Operation::Multiply;
        int32_t j = 0;
#if defined(__SSE2__)
        const __m128 lanes = _mm_set1_ps(value);
        for (; j + 4 <= count; j += 4) {
            const __m128 x = _mm_loadu_ps(p + j);
            _mm_storeu_ps(p + j, multiply ? _mm_mul_ps(x, lanes) : _mm_sub_ps(x, lanes));
        }
#endif
        for (; j < count; ++j) p[j] = multiply ? p[j] * value : p[j] - value;
    }
    static void Multiply(float* p, int32_t count, float ratio) {
        if (std::isnan(ratio)) return PlainArithmetic::Multiply(p, count, ratio);
        Apply<Operation::Multiply>(p, count, ratio);
    }
    static void Subtract(float* p, int32_t n, float baseline) {
        if (std::isnan(baseline)) return PlainArithmetic::Subtract(p, n, baseline);
        Apply<Operation::Subtract>(p, n, baseline);
    }
};

// Two-sided extrapolation at marker r: the two samples before the marker and
// the two after it, each pair extended in a straight line onto r, give the
// ratio that brings the samples after the marker to the level before it.
// Returns false (and changes nothing) when the estimate after it is 0.
template <typename Arithmetic>
bool TwoSidedAt(float* p, int32_t r, int32_t end) {
    const float a = static_cast<float>(2.0L * p[r - 1] - static_cast<long double>(p[r - 2]));
    const float b = static_cast<float>(2.0L * p[r + 1] - static_cast<long double>(p[r + 2]));
    if (b == 0.0f) return false;
    p[r] = a;
    const float ratio = static_cast<float>(static_cast<long double>(a) / static_cast<long double>(b));
    Arithmetic::Multiply(p + r + 1, end - (r + 1), ratio);
    return true;
}

// Back extrapolation at marker r: the three samples after the marker extended
// in a straight line onto r - 2 and r - 1, summed, against the sum of the two
// samples actually there. The marked sample becomes the mean of its neighbours.
// Returns false (and changes nothing) when the extrapolated sum is 0.
template <typename Arithmetic>
bool BackAt(float* p, int32_t r, int32_t end) {
    const float d = static_cast<float>(4.0L * p[r + 1] + static_cast<long double>(p[r + 2]) -
                                       3.0L * p[r + 3]);
    if (d == 0.0f) return false;
    const long double before = static_cast<long double>(p[r - 2]) + static_cast<long double>(p[r - 1]);
    const float ratio = static_cast<float>(before / static_cast<long double>(d));
    Arithmetic::Multiply(p + r + 1, end - (r + 1), ratio);
    p[r] = static_cast<float>((static_cast<long double>(p[r - 1]) + static_cast<long double>(p[r + 1])) *
                              0.5L);
    return true;
}

// Calls visit(pair index, position, tag, use) for every pair whose tag selects
// the channel, in file order. The tag holds 8 times the calibration index; its
// low 3 bits are not used. A last value without a tag (odd count) is passed over.
template <typename Visit>
void VisitPairsOfChannel(int16_t calibrationIndex, int32_t markerCount, const int16_t* markers,
                         Visit visit) {
    if (markers == nullptr) return;
    int collected = 0;
    for (int32_t i = 0; i + 1 < markerCount; i += 2) {
        const int16_t position = markers[i];
        const int16_t tag = markers[i + 1];
        if (CalibrationIndexOfTag(tag) != calibrationIndex) continue;
        MarkerPairUse use = MarkerPairUse::Collected;
        if (!IsMarkerPosition(position)) {
            use = MarkerPairUse::NotAPosition;
        } else if (collected < kMaxCollected) {
            ++collected;
        } else {
            use = MarkerPairUse::BeyondLimit;
        }
        visit(i / 2, position, tag, use);
    }
}

}  // namespace

std::vector<ChannelMarkerPair> MarkersOfChannel(int16_t calibrationIndex, int32_t markerCount,
                                                const int16_t* markers) {
    std::vector<ChannelMarkerPair> pairs;
    VisitPairsOfChannel(calibrationIndex, markerCount, markers,
                        [&](int32_t pair, int16_t position, int16_t tag, MarkerPairUse use) {
                            pairs.push_back(ChannelMarkerPair{pair, position, tag, use});
                        });
    return pairs;
}

namespace {

template <typename Arithmetic>
void Repair(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
            const int16_t* markers, int32_t repairMode, RepairReport* report) {
    if (report) *report = RepairReport();
    // Repair mode 0 repairs nothing and subtracts no baseline.
    if (repairMode == 0 || n <= 0 || samples == nullptr) return;
    float* const p = samples;

    // Collect the positions of the pairs whose tag selects this channel.
    int16_t positions[kPositionSlots] = {};
    int collected = 0;
    VisitPairsOfChannel(calibrationIndex, markerCount, markers,
                        [&](int32_t, int16_t position, int16_t, MarkerPairUse use) {
                            if (use == MarkerPairUse::Collected) positions[collected++] = position;
                        });

    // Each marker scales the samples from r + 1 up to the next collected
    // position (the last one up to the end) and replaces its marked sample. A
    // marker whose reads would leave the samples changes nothing, like one
    // whose estimate is 0, but still ends the range of the marker before it.
    const bool twoSided = repairMode == kTwoSidedExtrapolation;
    const int32_t lastAfter = twoSided ? 2 : 3;  // samples read after the marker
    for (int slot = 0; slot < collected; ++slot) {
        const int32_t r = positions[slot];
        int32_t end = positions[slot + 1];
        if (end == 0 || end > n) end = n;
        MarkerEffect effect = MarkerEffect::OutsideSamples;
        if (r >= 2 && r + lastAfter <= n - 1) {
            const bool changed = twoSided ? TwoSidedAt<Arithmetic>(p, r, end) : BackAt<Arithmetic>(p, r, end);
            effect = !changed ? MarkerEffect::ZeroEstimate
                              : end > r + 1 ? MarkerEffect::Repaired : MarkerEffect::OnlyMarked;
        }
        if (report) report->markers[report->count++] = MarkerOutcome{positions[slot], end, effect};
    }

    // Subtract the mean of the ten first and ten last samples (fewer when
    // there are fewer than ten samples); where the ends overlap, a sample
    // counts twice.
    const int32_t window = n < kBaselineWindow ? n : kBaselineWindow;
    float sum = 0.0f;
    for (int32_t i = 0; i < window; ++i) {
        sum = static_cast<float>(static_cast<long double>(sum) + p[i] + p[n - 1 - i]);
    }
    const float baseline =
        window == kBaselineWindow
            ? static_cast<float>(static_cast<long double>(sum) * 0.05L)
            : static_cast<float>(static_cast<long double>(sum) / static_cast<long double>(2 * window));
    Arithmetic::Subtract(p, n, baseline);
    if (report) report->baseline = baseline;
}

}  // namespace

void RepairJumps(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                 const int16_t* markers, int32_t repairMode, RepairReport* report) {
    Repair<FastArithmetic>(calibrationIndex, n, samples, markerCount, markers, repairMode, report);
}

void RepairJumpsPlain(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                      const int16_t* markers, int32_t repairMode) {
    Repair<PlainArithmetic>(calibrationIndex, n, samples, markerCount, markers, repairMode, nullptr);
}
