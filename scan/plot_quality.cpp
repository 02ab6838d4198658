#include "scan/plot_quality.h"

#include <algorithm>
#include <cmath>

#include "scan/plot_picture.h"

namespace {

std::string FileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PlotColour ColourOfFlag(QualityFlag flag) {
    return flag == kQualityFromAl ? PlotColour::PaleOrange : PlotColour::PalePurple;
}

const char* NameOfFlag(QualityFlag flag) {
    for (int i = 0; i < kQualityFlagCount; ++i)
        if (kQualityFlagNames[i].flag == flag) return kQualityFlagNames[i].name;
    return "flagged";
}

}  // namespace

bool PictureQualityOf(const RecordingExplanation& recording, const std::string& scanName,
                      const ScanFileContents& scan, PictureQuality& quality, std::string& error) {
    quality = PictureQuality();
    if (!QualityOfScanFile(recording, scanName, scan, quality.quality, error)) return false;
    const ChannelPlan& channel = recording.channels[static_cast<std::size_t>(quality.quality.channel)];
    quality.headerName = FileName(recording.headerPath);
    quality.scanName = scanName;
    quality.alName = FileName(channel.left.path);
    quality.arName = FileName(channel.right.path);
    quality.arSamples = channel.right.samples;
    return true;
}

std::vector<uint8_t> FlagsOfTrace(const ScanFileQuality& quality, int block) {
    if (block == 0 || block == 1) return quality.flags[block];
    std::vector<uint8_t> both = quality.flags[0];
    for (std::size_t i = 0; i < both.size() && i < quality.flags[1].size(); ++i) both[i] |= quality.flags[1][i];
    return both;
}

bool ShadeFlaggedPoints(const std::vector<uint8_t>& flags, QualityFlag flag, const std::vector<double>& x,
                        bool wholeHeight, double yLow, double yHigh, PlotPanel& panel) {
    const std::size_t n = std::min(flags.size(), x.size());
    // Each point is shaded half the way to its neighbours.
    const double half = n > 1 && std::isfinite(x[1] - x[0]) ? std::fabs(x[1] - x[0]) / 2.0 : 0.5;
    bool any = false;
    for (std::size_t first = 0; first < n;) {
        if (!(flags[first] & flag)) {
            ++first;
            continue;
        }
        std::size_t last = first;
        while (last + 1 < n && (flags[last + 1] & flag)) ++last;
        const double low = std::min(x[first], x[last]) - half, high = std::max(x[first], x[last]) + half;
        if (std::isfinite(low) && std::isfinite(high)) {
            PlotBand band;
            band.xLow = std::max(low, panel.x.low);
            band.xHigh = std::min(high, panel.x.high);
            band.wholeHeight = wholeHeight;
            band.yLow = yLow;
            band.yHigh = yHigh;
            band.colour = ColourOfFlag(flag);
            panel.bands.push_back(band);
        }
        any = true;
        first = last + 1;
    }
    return any;
}

void AddFlagLegend(PlotPanel& panel, QualityFlag flag, const PictureQuality* quality) {
    std::string text = NameOfFlag(flag);
    if (flag == kQualityFromAl) {
        text += quality ? " (" + quality->arName + " holds " + std::to_string(quality->arSamples) + " samples)"
                        : " (its ar file is short)";
    } else if (flag == kQualityNotFinite) {
        text += ": stored as 0";
        if (quality) {
            const std::size_t rr = FlaggedPoints(quality->quality.flags[0], flag),
                              ll = FlaggedPoints(quality->quality.flags[1], flag);
            text += " (" + std::to_string(rr) + " RR, " + std::to_string(ll) + " LL points)";
        }
    }
    PlotLegendEntry entry;
    entry.text = PictureText(text);
    entry.colour = ColourOfFlag(flag);
    entry.box = true;
    panel.legend.push_back(entry);
}

std::vector<std::string> WarningCaption(const PictureQuality& quality, bool recordingToo,
                                        const std::string& prefix) {
    std::vector<std::string> lines;
    for (const RunWarning& warning : quality.quality.warnings) {
        const bool ofRecording = warning.channel == kWholeRecording;
        if (ofRecording && !recordingToo) continue;
        lines.push_back(PictureText((ofRecording ? std::string() : prefix) + WarningLine(warning), 240));
    }
    return lines;
}
