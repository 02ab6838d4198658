#include "scan/scan_quality.h"

#include <cmath>
#include <cstdio>

const QualityFlagName kQualityFlagNames[] = {
    {kQualityFromAl, "LL value taken from al"},
    {kQualityNotFinite, "not a finite number"},
};
const int kQualityFlagCount = static_cast<int>(sizeof kQualityFlagNames / sizeof kQualityFlagNames[0]);

namespace {

// Flags of the samples of one polarisation, in the recording's order.
std::vector<uint8_t> Flags(const std::vector<float>& repaired, int32_t takenFromFile, bool takenFromAl) {
    const std::size_t n = repaired.size();
    std::vector<uint8_t> flags(n, kQualityGood);
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(repaired[k])) flags[k] |= kQualityNotFinite;
        if (takenFromAl && static_cast<int64_t>(k) >= takenFromFile) flags[k] |= kQualityFromAl;
    }
    return flags;
}

// Flags of the points of one polarisation: sample k stands at point n - 1 - k.
std::vector<uint8_t> PointFlags(const ChannelPlan& channel, int block) {
    std::vector<uint8_t> flags = SampleQualityFlags(channel, block);
    return std::vector<uint8_t>(flags.rbegin(), flags.rend());
}

}  // namespace

bool PlanRecordingOfScanFiles(const std::string& headerPath, bool thirdArgument,
                              const std::string& tablePath, RecordingExplanation& recording,
                              std::string& error) {
    return ExplainRecording(headerPath, thirdArgument, tablePath, true, recording, error);
}

const ChannelPlan* ChannelOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                                     const ScanFileContents& scan, std::string& error) {
    const ChannelPlan* channel = nullptr;
    for (const ChannelPlan& c : recording.channels)
        if (c.verdict == ChannelVerdict::ScanFile && c.scanFileName == scanName) channel = &c;
    if (!channel) {
        error = scanName + " is not a scan file that " + recording.headerPath + " gives";
        return nullptr;
    }
    if (channel->scan.sampleCount != scan.naxis1 || !(std::fabs(channel->frequency - scan.obsFreq) < 0.0005)) {
        char frequency[64];
        std::snprintf(frequency, sizeof frequency, "%.3f GHz", channel->frequency);
        error = scanName + " is not the one " + recording.headerPath + " gives: channel " +
                std::to_string(channel->channel) + " has " + std::to_string(channel->scan.sampleCount) +
                " points at " + frequency;
        return nullptr;
    }
    return channel;
}

bool QualityOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                       const ScanFileContents& scan, ScanFileQuality& quality, std::string& error) {
    quality = ScanFileQuality();
    const ChannelPlan* channel = ChannelOfScanFile(recording, scanName, scan, error);
    if (!channel) return false;
    quality.channel = channel->channel;
    for (const RunWarning& warning : recording.warnings)
        if (warning.channel == kWholeRecording || warning.channel == channel->channel)
            quality.warnings.push_back(warning);
    quality.flags[0] = PointFlags(*channel, 0);
    quality.flags[1] = PointFlags(*channel, 1);
    return true;
}

std::vector<uint8_t> SampleQualityFlags(const ChannelPlan& channel, int block) {
    return block == 0 ? Flags(channel.leftRepaired, channel.left.samples, false)
                      : Flags(channel.rightRepaired, channel.right.samples, true);
}

std::size_t FlaggedPoints(const std::vector<uint8_t>& flags, QualityFlag flag) {
    std::size_t count = 0;
    for (const uint8_t f : flags) count += (f & flag) ? 1 : 0;
    return count;
}
