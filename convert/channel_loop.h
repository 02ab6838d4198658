// The channel conversion loop: every enabled channel with both sample files
// and full calibration values becomes one numbered scan file and one line of
// the scan index.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Runs the conversion for the run context's recording. Replaces the last
// character of gRun.inputHeaderPath with "p" (the marker path). Returns false
// when the marker file or the scan index could not be opened (nothing is
// written then), or when a scan file or the scan index could not be created
// or written completely; each such failure is shown on the status line.
bool ConvertChannels();

// Scan number from the marker path: the decimal number right after the
// path's first "." (white space and a sign may come first, as "%d" reads);
// when there is none, the number right after the last "." of the file name
// (the text after the last `separator`); 0 when there is neither. Numbers
// beyond the int range are held at its limits.
int ScanNumberFromPath(const std::string& markerPath, char separator = kFolderSeparator);

// "s%02d%x%02d" of day, month and year - 2000 (5 November 2003: "s05b03").
std::string BaseName(int16_t day, int16_t month, int16_t year);

// TCALIBR of a channel: (T[d+8] - T[d]) x 0.1 from the 66 calibration levels
// T; 0 for d = 0 and for d outside 1..57, whose entries lie outside the table.
float CalibrationStep(const int16_t* calibrationLevels, int16_t calibrationIndex);

// Path of a sample file: "<input folder><separator><prefix><channel>". A
// header given as a bare file name (no separator at all) has an empty input
// folder; its sample files are then read beside it, as "<prefix><channel>".
std::string SampleFilePath(const std::string& inputFolder, bool headerHasFolder,
                           const char* prefix, int channel);
