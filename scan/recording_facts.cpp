#include "scan/recording_facts.h"

#include <algorithm>
#include <cmath>

#include "scan/scan_quality.h"

namespace {

// The ranges and replaced points of one polarisation, in the scan file's
// order, from the repair of `file` over the channel's n samples.
void RepairedPoints(const SampleFilePlan& file, int64_t n, std::vector<std::pair<std::size_t, std::size_t>>& scaled,
                    std::vector<std::size_t>& replaced) {
    const auto point = [n](int64_t sample) { return static_cast<std::size_t>(n - 1 - sample); };
    for (int k = 0; k < file.repair.count; ++k) {
        const MarkerOutcome& marker = file.repair.markers[k];
        if (marker.effect != MarkerEffect::Repaired && marker.effect != MarkerEffect::OnlyMarked) continue;
        replaced.push_back(point(marker.position));
        // Samples position + 1 .. rangeEnd - 1 are points n - rangeEnd .. n - 2 - position.
        if (marker.effect == MarkerEffect::Repaired)
            scaled.push_back({point(marker.rangeEnd - 1), point(marker.position)});
    }
}

}  // namespace

bool RecordingFactsOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                              const ScanFileContents& scan, ScanRecordingFacts& facts, std::string& error) {
    facts = ScanRecordingFacts();
    const ChannelPlan* channel = ChannelOfScanFile(recording, scanName, scan, error);
    if (!channel) return false;
    const int64_t n = channel->scan.sampleCount;
    // Block 0 (al) is RR when its POLARIZ is 1, as CalibrateScan reads it.
    const int alPolarisation = scan.blocks[0].polariz == 1 ? kRR : kLL;
    const int arPolarisation = 1 - alPolarisation;
    for (const auto& [file, p] : {std::make_pair(&channel->left, alPolarisation),
                                  std::make_pair(&channel->right, arPolarisation)}) {
        const auto q = static_cast<std::size_t>(p);
        RepairedPoints(*file, n, facts.scaled[q], facts.replaced[q]);
        // ScaleSamples maps the samples as the repair left them, the baseline
        // already subtracted, linearly onto the stored values: BSCALE x stored +
        // BZERO is that sample to within BSCALE, and the baseline is in the
        // same units.
        facts.baseline[q] = static_cast<double>(file->repair.baseline);
    }
    // The LL points that a short ar file leaves with al's values.
    auto& fromAl = facts.replaced[static_cast<std::size_t>(arPolarisation)];
    for (int64_t k = std::max<int64_t>(channel->right.samples, 0); k < n; ++k)
        fromAl.push_back(static_cast<std::size_t>(n - 1 - k));
    for (const int p : {kRR, kLL}) {
        const auto q = static_cast<std::size_t>(p);
        std::sort(facts.scaled[q].begin(), facts.scaled[q].end());
        std::sort(facts.replaced[q].begin(), facts.replaced[q].end());
        facts.replaced[q].erase(std::unique(facts.replaced[q].begin(), facts.replaced[q].end()),
                                facts.replaced[q].end());
    }
    const float flux = channel->calibration.values.fluxFactor;
    if (channel->calibrationLooked && channel->calibration.result == CalibrationResult::Found && flux > 0.0f &&
        std::isfinite(flux))
        facts.fluxFactor = static_cast<double>(flux);
    if (channel->calibrationLooked) facts.beamWidth = TableBeamWidth(channel->calibration, scan.obsFreq);
    facts.known = true;
    return true;
}

double TableFluxFactor(const std::string& tablePath, double frequency) {
    const CalibrationLookup lookup = FindCalibration(tablePath, NarrowFrequency(frequency));
    const float flux = lookup.values.fluxFactor;
    if (lookup.result != CalibrationResult::Found || !(flux > 0.0f) || !std::isfinite(flux)) return 0.0;
    return static_cast<double>(flux);
}

double TableBeamWidth(const CalibrationLookup& lookup, double frequency) {
    if (lookup.result != CalibrationResult::Found) return 0.0;
    const double fu = lookup.upperFrequency, fl = lookup.lowerFrequency;
    const double wu = lookup.upperBeamWidth, wl = lookup.lowerBeamWidth;
    if (!(fu > 0.0 && fl > 0.0 && wu > 0.0 && wl > 0.0 && frequency > 0.0) || fu == fl) return 0.0;
    const double share = std::log(frequency / fu) / std::log(fl / fu);
    const double width = std::exp(std::log(wu) + share * (std::log(wl) - std::log(wu)));
    return std::isfinite(width) && width > 0.0 ? width : 0.0;
}

double TableBeamWidth(const std::string& tablePath, double frequency) {
    return TableBeamWidth(FindCalibration(tablePath, NarrowFrequency(frequency)), frequency);
}
