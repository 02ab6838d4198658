// One drift-scan profile taken apart: the sky, a polynomial of low order
// fitted to the points well outside the limbs; the quiet Sun, a disk seen
// through the fan beam (calibrate/profile_model.h) with its level, radius,
// centre, beam width and limb rim fitted; and the compact sources on it,
// Gaussians found one by one in what the disk leaves over and fitted with it.
#pragma once

#include <string>
#include <vector>

#include "calibrate/profile_model.h"

struct ProfileSettings {
    // The sky: the points farther from the centre than skyRadii x RADIUS +
    // skyBeams x THETA-DG, at least fewestSkyPoints of them on each side. A
    // polynomial of the offset of order 1 to mostSkyOrder; the next order is
    // taken while it lowers the sum of squares by more than skyOrderGain
    // times the noise variance. Points more than skyOutliers robust
    // deviations off a fit are left out of the next.
    double skyRadii = 1.25;
    double skyBeams = 1.5;
    int fewestSkyPoints = 10;
    int mostSkyOrder = 3;
    double skyOrderGain = 25.0;
    double skyOutliers = 5.0;
    // The points are fitted in bins of at most binBeams beam sigmas: the
    // scan oversamples the beam many times, and the mean of a Gaussian of
    // the beam's width over such a bin is within 0.26 % of its middle value.
    double binBeams = 0.25;
    // Bounds of the fitted disk, in RADIUS and the beam's sigma of THETA-DG:
    // radius, centre's reach, beam; the rim's brightness over the quiet Sun.
    double radiusLow = 0.8, radiusHigh = 1.6, startRadiusHigh = 1.2;
    double centreReach = 0.25;
    double beamLow = 0.5, beamHigh = 2.0;
    double rimLow = 0.0, rimHigh = 1.0;
    // The rim's widths tried, as shares of the radius; the best fit's is
    // kept when it lowers the sum of squares by rimGain times the noise
    // variance (else there is no rim).
    bool seekRim = true;
    std::vector<double> rimWidths = {0.05, 0.1, 0.2};
    double rimGain = 25.0;
    // Where the beam's sigma is below rimResolved times the rim's width, the
    // width is fitted too (between the least and the largest of rimWidths).
    double rimResolved = 0.5;
    // The disk's own fit leaves aside the points more than quietOutliers
    // robust deviations above it (and a beam around them), quietRounds times.
    double quietOutliers = 3.0;
    int quietRounds = 3;
    // A compact source: a peak over the disk of at least sourceSigmas times
    // the noise (of the residual smoothed over sourceSmoothing beam sigmas)
    // and sourceShare of the quiet level; at most mostSources. Its width
    // lies between widthLow beam sigmas and widthHigh RADIUS plus a beam
    // sigma; its position within positionReach widths of where it was found.
    double sourceSigmas = 5.0;
    double sourceShare = 0.001;
    int mostSources = 8;
    double sourceSmoothing = 0.5;
    double widthLow = 0.5, widthHigh = 0.3;
    double positionReach = 2.0;
    // Two sources closer than degenerateWidths of the wider one's width are
    // one source fitted twice. A source wider than splitWidth beam sigmas is
    // tried as two, kept when both stand above the threshold, lie
    // splitApart beam sigmas and splitErrors standard errors apart and fit
    // better by splitGain times the noise variance.
    double degenerateWidths = 0.5;
    double splitWidth = 1.25, splitApart = 0.5, splitErrors = 3.0, splitGain = 50.0;
    // Iterations of the nonlinear fits.
    int fitIterations = 30;
    int splitIterations = 40;
    // Refusals: the disk's level below diskSigmas times the noise; the whole
    // model leaves a residual above worstResidual of the quiet level (and
    // above twice the noise); the sources add more than coverLevel of the
    // quiet level on more than mostCovered of the disk; a level step of more
    // than stepSigmas standard errors and stepShare of the quiet level
    // between the stepBeams beam sigmas on either side of a point.
    double diskSigmas = 10.0;
    double worstResidual = 0.02;
    double coverLevel = 0.1;
    double mostCovered = 0.5;
    double stepSigmas = 8.0;
    double stepShare = 0.003;
    double stepBeams = 1.0;
    // A source within stepReach beam sigmas of a step the repair left lies
    // on it (not reported).
    double stepReach = 1.0;
    // The scales of the ranges that a repair of level jumps scaled are
    // fitted in turn with the profile, at most scaleRounds times, until none
    // moves by more than scaleTolerance.
    int scaleRounds = 4;
    double scaleTolerance = 1e-4;
    // A scan file whose quiet level, with those scales fitted, is known to
    // no better than mostScaleError (a share) is refused.
    double mostScaleError = 0.006;
    // The systematic floors, added to the statistical errors: of the quiet
    // level and of a source's peak (shares of them, and for a peak a share
    // of the quiet level beneath it: the disk's model), of V/I and of a
    // position (in beam sigmas), measured on simulated recordings.
    double quietFloor = 0.002;
    double peakFloor = 0.003;
    double peakQuietFloor = 3e-4;
    double vOverIFloor = 0.003;
    double positionFloor = 0.02;
};

