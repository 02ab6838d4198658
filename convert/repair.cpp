#include "convert/repair.h"

namespace {

// The collected positions: 20 slots, at most 19 filled, so that a 0 always
// follows the last one (position 0 is never collected).
constexpr int kPositionSlots = 20;
constexpr int kMaxCollected = kPositionSlots - 1;
static_assert(kMaxCollected == kMostCollectedMarkers, "19 collected markers");

// Number of samples taken from each end of the samples for the baseline.
constexpr int32_t kBaselineWindow = 10;

// Two-sided extrapolation at marker r: the two samples before the marker and
// the two after it, each pair extended in a straight line onto r, give the
// ratio that brings the samples after the marker to the level before it.
// Returns false (and changes nothing) when the estimate after it is 0.
bool TwoSidedAt(float* p, int32_t r, int32_t end) {
    const float a = static_cast<float>(2.0L * p[r - 1] - static_cast<long double>(p[r - 2]));
    const float b = static_cast<float>(2.0L * p[r + 1] - static_cast<long double>(p[r + 2]));
    if (b == 0.0f) return false;
    p[r] = a;
    const float ratio = static_cast<float>(static_cast<long double>(a) / static_cast<long double>(b));
    for (int32_t j = r + 1; j < end; ++j) {
        p[j] = static_cast<float>(static_cast<long double>(p[j]) * static_cast<long double>(ratio));
    }
    return true;
}

// Back extrapolation at marker r: the three samples after the marker extended
// in a straight line onto r - 2 and r - 1, summed, against the sum of the two
// samples actually there. The marked sample becomes the mean of its neighbours.
// Returns false (and changes nothing) when the extrapolated sum is 0.
bool BackAt(float* p, int32_t r, int32_t end) {
    const float d = static_cast<float>(4.0L * p[r + 1] + static_cast<long double>(p[r + 2]) -
                                       3.0L * p[r + 3]);
    if (d == 0.0f) return false;
    const long double before = static_cast<long double>(p[r - 2]) + static_cast<long double>(p[r - 1]);
    const float ratio = static_cast<float>(before / static_cast<long double>(d));
    for (int32_t j = r + 1; j < end; ++j) {
        p[j] = static_cast<float>(static_cast<long double>(p[j]) * static_cast<long double>(ratio));
    }
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
        if ((tag >> 3) != calibrationIndex) continue;
        MarkerPairUse use = MarkerPairUse::Collected;
        if (position == -1 || position == 0) {
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

void RepairJumps(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
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
            const bool changed = twoSided ? TwoSidedAt(p, r, end) : BackAt(p, r, end);
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
    for (int32_t i = 0; i < n; ++i) {
        p[i] = static_cast<float>(static_cast<long double>(p[i]) - static_cast<long double>(baseline));
    }
    if (report) report->baseline = baseline;
}
