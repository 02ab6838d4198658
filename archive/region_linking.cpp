#include "archive/region_linking.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

#include "archive/archive_time.h"
#include "solar/rotation.h"

namespace {

struct OpenRegion {
    std::vector<std::size_t> features;
    std::vector<bool> allowed;  // per latitude tried
    bool ended = false;
};

struct Link {
    double cost = 0.0;
    std::size_t region = 0, feature = 0;
    std::vector<bool> allowed;
};

double LatitudeAt(const LinkingRules& rules, std::size_t k) { return -rules.latitudeLimit + rules.latitudeStep * k; }

long long DayNumber(const std::string& day) {
    double days = 0.0;
    DaysOfTime(day.substr(0, 10), days);
    return std::llround(days);
}

// A meridian distance carried by the rotation, within -180..180 degrees.
double Wrapped(double degrees) { return std::remainder(degrees, 360.0); }

// Whether some allowed latitude puts the region's last feature within
// `reach` degrees of the central meridian at `time`.
bool WithinAt(const RegionFeature& last, const std::vector<bool>& allowed, double time, double reach,
              const LinkingRules& rules) {
    for (std::size_t k = 0; k < allowed.size(); ++k) {
        if (!allowed[k]) continue;
        const double b = LatitudeAt(rules, k);
        double phi = 0.0;
        if (!MeridianDistanceOf(last.offset, b, last.angleP, last.radius, phi)) continue;
        if (std::fabs(Wrapped(phi + SynodicRotationRate(b) * (time - last.time))) <= reach) return true;
    }
    return false;
}

// Whether the region is lost by `time`: carried behind the limb by every
// allowed latitude on some day since its last feature, or missed on more
// than rules.maxMissingDays days on which some allowed latitude put it well
// on the disk (within rules.seenWithin of the central meridian; the days
// near the limb, where it is foreshortened, are not missed).
bool Lost(const RegionFeature& last, const std::vector<bool>& allowed, double time, const LinkingRules& rules) {
    int missed = 0;
    for (double t = last.time + 1.0; t < time + 0.5; t += 1.0) {
        const double at = std::min(t, time);
        if (!WithinAt(last, allowed, at, 90.0, rules)) return true;
        if (at < time - 0.5 && WithinAt(last, allowed, at, rules.seenWithin, rules) && ++missed > rules.maxMissingDays)
            return true;
    }
    return false;
}

// The latitudes that explain the link from `from` to `to`, and its cost;
// false when none does.
bool Explains(const RegionFeature& from, const RegionFeature& to, const std::vector<bool>& allowed,
              const LinkingRules& rules, Link& link) {
    const double tolerance = rules.errorScale * std::hypot(from.offsetError, to.offsetError) +
                             rules.beamShare * 0.5 * (from.beamWidth + to.beamWidth);
    link.allowed.assign(allowed.size(), false);
    const auto polarised = [&](const RegionFeature& f, double sign) {
        return f.vOverIError > 0.0 && sign * f.vOverI > rules.polaritySigmas * f.vOverIError;
    };
    if ((polarised(from, 1.0) && polarised(to, -1.0)) || (polarised(from, -1.0) && polarised(to, 1.0))) return false;
    bool any = false;
    for (std::size_t k = 0; k < allowed.size(); ++k) {
        if (!allowed[k]) continue;
        const double b = LatitudeAt(rules, k);
        double phi = 0.0;
        if (!MeridianDistanceOf(from.offset, b, from.angleP, from.radius, phi)) continue;
        const double carried = Wrapped(phi + SynodicRotationRate(b) * (to.time - from.time));
        if (std::fabs(carried) > 90.0) continue;
        const double miss = std::fabs(ScanOffsetOf(carried, b, to.angleP, to.radius) - to.offset);
        if (!(miss <= tolerance)) continue;
        const double cost = tolerance > 0.0 ? miss / tolerance : 0.0;
        if (!any || cost < link.cost) link.cost = cost;
        link.allowed[k] = true;
        any = true;
    }
    return any;
}

}  // namespace

std::vector<LinkedRegion> LinkRegions(const std::vector<RegionFeature>& features, const LinkingRules& rules) {
    std::vector<std::size_t> order(features.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(features[a].time, features[a].recordingId, features[a].track) <
               std::tie(features[b].time, features[b].recordingId, features[b].track);
    });
    const std::size_t latitudes =
        rules.latitudeStep > 0.0 ? static_cast<std::size_t>(std::floor(2.0 * rules.latitudeLimit / rules.latitudeStep + 1e-9)) + 1
                                 : 1;
    std::vector<OpenRegion> regions;
    for (std::size_t begin = 0; begin < order.size();) {
        // One recording's features.
        std::size_t end = begin + 1;
        while (end < order.size() && features[order[end]].recordingId == features[order[begin]].recordingId) ++end;
        const RegionFeature& now = features[order[begin]];
        const long long today = DayNumber(now.day);
        std::vector<Link> links;
        for (std::size_t r = 0; r < regions.size(); ++r) {
            OpenRegion& region = regions[r];
            if (region.ended) continue;
            const RegionFeature& last = features[region.features.back()];
            const long long gap = today - DayNumber(last.day);
            if (Lost(last, region.allowed, now.time, rules)) {
                region.ended = true;
                continue;
            }
            if (gap < 1) continue;  // one feature per region and day
            for (std::size_t k = begin; k < end; ++k) {
                Link link;
                link.region = r;
                link.feature = order[k];
                if (Explains(last, features[order[k]], region.allowed, rules, link)) links.push_back(std::move(link));
            }
        }
        std::stable_sort(links.begin(), links.end(), [](const Link& a, const Link& b) { return a.cost < b.cost; });
        std::vector<bool> regionTaken(regions.size(), false), featureTaken(features.size(), false);
        for (Link& link : links) {
            if (regionTaken[link.region] || featureTaken[link.feature]) continue;
            regionTaken[link.region] = featureTaken[link.feature] = true;
            regions[link.region].features.push_back(link.feature);
            regions[link.region].allowed = std::move(link.allowed);
        }
        for (std::size_t k = begin; k < end; ++k) {
            if (featureTaken[order[k]]) continue;
            const RegionFeature& f = features[order[k]];
            OpenRegion region;
            region.features.push_back(order[k]);
            region.allowed.assign(latitudes, false);
            for (std::size_t b = 0; b < latitudes; ++b) {
                double phi = 0.0;
                region.allowed[b] = MeridianDistanceOf(f.offset, LatitudeAt(rules, b), f.angleP, f.radius, phi);
            }
            // Beyond the limb at every latitude: no region on the disk.
            if (std::find(region.allowed.begin(), region.allowed.end(), true) == region.allowed.end()) continue;
            regions.push_back(std::move(region));
        }
        begin = end;
    }
    std::vector<LinkedRegion> linked;
    for (const OpenRegion& region : regions) {
        LinkedRegion out;
        out.features = region.features;
        const auto first = std::find(region.allowed.begin(), region.allowed.end(), true);
        const auto last = std::find(region.allowed.rbegin(), region.allowed.rend(), true);
        if (first != region.allowed.end()) {
            out.latitudeLow = LatitudeAt(rules, static_cast<std::size_t>(first - region.allowed.begin()));
            out.latitudeHigh = LatitudeAt(rules, region.allowed.size() - 1 - static_cast<std::size_t>(last - region.allowed.rbegin()));
        }
        linked.push_back(std::move(out));
    }
    return linked;
}
