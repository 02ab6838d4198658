// The model behind the observation simulator: the quiet-Sun disk seen
// through a fan beam that narrows with frequency, on request with a brighter
// rim at the limb, one or two compact sources with circular polarisation,
// receiver gains, a sloped (on request also curved) baseline, noise, and
// multiplicative level jumps at positions the converter can repair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inputs/observation_header.h"
#include "simobs/numbers.h"
#include "simobs/options.h"

// Calibration rows lie between 24 and 0.8 GHz; a channel at this frequency
// lies below the table.
constexpr double kBelowTableFrequency = 0.5;

// The purposes of the random streams (see Stream).
enum Purpose : uint64_t { kLayout = 1, kSky, kGain, kNoise, kJumps, kGainRange, kRunDay, kRegions };

struct Source {
    double position;   // arcsec from the disk centre, in the recording's order
    double size;       // Gaussian sigma, arcsec
    double amplitude;  // peak brightness relative to the quiet Sun at the turnover
    double turnover;   // GHz
    double polarisation;  // the share by which LL (ar) exceeds and RR (al) falls short of the mean
};

struct Channel {
    double frequency = 0;
    bool enabled = false;
    int16_t calibrationIndex = 0;
    bool missingAr = false, shortAr = false;
    double temperature = 0, radius = 0, beamSigma = 0;
    double gain[2] = {1, 1}, offset[2] = {0, 0}, slope[2] = {0, 0}, noise[2] = {0, 0};
    double diskNorm = 1;
    std::vector<double> sourcePeak;  // per source, after the beam's dilution
    std::vector<double> sourceSigma;
};

struct Scan {
    int n = 0;
    double step = 0;    // arcsec per sample
    double centre = 0;  // sample index of the disk centre
    std::vector<Source> sources;
    double limbRim = 0;   // the rim's brightness over the disk's, a share of the quiet Sun (0: none)
    double skyCurve = 0;  // the sky's rise at the scan's ends over a straight line, a share of the quiet Sun
};

struct Marker {
    int position;
    int16_t tag;
    std::vector<double> factor[2];  // per channel, per polarisation
};

// Where the Sun stands on the day of the observation.
struct Day {
    double declination = 0;  // degrees
    double angleP = 0;       // degrees
    int solarRadius = 960;   // optical, arcsec
};

// Everything one recording holds, before it is written.
struct SimulatedRecording {
    Day day;
    Scan scan;
    std::vector<Channel> channels;  // the first options.channels channels
    std::vector<Marker> markers;    // in position order
    ObservationHeader header;
    // A day of a run of days: its index (-1 otherwise), the run's seed and the region of each source.
    int runDay = -1;
    uint64_t runSeed = 0;
    std::vector<int> sourceRegions;
};

// A day of a run of days (simobs/run.h): the compact sources are its active
// regions, and the channels (frequencies, enabled set, calibration indexes)
// are those of the run's seed, the same every day.
struct RunDayPlan {
    int dayIndex = 0;
    uint64_t runSeed = 1;
    std::vector<Source> sources;
    std::vector<int> regions;  // the region of each source
};

// The recording the options describe; the same options give the same
// recording. With a plan, the day of a run it describes.
SimulatedRecording SimulateRecording(const SimulatorOptions& options, const RunDayPlan* plan = nullptr);

// The recording's time of observation, in hours of its day (UT).
double ObservationHours(const ObservationHeader& header);

// Where the Sun stands on a date.
Day SunOnDate(int year, int month, int dayOfMonth);

// The channel's quiet Sun, radio radius, beam and the sources through its
// beam, from its frequency.
void ModelBrightness(const Day& day, const Scan& scan, Channel& ch);

// The model's noiseless Stokes I antenna temperature [K] at x arcsec from the
// disk centre (in the recording's order), without the sky: the disk, the rim
// when there is one, and every source.
double SkyFreeIntensity(const Scan& scan, const Channel& ch, double x);

// The noiseless, jump-free sample i of both polarisations (0 = al, 1 = ar).
void ModelSamples(const Scan& scan, const Channel& ch, int i, double out[2]);

// The calibration table matching the model, as the text of vm-fits.cfg.
std::string CalibrationTableText();

// The limb's rim spans (1 - kLimbRimWidth) R to R of the radio radius R.
constexpr double kLimbRimWidth = 0.1;

// The rim of the quiet Sun's brightness seen through the channel's fan beam at
// x arcsec from the disk centre, as a share of the uniform disk's level at the
// centre: the chord of the disk less that of the disk inside the rim, smoothed
// by the beam.
double LimbRimShare(const Channel& ch, double x);

// The share by which the quiet disk's LL exceeds and its RR falls short of their mean.
constexpr double kQuietSunPolarisation = 0.002;

// Antenna temperature of the quiet Sun [K], its flux [sfu] and the beam width
// [arcsec] of this (imaginary) fan-beam antenna.
double QuietSunTemperature(double ghz);
double QuietSunFlux(double ghz);
double BeamWidth(double ghz);
