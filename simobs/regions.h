// Active regions for a run of days: each is born on a day, lives a number of
// days, brightens and fades, and is carried across the disk by the Sun's
// differential rotation (solar/rotation.h). On each day it is alive and within
// kVisibleMeridianDistance of the central meridian, it is a compact source of
// that day's scan.
#pragma once

#include <cstdint>
#include <vector>

#include "simobs/model.h"

// A region is a source of the scan while |meridian distance| <= this [degrees].
constexpr double kVisibleMeridianDistance = 75.0;
// Regions visible on the same day lie at least this far apart along the scan [arcsec].
constexpr double kRegionSeparation = 150.0;
// Attempts to place one region before it is left out.
constexpr int kRegionAttempts = 200;

struct Region {
    int id = 0;                    // 1, 2, ... in the order they were placed
    double latitude = 0;           // heliographic, degrees (north positive)
    double meridianDistance = 0;   // on day 0, degrees (west positive)
    int birth = 0;                 // the first day it lives (negative: before the run)
    int lifetime = 1;              // days
    double peak = 0;               // brightness at the middle of its life, relative to the quiet Sun
    double size = 0;               // Gaussian sigma, arcsec
    double turnover = 0;           // GHz
    double polarisation = 0;       // as Source::polarisation: positive in the north
};

// Where a region stands at `runTime` [days since 00:00 UT of the run's first
// day], on day `dayIndex` of the run (which decides whether it lives and how
// bright it is), when the Sun stands as `day`.
struct RegionOnDay {
    double meridianDistance = 0;  // degrees, within -180..180
    double offset = 0;            // along the scan, as the scan files give it [arcsec]
    double amplitude = 0;         // 0 when it does not live that day
    bool visible = false;         // alive and |meridian distance| <= kVisibleMeridianDistance
};
RegionOnDay RegionOn(const Region& region, int dayIndex, double runTime, const Day& day);

// Up to `count` regions for the days of a run (days[d] the Sun on day d,
// times[d] the time of its recording as a runTime),
// each drawn from a stream of its own until, on every day, it lies at least
// kRegionSeparation from every other visible region (at most kRegionAttempts
// draws; a region that finds no place is left out).
std::vector<Region> LayOutRegions(uint64_t seed, int count, const std::vector<Day>& days,
                                  const std::vector<double>& times);

// The day's compact sources at `runTime`: the visible regions, and the id of each.
void RegionSources(const std::vector<Region>& regions, int dayIndex, double runTime, const Day& day,
                   std::vector<Source>& sources, std::vector<int>& ids);