// What the scan file says about the geometry.
struct ProfileGeometry {
    double opticalRadius = 0.0;  // RADIUS, arcsec
    double beamWidth = 0.0;      // THETA-DG: the beam's full width at half maximum, arcsec
};

// The sky: a polynomial of t = (offset - centre) / scale.
struct SkyModel {
    double centre = 0.0, scale = 1.0;
    std::vector<double> terms;  // of t^0, t^1, ...
};

struct ProfileFit {
    SkyModel sky;
    double skyLevel = 0.0, skySlope = 0.0;  // the sky's value and slope at offset 0
    int skyPointsBelow = 0, skyPointsAbove = 0;
    double skyFrom = 0.0;  // the sky lies farther than this from the centre, arcsec
    double noise = 0.0;    // of the sky points
    double quiet = 0.0, quietError = 0.0;  // the disk's level at its centre, over the sky
    // The share of the level that the choice of the limb's rim leaves open
    // (the levels of no rim and of the rims of each width that fit within
    // rimGain times the noise variance of the chosen one): in quietError.
    double rimLevelShare = 0.0;
    double radius = 0.0;   // the fitted disk, arcsec
    double centre = 0.0;   // offset of its centre, arcsec
    double beamSigma = 0.0;  // the fitted beam's standard deviation, arcsec
    double rim = 0.0, rimWidth = 0.0;  // the limb's rim: brightness over the quiet Sun's, share of the radius
    std::vector<ProfileSource> sources;  // by position
    double residual = 0.0;  // rms of data - model over the disk's points
    double covered = 0.0;   // share of the disk's points where the sources add more than coverLevel
};

// The sky's value at an offset.
double SkyAt(const ProfileFit& fit, double offset);
// The quiet disk over the sky, and the whole model (sky, disk and sources),
// at each offset.
std::vector<double> QuietValues(const ProfileFit& fit, const std::vector<double>& offsets);
std::vector<double> ModelValues(const ProfileFit& fit, const std::vector<double>& offsets);

// Why a model that leaves `residual` (rms) of a profile whose quiet level is
// `quiet` and noise `noise` is refused; empty when it is not.
std::string ResidualRefusal(double residual, double quiet, double noise, const ProfileSettings& settings);

// The disk of a fit as the model takes it.
DiskModel DiskOf(const ProfileFit& fit);

// Fits one profile of values `y` at the offsets `x` (arcsec from the
// meridian centre, evenly spaced). With `groups`, one number per point:
// points of a group hold values scaled alike, a change of group is a step
// that a repair left (a source there is marked atStep), and points of group
// -1 are left out. False with `error` saying why it cannot be taken apart:
// no sky on a side, too few points on the disk, a disk that is not above
// the sky, a fit that the data do not determine, a residual, a share
// covered by sources or a level step (other than at a change of group)
// beyond the settings. With `start`, the fit of nearly the same values, its
// disk and sources are fitted again rather than searched for.
bool FitProfile(const std::vector<double>& x, const std::vector<double>& y, const ProfileGeometry& geometry,
                const ProfileSettings& settings, ProfileFit& fit, std::string& error,
                const std::vector<int>* groups = nullptr, const ProfileFit* start = nullptr);

// The amplitudes of the shapes of `shapes` in another profile `y` of the
// same scan, sky already subtracted: y = quiet x disk + sum of peak_k x
// source_k over the points between the sky regions, linear in the
// amplitudes. Their standard errors come from the larger of the noise of the
// sky points and the fit's residual.
struct AmplitudeFit {
    double quiet = 0.0, quietError = 0.0;
    std::vector<double> peaks, peakErrors;
    double noise = 0.0;     // of the points outside the disk
    double residual = 0.0;  // rms of the fit
};
// False when the shapes are not independent.
// Points of group -1 (`groups`, when given) are left out.
bool FitAmplitudes(const std::vector<double>& x, const std::vector<double>& y, const ProfileFit& shapes,
                   AmplitudeFit& amplitudes, const std::vector<int>* groups = nullptr);
