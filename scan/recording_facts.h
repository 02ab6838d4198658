// What the recording of a scan file tells its calibration beyond the scan
// file's cards (ScanRecordingFacts, calibrate/calibration.h): the ranges the
// repair of level jumps scaled, the samples it replaced, the baseline it
// subtracted, and FLUX_L as the calibration table gives it.
#pragma once

#include <string>

#include "calibrate/calibration.h"
#include "output/scan_reader.h"
#include "scan/explain.h"

// The facts of the scan file `scanName` (its name without folder), read as
// `scan`, from its recording planned with PlanRecordingOfScanFiles. False
// with the message of ChannelOfScanFile when the file is not from it.
//
// The al file is the block of POLARIZ 1 (RR) and the ar file that of
// POLARIZ 0 (LL), unless the scan file's cards say otherwise; the points of a
// scan file hold the samples last first, so sample k is point n - 1 - k. A
// marker at sample r that repaired a polarisation scaled its samples r + 1 up
// to its range's end (points n - end up to n - 1 - r) and replaced sample r;
// one whose range is empty replaced sample r only; one that changed nothing
// gives nothing.
//
// A short ar file: the LL points past its end hold the repaired al values
// (the QUALITY flag kQualityFromAl), to which the ar file's repair and
// baseline were applied as well. They are not LL measurements at all, so
// they are counted among LL's replaced points; LL's ranges and baseline are
// those of the ar file's repair, which ran over every point.
bool RecordingFactsOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                              const ScanFileContents& scan, ScanRecordingFacts& facts, std::string& error);

// FLUX_L of the calibration table at `tablePath` for a scan file at
// `frequency` [GHz], looked up as the converter looks it up (its frequency
// narrowed to single precision); 0 when the table gives none, or 0, or a
// value that is not finite. A scan file's OBS-FREQ has three decimals, so
// the lookup may stand up to half a MHz from the converter's.
double TableFluxFactor(const std::string& tablePath, double frequency);

// The beam's width at `frequency` from the two rows of a lookup around it,
// interpolated linearly in log(width) against log(frequency): a beam whose
// width falls as 1 / frequency, as an aperture's does, is then met exactly
// between rows, where the linear interpolation of THETA-DG overestimates it
// (by 1.5 % midway between rows 25 % apart). 0 when the lookup found no
// values or a row's width or frequency is not above 0.
double TableBeamWidth(const CalibrationLookup& lookup, double frequency);
// The same from the table at `tablePath`.
double TableBeamWidth(const std::string& tablePath, double frequency);
