// A scan file in physical units. Each polarisation is first taken apart on
// its own (calibrate/profile_fit.h): its sky from the points well outside
// the limbs, its quiet-Sun level from the disk with the compact sources
// fitted apart. Stokes I of these first temperatures then gives the shapes
// (the disk's radius, centre and beam, the sources' positions and widths)
// that both polarisations share, and each polarisation's quiet level is
// fitted again with them. The antenna temperature is
//     T(x) = (v(x) - sky(x)) x TQSUN / quiet   [K],
// so that RR and LL are on one scale and I = (RR + LL) / 2, V = (RR - LL) / 2.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "calibrate/profile_fit.h"
#include "output/scan_reader.h"

enum CalibratedPolarisation { kRR = 0, kLL = 1 };

struct ScanCalibration {
    std::vector<double> offsets;  // of the places 1 to n, arcsec (CDELT1 x (place - PMCSUN))
    std::array<int, 2> block{};   // the block of scan.blocks holding RR (POLARIZ 1) and LL (POLARIZ 0)
    // RR and LL as v x BSCALE + BZERO, each range that a repair of level
    // jumps scaled divided by its fitted scale (`scales`, 1 for the points no
    // repair scaled, then one per range; with facts from the recording only).
    std::array<std::vector<double>, 2> values;
    std::array<std::vector<double>, 2> scales;
    std::array<double, 2> scaleError{};  // of the scale at the disk's centre (a share; in the quiet level's error)
    // RR and LL in recorder units: the sky and noise of each, the shapes of
    // I with the polarisation's own amplitudes.
    std::array<ProfileFit, 2> fits;
    std::array<double, 2> gain{};                    // quiet level / TQSUN: recorder units per kelvin
    double quietTemperature = 0.0;                   // TQSUN, K
    std::array<std::vector<double>, 2> temperature;  // RR and LL, K
    std::vector<double> stokesI, stokesV;            // K
    ProfileFit stokesIFit;   // I [K]: disk and sources (no sky: it is taken off)
    AmplitudeFit stokesVFit; // V [K] with the shapes of I
};

// The block of a scan file that holds RR: the one of POLARIZ 1 (the first
// unless it is the second); LL is the other.
int RrBlock(const ScanFileContents& scan);

// "RR" or "LL".
const char* CalibratedPolarisationName(int polarisation);

// The refusals that the cards alone decide: R and L polarisations (FLAG_IV 1,
// one block POLARIZ 1 and the other 0), a usable offset axis (CDELT1 and
// PMCSUN finite, CDELT1 not 0), RADIUS and THETA-DG above 0 (the beam at
// most twice the solar diameter), TQSUN above 0,
// finite BSCALE and BZERO, at least 3 points. `name` names the scan file.
bool CheckCalibrationCards(const ScanFileContents& scan, const std::string& name, std::string& error);

// What the recording of a scan file tells beyond the scan file's cards
// (vm-scan's --recording): where the conversion's repair of level jumps
// scaled the samples, the baseline it subtracted, and the table's FLUX_L.
struct ScanRecordingFacts {
    bool known = false;  // false: nothing is known beyond the cards
    // Per polarisation (kRR, kLL): the ranges of points that one marker's
    // repair scaled by one ratio, as [first, end) indexes into the scan
    // file's points (index 0 is place 1, the scan file's order), and the
    // points whose value the repair replaced (the marked samples).
    std::array<std::vector<std::pair<std::size_t, std::size_t>>, 2> scaled;
    std::array<std::vector<std::size_t>, 2> replaced;
    // The baseline the conversion subtracted from every sample of the
    // polarisation, in the scan file's physical units (BSCALE x stored + BZERO).
    std::array<double, 2> baseline{};
    double fluxFactor = 0.0;  // FLUX_L of the calibration table; 0: not known
    // The beam's width at the frequency [arcsec], the table's two rows around
    // it interpolated in logarithms (TableBeamWidth); 0: not known.
    double beamWidth = 0.0;
};

// Calibrates the scan file; false with `error` ("NAME: ..." naming the
// polarisation where one is at fault) when the cards or a profile refuse.
// With `facts`, the scale of each range that the repair scaled is fitted with
// the profile; without them, a step left in the residual refuses the scan file.
bool CalibrateScan(const ScanFileContents& scan, const std::string& name, const ProfileSettings& settings,
                   const ScanRecordingFacts& facts, ScanCalibration& calibration, std::string& error);
bool CalibrateScan(const ScanFileContents& scan, const std::string& name, const ProfileSettings& settings,
                   ScanCalibration& calibration, std::string& error);
