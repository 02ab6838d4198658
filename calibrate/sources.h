// The compact sources of a calibrated scan file, and each source followed
// from frequency to frequency by its position.
//
// The sources are those that the calibration fitted in Stokes I (Gaussians
// over the quiet disk); V is fitted with the same shapes, so V/I of a source
// is the ratio of its two peaks. The flux density is the peak excess antenna
// temperature times FLUX_L ("KOEF. Ta[K] -> FLUX[S.F.U.]"): the calibration
// table's, when the recording or the table is known, for the FLUX_L card has
// three decimals (a factor of 0.031 may be 1.6 % off).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "calibrate/calibration.h"

struct ScanSource {
    ProfileSource shape;             // in I: position and width [arcsec], peak excess [K]
    double vPeak = 0.0, vPeakError = 0.0;  // the same shape in V [K]
    double flux = 0.0, fluxError = 0.0;    // s.f.u.
    double vOverI = 0.0, vOverIError = 0.0;
    double significance = 0.0;  // the peak over the noise of I
};

// Where FLUX_L came from.
enum class FluxFactorSource { Card, Table };
// "card" or "table".
const char* FluxFactorSourceName(FluxFactorSource source);

// A source that was fitted but is not reported, and why.
struct RejectedSource {
    ScanSource source;
    std::string reason;  // "source at -381.2 arcsec: V/I = ..."
};

struct ScanSources {
    std::string name;        // the scan file
    double frequency = 0.0;  // OBS-FREQ, GHz
    double beamWidth = 0.0;  // THETA-DG, arcsec
    double fluxFactor = 0.0; // FLUX_L
    FluxFactorSource fluxFactorSource = FluxFactorSource::Card;
    double step = 0.0;       // |CDELT1|, arcsec
    double quietTemperature = 0.0;  // TQSUN, K
    std::array<double, 2> gain{};   // of RR and LL, recorder units per kelvin
    ProfileFit stokesI;      // the fit of I [K] (ScanCalibration::stokesIFit)
    double vDisk = 0.0;      // V of the disk at its centre [K]
    std::vector<ScanSource> sources;  // by position
    // Sources left out: |V/I| beyond 1 by more than its standard error, which
    // no emission gives (the fit of V or of I is wrong there).
    std::vector<RejectedSource> rejected;
};

// The sources of a calibrated scan file, with FLUX_L from `facts` when they
// give it (fluxFactor above 0), else from the card. False with `error`
// ("NAME: ...") when that FLUX_L is not above 0.
bool FindScanSources(const ScanFileContents& scan, const std::string& name, const ScanCalibration& calibration,
                     const ScanRecordingFacts& facts, ScanSources& found, std::string& error);
// The same with FLUX_L from the card.
bool FindScanSources(const ScanFileContents& scan, const std::string& name, const ScanCalibration& calibration,
                     ScanSources& found, std::string& error);

// One source across frequencies: (scan, source) indexes into the list given
// to TrackSources, highest frequency first.
struct SourceTrack {
    std::vector<std::pair<std::size_t, std::size_t>> points;
};

// Follows the sources from the highest frequency down: a source joins the
// track whose last position is nearest, within 0.6 of the wider of the two
// beams, each track taking one source per scan file; the others start
// tracks of their own. Tracks come numbered by position at their highest
// frequency, from negative offsets to positive ones.
std::vector<SourceTrack> TrackSources(const std::vector<ScanSources>& scans);
