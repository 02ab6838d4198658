// A run of days (vm-simobs --days N): one recording a day from the first date
// on, each in "<out>/YYYY-MM-DD", with the same channels every day (the layout
// stream of the run's seed) and the gains, offsets, noise and jumps of the
// day (every other stream from DaySeed). Active regions (simobs/regions.h)
// are the compact sources. Beside the days, in <out>:
//   run-truth.json       the seed, the days, the regions, the reference's scale error
//   whole-sun-truth.csv  date,channel,frequency_ghz,flux_sfu of every enabled channel
//   regions-truth.csv    date,region,latitude,meridian_distance,offset_arcsec,visible,amplitude
//   reference-flux.txt   another observatory's daily flux at 2.8 GHz, scaled by (1 + E)
//   reference-flux.csv   the same as date,frequency_ghz,flux_sfu
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simobs/options.h"
#include "simobs/regions.h"

// The frequency of the reference flux file [GHz].
constexpr double kReferenceFrequency = 2.8;

// The seed of every stream of day `dayIndex` but the channels' layout.
uint64_t DaySeed(uint64_t runSeed, int dayIndex);

// What one day of the run wrote.
struct RunDayResult {
    std::string date;          // YYYY-MM-DD
    std::string base;          // "<out>/<date>/<name>.<NN>"
    std::size_t markers = 0;
    int visibleRegions = 0;
    double trueFlux = 0;       // whole-Sun flux at kReferenceFrequency [sfu]
    double referenceFlux = 0;  // trueFlux x (1 + E)
};

struct RunResult {
    std::vector<Region> regions;
    std::vector<RunDayResult> days;
};

// Writes the run options.days > 0 describes. False with `error` ("cannot
// write PATH", ...) on failure.
bool WriteRun(const SimulatorOptions& options, RunResult& result, std::string& error);

// The Julian date of a date and a time of day [UT hours], and the Carrington
// rotation number (decimal) at a Julian date.
double JulianDate(int year, int month, int day, double hours);
double CarringtonRotation(double julianDate);
