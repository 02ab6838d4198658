#include "calibrate/sources.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

const char* FluxFactorSourceName(FluxFactorSource source) {
    return source == FluxFactorSource::Table ? "table" : "card";
}

namespace {

// Why a source is not reported; empty when it is.
std::string RejectionOf(const ScanSource& s) {
    if (!(std::fabs(s.vOverI) - 1.0 > s.vOverIError)) return "";
    char text[160];
    std::snprintf(text, sizeof text, "source at %.1f arcsec: V/I = %.3f \u00b1 %.3f is beyond 1: the fit of V or I is wrong there",
                  s.shape.position, s.vOverI, s.vOverIError);
    return text;
}

}  // namespace

bool FindScanSources(const ScanFileContents& scan, const std::string& name, const ScanCalibration& c,
                     ScanSources& found, std::string& error) {
    return FindScanSources(scan, name, c, ScanRecordingFacts(), found, error);
}

bool FindScanSources(const ScanFileContents& scan, const std::string& name, const ScanCalibration& c,
                     const ScanRecordingFacts& facts, ScanSources& found, std::string& error) {
    found = ScanSources();
    found.name = name;
    found.frequency = scan.obsFreq;
    found.beamWidth = scan.thetaDg;
    found.fluxFactor = scan.fluxL;
    if (facts.fluxFactor > 0.0 && std::isfinite(facts.fluxFactor)) {
        found.fluxFactor = facts.fluxFactor;
        found.fluxFactorSource = FluxFactorSource::Table;
    }
    found.step = std::fabs(scan.cdelt1);
    found.quietTemperature = c.quietTemperature;
    found.gain = c.gain;
    const double factor = found.fluxFactor;
    if (!(factor > 0.0) || !std::isfinite(factor)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", factor);
        error = name + ": FLUX_L is " + text + ": there is no factor from antenna temperature to flux";
        return false;
    }
    found.stokesI = c.stokesIFit;
    found.vDisk = c.stokesVFit.quiet;
    for (std::size_t k = 0; k < found.stokesI.sources.size(); ++k) {
        ScanSource s;
        s.shape = found.stokesI.sources[k];
        s.vPeak = c.stokesVFit.peaks[k];
        s.vPeakError = c.stokesVFit.peakErrors[k];
        s.flux = s.shape.peak * factor;
        s.fluxError = s.shape.peakError * factor;
        s.vOverI = s.vPeak / s.shape.peak;
        s.vOverIError = std::hypot(std::hypot(s.vPeakError / s.shape.peak, s.vPeak * s.shape.peakError / (s.shape.peak * s.shape.peak)), ProfileSettings().vOverIFloor);
        s.significance = found.stokesI.noise > 0.0 ? s.shape.peak / found.stokesI.noise : 0.0;
        const std::string rejection = RejectionOf(s);
        if (rejection.empty()) {
            found.sources.push_back(s);
        } else {
            found.rejected.push_back({s, rejection});
        }
    }
    return true;
}

std::vector<SourceTrack> TrackSources(const std::vector<ScanSources>& scans) {
    std::vector<std::size_t> order(scans.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return scans[a].frequency > scans[b].frequency; });
    std::vector<SourceTrack> tracks;
    const auto last = [&](const SourceTrack& t) -> const ScanSource& {
        return scans[t.points.back().first].sources[t.points.back().second];
    };
    for (const std::size_t s : order) {
        const ScanSources& scan = scans[s];
        struct Pair {
            double distance;
            std::size_t track, source;
        };
        std::vector<Pair> pairs;
        for (std::size_t t = 0; t < tracks.size(); ++t) {
            const double beam = std::max(scan.beamWidth, scans[tracks[t].points.back().first].beamWidth);
            for (std::size_t k = 0; k < scan.sources.size(); ++k) {
                const double distance = std::fabs(scan.sources[k].shape.position - last(tracks[t]).shape.position);
                if (distance <= 0.6 * beam) pairs.push_back({distance, t, k});
            }
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
        std::vector<bool> trackTaken(tracks.size(), false), sourceTaken(scan.sources.size(), false);
        for (const Pair& p : pairs) {
            if (trackTaken[p.track] || sourceTaken[p.source]) continue;
            trackTaken[p.track] = sourceTaken[p.source] = true;
            tracks[p.track].points.push_back({s, p.source});
        }
        for (std::size_t k = 0; k < scan.sources.size(); ++k)
            if (!sourceTaken[k]) tracks.push_back({{{s, k}}});
    }
    const auto first = [&](const SourceTrack& t) {
        return scans[t.points.front().first].sources[t.points.front().second].shape.position;
    };
    std::stable_sort(tracks.begin(), tracks.end(),
                     [&](const SourceTrack& a, const SourceTrack& b) { return first(a) < first(b); });
    return tracks;
}
