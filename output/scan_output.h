// Byte layout of the scan file and the scan index line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/pointing.h"
#include "inputs/observation_header.h"

// One polarisation scaled to 16 bits.
struct ScaledBlock {
    std::vector<int16_t> values;  // reverse sample order: the last sample first
    float bscale = 0.0f;
    float bzero = 0.0f;
};

// Everything one scan file holds besides the run's header and pointing values.
struct ScanChannel {
    int channel = 0;
    int32_t sampleCount = 0;
    float calibrationStep = 0.0f;  // TCALIBR
    float fluxFactor = 0.0f;
    int16_t quietSunTemperature = 0;
    float beamWidth = 0.0f;
    ScaledBlock left;   // from the al file
    ScaledBlock right;  // from the ar file
};

// The bytes of a scan file. The object-name override is applied to the run's
// azimuth between the OBJECT and AZIMUTH cards; the replaced azimuth stays.
std::string ScanFileBytes(const ObservationHeader& header, PointingValues& pointing,
                          int32_t calibrationFlag, const ScanChannel& channel);

// "%s_%02dz.%03d" — the scan file name without its folder.
std::string ScanFileName(const std::string& baseName, int scanNumber, int scanCounter);
// "%s_%02dz.0hd" — the scan index name without its folder.
std::string ScanIndexName(const std::string& baseName, int scanNumber);
// One scan index line, ending with CR LF as it stands on disk.
std::string ScanIndexLine(const std::string& baseName, int scanNumber, int scanCounter,
                          double channelFrequency);

// Scales n samples to 16 bits with the given seed for the max/min search.
// Samples that are not finite are left out of the search and stored as 0.
ScaledBlock ScaleSamples(const float* samples, int32_t n, float seed);
