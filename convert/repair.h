// Repair of level jumps at the positions listed in the marker file, followed
// by the subtraction of a baseline.
#pragma once

#include <cstdint>
#include <vector>

// Rules selected by the repair mode: 2 is two-sided extrapolation, any other
// non-zero value back extrapolation, 0 no repair at all.
constexpr int32_t kTwoSidedExtrapolation = 2;
constexpr int32_t kBackExtrapolation = 1;

// At most this many markers are collected for one channel, in file order.
constexpr int kMostCollectedMarkers = 19;

// How a pair of the marker list whose tag selects a channel is used.
enum class MarkerPairUse {
    Collected,     // one of the channel's markers
    NotAPosition,  // position -1 or 0: passed over
    BeyondLimit,   // after the 19th collected one: passed over
};

// The calibration index a tag selects: the tag shifted right by 3 (its low
// 3 bits are not used).
inline int16_t CalibrationIndexOfTag(int16_t tag) { return static_cast<int16_t>(tag >> 3); }
// -1 and 0 are not positions: a pair holding one is passed over.
inline bool IsMarkerPosition(int16_t position) { return position != -1 && position != 0; }

struct ChannelMarkerPair {
    int32_t pair = 0;  // index of the pair in the marker list
    int16_t position = 0;
    int16_t tag = 0;
    MarkerPairUse use = MarkerPairUse::Collected;
};

// Every pair whose tag selects the channel (the tag shifted right by 3 equals
// the calibration index), in file order, with how the repair uses it.
std::vector<ChannelMarkerPair> MarkersOfChannel(int16_t calibrationIndex, int32_t markerCount,
                                                const int16_t* markers);

// What a collected marker did to one polarisation.
enum class MarkerEffect {
    Repaired,        // the samples of its range scaled, its marked sample replaced
    OnlyMarked,      // its range is empty: only its marked sample replaced
    OutsideSamples,  // too close to an end of the samples for the rule: nothing changed
    ZeroEstimate,    // the estimate after it (B or D) is 0: nothing changed
};

struct MarkerOutcome {
    int16_t position = 0;
    int32_t rangeEnd = 0;  // its range is position + 1 up to, not including, rangeEnd
    MarkerEffect effect = MarkerEffect::Repaired;
};

// What one call of RepairJumps did: its collected markers in slot order.
struct RepairReport {
    int count = 0;
    MarkerOutcome markers[kMostCollectedMarkers];
    float baseline = 0.0f;  // subtracted from every sample
};

// The marker list holds position/tag pairs (markerCount counts 16-bit values,
// not pairs). Works in place on the n samples; allocates nothing. Never reads
// or writes outside the n samples: a marker too close to either end for its
// rule changes nothing. With fewer than 10 samples the baseline is the mean of
// n samples from each end. Repair mode 0 leaves the samples as they are.
// `report`, when given, receives what each collected marker did.
void RepairJumps(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                 const int16_t* markers, int32_t repairMode, RepairReport* report = nullptr);

// The same repair with every operation written out in extended precision, as
// the rule states it. RepairJumps gives the same bits faster; this is the
// reference that tests and benchmarks hold it against.
void RepairJumpsPlain(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                      const int16_t* markers, int32_t repairMode);
