#include "simobs/regions.h"

#include <cmath>

#include "simobs/truth.h"
#include "solar/rotation.h"

namespace {

// Brightness over the life: a quarter of the peak on the first and last days
// rising to the peak midway, as sin.
double Envelope(const Region& r, int dayIndex) {
    const int age = dayIndex - r.birth;
    if (age < 0 || age >= r.lifetime) return 0.0;
    const double t = (age + 0.5) / r.lifetime;
    return 0.25 + 0.75 * Cos(kPi * (t - 0.5));
}

Region DrawRegion(Random& random, int runDays) {
    Region r;
    r.latitude = Uniform(random, 5.0, 35.0) * (Uniform(random) < 0.5 ? -1.0 : 1.0);
    const double kind = Uniform(random);
    if (kind < 0.35) r.lifetime = UniformInt(random, 3, 5);
    else if (kind < 0.6) r.lifetime = UniformInt(random, 6, 14);
    else r.lifetime = runDays + UniformInt(random, 10, 40);  // outlives the run
    // Some live from before the run; the others are born during it.
    if (Uniform(random) < 0.3) r.birth = -UniformInt(random, 0, r.lifetime / 2);
    else r.birth = UniformInt(random, 0, runDays - 1);
    // Born on the disk, most of them east of the central meridian.
    const double atBirth = Uniform(random, -80.0, 40.0);
    r.meridianDistance = atBirth - SynodicRotationRate(r.latitude) * r.birth;
    r.peak = Exp(Uniform(random, Log(0.15), Log(1.2)));
    r.size = Uniform(random, 10.0, 40.0);
    r.turnover = Uniform(random, 3.0, 12.0);
    r.polarisation = Uniform(random, 0.05, 0.3) * (r.latitude < 0 ? -1.0 : 1.0);
    return r;
}

}  // namespace

RegionOnDay RegionOn(const Region& region, int dayIndex, double runTime, const Day& day) {
    RegionOnDay on;
    double md = std::fmod(region.meridianDistance + SynodicRotationRate(region.latitude) * runTime, 360.0);
    if (md > 180.0) md -= 360.0;
    if (md <= -180.0) md += 360.0;
    on.meridianDistance = md;
    on.offset = ScanOffsetOf(md, region.latitude, day.angleP, day.solarRadius);
    on.amplitude = region.peak * Envelope(region, dayIndex);
    on.visible = on.amplitude > 0.0 && std::fabs(md) <= kVisibleMeridianDistance;
    return on;
}

std::vector<Region> LayOutRegions(uint64_t seed, int count, const std::vector<Day>& days,
                                  const std::vector<double>& times) {
    std::vector<Region> placed;
    const int runDays = static_cast<int>(days.size());
    for (int k = 0; k < count; ++k) {
        Random random = Stream(seed, kRegions, static_cast<uint64_t>(k));
        for (int attempt = 0; attempt < kRegionAttempts; ++attempt) {
            Region candidate = DrawRegion(random, runDays);
            bool apart = true;
            for (int d = 0; d < runDays && apart; ++d) {
                const RegionOnDay a = RegionOn(candidate, d, times[d], days[d]);
                if (!a.visible) continue;
                for (const Region& other : placed) {
                    const RegionOnDay b = RegionOn(other, d, times[d], days[d]);
                    if (b.visible && std::fabs(a.offset - b.offset) < kRegionSeparation) apart = false;
                }
            }
            if (apart) {
                candidate.id = static_cast<int>(placed.size()) + 1;
                placed.push_back(candidate);
                break;
            }
        }
    }
    return placed;
}

void RegionSources(const std::vector<Region>& regions, int dayIndex, double runTime, const Day& day,
                   std::vector<Source>& sources, std::vector<int>& ids) {
    sources.clear();
    ids.clear();
    for (const Region& r : regions) {
        const RegionOnDay on = RegionOn(r, dayIndex, runTime, day);
        if (!on.visible) continue;
        Source s;
        s.position = ScanFileOffset(on.offset);  // back to the recording's order: its own inverse
        s.size = r.size;
        s.amplitude = on.amplitude;
        s.turnover = r.turnover;
        s.polarisation = r.polarisation;
        sources.push_back(s);
        ids.push_back(r.id);
    }
}
