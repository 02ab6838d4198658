// The channel conversion loop: every enabled channel with both sample files
// and full calibration values becomes one numbered scan file.
#pragma once

#include <cstdint>
#include <string>

// Runs the conversion for the run context's recording. Returns false when an
// output could not be created or written (the run then failed).
bool ConvertChannels();

// Scan number from the marker path: the number right after the path's first
// "."; when there is none, the number after the last "." of the file name;
// 0 when there is neither.
int ScanNumberFromPath(const std::string& markerPath);

// "s%02d%x%02d" of day, month and year - 2000.
std::string BaseName(int16_t day, int16_t month, int16_t year);

// TCALIBR of a channel: (T[d+8] - T[d]) x 0.1; 0 for d = 0 or d outside 1..57.
float CalibrationStep(const int16_t* calibrationLevels, int16_t calibrationIndex);
