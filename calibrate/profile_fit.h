// One drift-scan profile taken apart: the sky, a straight line fitted to the
// points well outside the limbs; the quiet Sun, a uniform disk seen through
// the fan beam (calibrate/disk_shape.h) with its level, radius, centre and
// beam width fitted; and the compact sources on it, Gaussians found one by
// one in what the disk leaves over and fitted with it.
#pragma once

#include <string>
#include <vector>

struct ProfileSettings {
    // The sky: the points farther from the centre than skyRadii x RADIUS +
    // skyBeams x THETA-DG, at least fewestSkyPoints of them on each side.
    double skyRadii = 1.25;
    double skyBeams = 1.5;
    int fewestSkyPoints = 10;
    // A compact source: a peak over the disk of at least sourceSigmas times
    // the noise (of the residual smoothed over half a beam) and sourceShare
    // of the quiet level; at most mostSources.
    double sourceSigmas = 5.0;
    double sourceShare = 0.001;
    int mostSources = 8;
    // Refusals: the whole model leaves a residual above worstResidual of the
    // quiet level (and above twice the noise), or the sources add more than
    // coverLevel of the quiet level on more than mostCovered of the disk.
    double worstResidual = 0.02;
    double coverLevel = 0.1;
    double mostCovered = 0.5;
};

// What the scan file says about the geometry.
struct ProfileGeometry {
    double opticalRadius = 0.0;  // RADIUS, arcsec
    double beamWidth = 0.0;      // THETA-DG: the beam's full width at half maximum, arcsec
};

struct ProfileSource {
    double position = 0.0, positionError = 0.0;  // arcsec
    double width = 0.0, widthError = 0.0;        // the Gaussian's standard deviation, arcsec
    double peak = 0.0, peakError = 0.0;          // the excess over the quiet Sun at its centre
};

struct ProfileFit {
    double skyLevel = 0.0, skySlope = 0.0;  // the sky: level + slope x offset
    int skyPointsBelow = 0, skyPointsAbove = 0;
    double skyFrom = 0.0;  // the sky lies farther than this from the centre, arcsec
    double noise = 0.0;    // of the sky points
    double quiet = 0.0, quietError = 0.0;  // the disk's level at its centre, over the sky
    double radius = 0.0;   // the fitted disk, arcsec
    double centre = 0.0;   // offset of its centre, arcsec
    double beamSigma = 0.0;  // the fitted beam's standard deviation, arcsec
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

// Fits one profile of values `y` at the offsets `x` (arcsec from the
// meridian centre, evenly spaced). False with `error` saying why it cannot be
// taken apart: no sky on a side, too few points on the disk, a disk that is
// not above the sky, a residual or a share covered by sources beyond the
// settings.
bool FitProfile(const std::vector<double>& x, const std::vector<double>& y, const ProfileGeometry& geometry,
                const ProfileSettings& settings, ProfileFit& fit, std::string& error);

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
bool FitAmplitudes(const std::vector<double>& x, const std::vector<double>& y, const ProfileFit& shapes,
                   AmplitudeFit& amplitudes);
