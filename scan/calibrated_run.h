// Scan files in physical units, as vm-scan's calibrating subcommands and the
// Python module take them: the recording they were converted from read once
// (or the calibration table alone), then each scan file read, checked against
// that recording and calibrated, several at once, and the compact sources of
// the calibrated ones followed across frequencies.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "calibrate/source_table.h"
#include "calibrate/sources.h"
#include "calibrate/whole_sun.h"
#include "scan/calibrated_pictures.h"
#include "scan/explain.h"
#include "scan/scan_quality.h"

// The recording of --recording, read once; or the table of --cfg alone.
struct ScanRecording {
    bool given = false;
    RecordingExplanation explanation;
    std::string tableAlone;  // --cfg without --recording
};

// Plans the recording `options` name (nothing to read when they name no
// header); false with "Can't open HEADER" when its header cannot be read.
bool LoadScanRecording(const RecordingOptions& options, ScanRecording& recording, std::string& error);

// Reads and calibrates one scan file, with the facts its recording gives.
// False with the reason it is refused ("PATH: ..."): a scan file the
// recording does not give, one that the recording's warnings concern (its
// values may be other than recorded; a warning about names alone refuses
// nothing), or one the calibration refuses.
bool CalibrateScanFile(const std::string& path, const ScanRecording& recording, CalibratedScan& calibrated,
                       std::string& error);

// The same for a scan file already read into `calibrated.scan`, with its
// path in `calibrated.name`.
bool CalibrateScanContents(const ScanRecording& recording, CalibratedScan& calibrated, std::string& error);

// What went wrong with a scan file, named on `err` and kept for pictures and
// tables without the path it starts with.
void RefuseScanFile(const std::string& path, const std::string& error, std::vector<RefusedScan>& refused,
                    std::ostream& err);

// Reads and calibrates every scan file, `jobs` at a time (0: one per
// processor). The refused ones are named on `err` and kept in `refused`, the
// others in `scans`, both in the files' order: the same as one after the
// other. What a calibration throws is thrown again here.
void CalibrateScanFiles(const std::vector<std::string>& paths, const ScanRecording& recording, unsigned jobs,
                        std::vector<CalibratedScan>& scans, std::vector<RefusedScan>& refused, std::ostream& err);

// The sources of every calibrated scan file, and the tracks through them; a
// scan file whose FLUX_L is unusable is refused, and the sources left out
// for their V/I are named on `err`. False when one is left out.
bool FindRunSources(const std::vector<CalibratedScan>& scans, std::vector<ScanSources>& found,
                    std::vector<SourceTrack>& tracks, std::vector<RefusedScan>& refused, std::ostream& err);

// The whole Sun's flux of every calibrated scan file, in their order; a scan
// file whose flux cannot be measured is refused (named on `err`).
void MeasureRunFluxes(const std::vector<CalibratedScan>& scans, std::vector<WholeSunFlux>& fluxes,
                      std::vector<RefusedScan>& refused, std::ostream& err);

// A recording's scan files calibrated once, with all that the pictures,
// the tables and the catalog read off them.
struct CalibratedRun {
    std::vector<CalibratedScan> scans;     // CalibrateScanFiles's
    std::vector<RefusedScan> refused;      // by the calibration
    std::vector<ScanSources> found;        // FindRunSources's
    std::vector<SourceTrack> tracks;
    std::vector<RefusedScan> noSources;    // refused by FindRunSources
    bool allSourcesReported = true;        // no source left out for its V/I
    std::vector<WholeSunFlux> fluxes;      // MeasureRunFluxes's
    std::vector<RefusedScan> noFlux;       // refused by MeasureRunFluxes
};

// CalibrateScanFiles, then FindRunSources and MeasureRunFluxes on what it
// calibrated; every refusal named on `err`.
void CalibrateRun(const std::vector<std::string>& paths, const ScanRecording& recording, unsigned jobs,
                  CalibratedRun& run, std::ostream& err);

// How many scan files are calibrated at once: `jobs`, or one per processor
// when it is 0; at least 1 and at most `scanFiles` (when that is above 0).
unsigned CalibrationWorkers(unsigned jobs, std::size_t scanFiles);
