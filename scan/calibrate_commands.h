// vm-scan calibrate, data --calibrated, sources, spectrum and overview
// --calibrated: scan files in physical units (calibrate/).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "scan/calibrated_pictures.h"
#include "scan/plot_commands.h"

// --recording HEADER [--cfg TABLE] [--third THIRD] (RecordingOptions): the
// recording the scan files were converted from. A scan file that the
// recording does not give, or one its warnings concern, is refused; the
// others are calibrated with what the recording tells of them
// (RecordingFactsOfScanFile), FLUX_L included. A table without a header
// (tablePath set, headerPath empty: sources and spectrum) gives FLUX_L alone.
//
// `jobs` scan files are calibrated at once (0: one per processor); what is
// written and said is the same for every number.

struct CalibrateOptions {
    std::vector<std::string> scanFiles;
    std::string indexPath;     // instead of scanFiles: every scan file the index lists
    std::string outputFolder;  // receives <scan file name>.K.fits
    bool stokesIV = false;     // I and V (STOKES 1 and 4) instead of RR and LL (-1 and -2)
    RecordingOptions recording;
    bool sourceDateEpochSet = false;
    std::string sourceDateEpoch;
    unsigned jobs = 0;
};

struct SourcesOptions {
    std::string indexPath;
    bool json = false;  // JSON instead of CSV
    RecordingOptions recording;
    unsigned jobs = 0;
};

// What vm-scan spectrum draws of calibrated scan files and the sources found
// in them (FindRunSources), `refused` naming every scan file left out: false
// with the reason when none was calibrated or no source has a spectrum.
bool SpectrumOfScans(const std::vector<CalibratedScan>& scans, const std::vector<ScanSources>& found,
                     const std::vector<SourceTrack>& tracks, const std::vector<RefusedScan>& refused,
                     PlotPicture& picture, std::string& error);

// Each subcommand: 0 when every scan file was calibrated and everything
// written; 1 when a scan file or index cannot be read, a scan file is
// refused (named with the reason on `err`; the others are still done) or an
// output cannot be written, or (sources and spectrum) a source is left out
// for its V/I; 2 when the recording's header cannot be read.
int CalibrateCommand(const CalibrateOptions& options, std::ostream& out, std::ostream& err);
// vm-scan data's CSV with the columns t_rr_k, t_ll_k, i_k and v_k added.
int CalibratedDataCommand(const std::string& scanPath, const RecordingOptions& recording, std::ostream& out,
                          std::ostream& err);
int SourcesCommand(const SourcesOptions& options, std::ostream& out, std::ostream& err);
// vm-scan flux: the whole Sun's flux density of every calibrated scan file
// (calibrate/whole_sun.h), CSV or JSON as `options.json` says.
int FluxCommand(const SourcesOptions& options, std::ostream& out, std::ostream& err);
int SpectrumCommand(const std::string& indexPath, const RecordingOptions& recording, unsigned jobs,
                    const PictureOptions& picture, std::ostream& out, std::ostream& err);
// `polarisation` is I or V.
int CalibratedOverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                              const RecordingOptions& recording, unsigned jobs, const PictureOptions& picture,
                              std::ostream& out, std::ostream& err);
