// The whole Sun's flux density from one calibrated scan file.
//
// A fan beam long enough to cover the disk evenly along its long axis sees,
// at each offset, the brightness integrated along that axis, smoothed by the
// beam's narrow profile B (1 at its peak). A point source of flux S gives
// T(x) = S / FLUX_L x B(x), FLUX_L being the calibration table's factor from
// antenna temperature to flux for a point source; so every part of the Sun
// adds its flux to the integral over the scan, and
//     S = FLUX_L x integral of I(x) dx / integral of B(x) dx,
// with I the sky-subtracted Stokes I [K] and B a Gaussian whose full width at
// half maximum is the beam's width at the frequency (its integral is 1.0645
// times that width). The integral of I spans the disk and four fitted beam
// sigmas past each limb. The width is that of the recording's calibration
// table, its two rows around the frequency interpolated in logarithms
// (ScanRecordingFacts::beamWidth), else THETA-DG, the same rows interpolated
// linearly, which may be 1.5 % too wide between rows; the error holds a
// share of 0.5 % or 1.5 % for it. FLUX_L is the table's when the recording
// is known, else the card's, whose three decimals add half the last of them
// to the error.
#pragma once

#include <string>

#include "calibrate/calibration.h"

struct WholeSunFlux {
    std::string name;        // the scan file
    double frequency = 0.0;  // OBS-FREQ, GHz
    double flux = 0.0;       // s.f.u.
    double fluxError = 0.0;  // s.f.u.: the noise over the integral, the sky's, the quiet level's, the beam width's and FLUX_L's
    double integral = 0.0;   // of I over the disk and its beam, K arcsec
    double beamIntegral = 0.0;  // of the beam's profile along the scan, arcsec
    double beamWidth = 0.0;     // its full width at half maximum, arcsec
    double fluxFactor = 0.0;    // FLUX_L
};

// The whole-Sun flux of a calibrated scan file, with FLUX_L from `facts` when
// they give it, else from the card. False with `error` ("NAME: ...") when
// FLUX_L or the beam's width is not above 0 or the scan does not reach past
// the disk and its beam.
bool MeasureWholeSunFlux(const ScanFileContents& scan, const std::string& name, const ScanCalibration& calibration,
                         const ScanRecordingFacts& facts, WholeSunFlux& flux, std::string& error);
