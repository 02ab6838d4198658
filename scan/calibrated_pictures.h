// Pictures in physical units, as plain data (scan/plot_data.h): a run's I or
// V in kelvin on one shared scale, and the spectra of its compact sources.
#pragma once

#include <string>
#include <vector>

#include "calibrate/calibration.h"
#include "calibrate/source_table.h"
#include "calibrate/sources.h"
#include "calibrate/whole_sun.h"
#include "scan/plot_data.h"

// A calibrated scan file with the name that messages use, and what its
// recording (or the calibration table alone) told the calibration.
struct CalibratedScan {
    std::string name;
    ScanFileContents scan;
    ScanCalibration calibration;
    ScanRecordingFacts facts;
};

// I or V of every calibrated scan file, one trace per file stacked by
// frequency (lowest at the bottom), all on one scale in kelvin, each with its
// zero line; refused scan files are named in the caption. `polarisation` is
// I or V.
bool CalibratedOverviewPicture(const std::vector<CalibratedScan>& scans, const std::vector<RefusedScan>& refused,
                               OverviewPolarisation polarisation, PlotPicture& picture, std::string& error);

// Flux density (log-log) and V/I against frequency, one curve per tracked
// source, with error bars of one standard error from the fit.
bool SpectrumPicture(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks,
                     const std::vector<RefusedScan>& refused, const ScanFileContents& first, PlotPicture& picture,
                     std::string& error);

// The whole Sun's flux density against frequency (log-log), one point per
// scan file whose flux was measured (MeasureRunFluxes), joined by frequency,
// with error bars of one standard error; the scan files left out are named
// in the caption. False when no flux is above 0 at a frequency above 0.
bool WholeSunPicture(const std::vector<WholeSunFlux>& fluxes, const std::vector<RefusedScan>& refused,
                     const ScanFileContents& first, PlotPicture& picture, std::string& error);

// The two panels of a spectrum: flux density against frequency in log-log
// over the frequencies and fluxes from low to high, and V/I below on the same
// frequencies (its range from `ratios`) with its zero line; headings and labels.
void SpectrumAxes(double lowFrequency, double highFrequency, double lowFlux, double highFlux,
                  const std::vector<double>& ratios, const std::string& fluxHeading, PlotPanel& flux,
                  PlotPanel& polarisation);
