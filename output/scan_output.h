// Byte layout of the scan file and the scan index line, and the scaling of one
// polarisation to 16-bit integers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inputs/observation_header.h"

// The pointing and sampling values of a run, the same in every scan file
// (derived from the header, the azimuth after the object-name override).
struct PointingValues {
    float azimuth = 0.0f;   // degrees
    float altitude = 0.0f;  // degrees
    float angleP = 0.0f;    // as stored in the header
    float step = 0.0f;      // arc seconds between two points
};

// PMCSUN: (n + 1) - pmc in double precision.
double PostMeridianCentre(int32_t sampleCount, float pmc);

// One polarisation scaled to 16 bits. A stored value v stands for the sample
// v x bscale + bzero.
struct ScaledBlock {
    std::vector<int16_t> values;  // reverse sample order: the last sample first
    float bscale = 0.0f;
    float bzero = 0.0f;
};

// Everything one scan file holds besides the run's header and pointing values.
struct ScanChannel {
    int channel = 0;               // indexes the header's channel tables
    int32_t sampleCount = 0;       // n, NAXIS1
    float calibrationStep = 0.0f;  // TCALIBR
    float fluxFactor = 0.0f;
    int16_t quietSunTemperature = 0;
    float beamWidth = 0.0f;
    ScaledBlock left;   // from the al file
    ScaledBlock right;  // from the ar file
};

// The bytes of a scan file: the header cards and both data blocks, formatted
// from the header, the run's pointing values and the channel's values.
std::string ScanFileBytes(const ObservationHeader& header, const PointingValues& pointing,
                          int32_t calibrationFlag, const ScanChannel& channel);

// A number in a printf-style format ("%.3f GHz"), in the "C" locale as the
// cards are: the one formatter of numbers the tools share with the writer.
std::string FormattedNumber(const char* format, double value);

// "%s_%02dz.%03d": the scan file name without its folder.
std::string ScanFileName(const std::string& baseName, int scanNumber, int scanCounter);
// "%s_%02dz.0hd": the scan index name without its folder.
std::string ScanIndexName(const std::string& baseName, int scanNumber);
// One scan index line: the scan file name, a tab and the frequency as
// "%2.3f[GHz]", ended by CR LF as it stands on disk on every platform.
std::string ScanIndexLine(const std::string& baseName, int scanNumber, int scanCounter,
                          double channelFrequency);

// Seeds of the max/min search of the first (al) and the second (ar) polarisation.
constexpr float kLeftScalingSeed = 1e10f;
constexpr float kRightScalingSeed = static_cast<float>(1e11);  // 99999997952

// Scales n samples to 16 bits: max starts at -seed and min at +seed, BZERO is
// the middle of max and min, BSCALE maps max - BZERO onto 30000 steps, and
// every value (x - BZERO) / BSCALE is truncated toward zero, of which the low
// 16 bits are kept. The values are stored in reverse order. BSCALE 0 (all
// samples equal) gives all zeros. Samples that are not finite numbers are left
// out of the max/min search and stored as 0.
ScaledBlock ScaleSamples(const float* samples, int32_t n, float seed);

// The same procedure exactly as stated: the search one sample after the
// other and every value by ScaledValue. ScaleSamples gives the same bits
// faster; this is the reference that tests and benchmarks hold it against.
ScaledBlock ScaleSamplesPlain(const float* samples, int32_t n, float seed);

// The stored value of one sample, by the extended-precision rule: (x - BZERO)
// / BSCALE in long double, truncated toward zero, the low 16 bits kept; 0 for
// a sample that is not a finite number and for a quotient that is not one.
int16_t ScaledValue(float sample, float bzero, float bscale);

// How many of the n samples are not finite numbers (infinities and NaNs),
// four at a time where the processor can: the count std::isfinite gives.
int32_t CountNotFinite(const float* samples, int32_t n);

// ScaledValue of every sample, stored in reverse order: out[n - 1 - i] holds
// the value of samples[i]. Gives exactly the bits of ScaledValue, faster.
void ScaleValuesReversed(const float* samples, int32_t n, float bzero, float bscale, int16_t* out);
