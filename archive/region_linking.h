// Active regions followed across days: the features of each day's
// recording (a track of compact sources across the recording's frequencies)
// linked by the Sun's differential rotation (solar/rotation.h).
//
// One scan gives a feature's offset along the scan but not its latitude B.
// A link from a feature at t1 (offset s1, position angle P1, radius R1) to
// one at t2 (s2, P2, R2) is admissible when some latitude B of the region's
// allowed set gives
//     phi1 = MeridianDistanceOf(s1, B, P1, R1),
//     phi2 = phi1 + SynodicRotationRate(B) (t2 - t1),  |phi2| <= 90,
//     |ScanOffsetOf(phi2, B, P2, R2) - s2| <= tolerance,
//     tolerance = errorScale sqrt(e1^2 + e2^2) + beamShare x (the beams' mean width).
// A new region may lie at any |B| <= latitudeLimit; each link narrows its
// allowed latitudes to those that explained it, so from its second day on
// the region's history constrains the next link. The cost of a link is the
// smallest |predicted - s2| / tolerance over the admissible latitudes; the
// links of a recording are made from the cheapest up, one feature per
// region per day. A region that has missed more than maxMissingDays days,
// or that every allowed latitude carries past the west limb, ends.
#pragma once

#include <string>
#include <vector>

struct RegionFeature {
    long long recordingId = 0;
    int track = -1;
    std::string observed, day;  // the recording's
    double time = 0.0;          // days since 1970-01-01 (DaysOfTime of observed)
    double offset = 0.0, offsetError = 0.0;  // arcsec along the scan
    double angleP = 0.0, radius = 0.0;       // the recording's, degrees and arcsec
    double beamWidth = 0.0;                  // arcsec, the mean over the feature's frequencies
    // V/I over the feature's frequencies, weighted by 1 / error^2, and its
    // error (0: not known).
    double vOverI = 0.0, vOverIError = 0.0;
};

struct LinkingRules {
    double latitudeLimit = 40.0;  // degrees
    double latitudeStep = 0.1;    // degrees between the latitudes tried
    double errorScale = 3.0;
    double beamShare = 0.1;
    // Days on which a region stood within seenWithin degrees of the central
    // meridian but was not seen, at most, before it ends; the days it spends
    // near the limb, foreshortened, do not count. A region that every allowed
    // latitude carries behind the limb ends too.
    int maxMissingDays = 2;
    double seenWithin = 70.0;
    // Two features whose V/I lie this many errors from 0 on opposite sides
    // are not one region: a region's circular polarisation keeps its sign
    // from day to day (its magnetic polarity), and regions of the two
    // hemispheres differ in it.
    double polaritySigmas = 5.0;
};

struct LinkedRegion {
    std::vector<std::size_t> features;  // indexes into the features given, in time order
    double latitudeLow = 0.0, latitudeHigh = 0.0;  // the latitudes that explain every link, degrees
};

// Links the features (in any order) into regions, in the order of their
// first day. Every feature on the disk lands in exactly one region; one that
// nothing explains is a region of its own. A feature that no latitude puts on
// the disk (beyond the optical limb) joins none: the quiet disk's model can
// leave an excess of about 0.1 % of the quiet Sun at the radio limb, which
// the source finder takes for a source there.
std::vector<LinkedRegion> LinkRegions(const std::vector<RegionFeature>& features, const LinkingRules& rules = {});
