// Repair of level jumps at the positions listed in the marker file, followed
// by the subtraction of a baseline.
#pragma once

#include <cstdint>

// Rules selected by the repair mode: 2 is two-sided extrapolation, any other
// non-zero value back extrapolation, 0 no repair at all.
constexpr int32_t kTwoSidedExtrapolation = 2;
constexpr int32_t kBackExtrapolation = 1;

// The marker list holds position/tag pairs (markerCount counts 16-bit values,
// not pairs). Works in place on the n samples; allocates nothing. Never reads
// or writes outside the n samples: a marker too close to either end for its
// rule changes nothing. With fewer than 10 samples the baseline is the mean of
// n samples from each end. Repair mode 0 leaves the samples as they are.
void RepairJumps(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                 const int16_t* markers, int32_t repairMode);

// The same repair with every operation written out in extended precision, as
// the rule states it. RepairJumps gives the same bits faster; this is the
// reference that tests and benchmarks hold it against.
void RepairJumpsPlain(int16_t calibrationIndex, int32_t n, float* samples, int32_t markerCount,
                      const int16_t* markers, int32_t repairMode);
