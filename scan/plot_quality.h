// What the pictures show of a recording's warnings about a scan file: its
// flagged points shaded, named in the legend, and the warnings in the caption.
// The flags and warnings come from scan/scan_quality.h; nothing here decides
// what is wrong with a point.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/scan_reader.h"
#include "scan/explain.h"
#include "scan/scan_quality.h"

struct PlotPanel;

// A scan file's quality with the names the pictures give it.
struct PictureQuality {
    std::string headerName;      // the recording's header, without folder
    std::string scanName;        // the scan file, without folder
    ScanFileQuality quality;
    std::string alName, arName;  // the channel's sample files, without folder
    int32_t arSamples = 0;       // the whole samples its ar file holds
};

// The quality of the scan file `scanName` (without folder), read as `scan`,
// from its planned recording (PlanRecordingOfScanFiles); false with
// QualityOfScanFile's message when the recording does not give that file.
bool PictureQualityOf(const RecordingExplanation& recording, const std::string& scanName,
                      const ScanFileContents& scan, PictureQuality& quality, std::string& error);

// The flags of the points that a trace of block 0 (RR), block 1 (LL) or both
// (-1: I and V, made of both) draws.
std::vector<uint8_t> FlagsOfTrace(const ScanFileQuality& quality, int block);

// Shades the runs of points whose flags carry `flag` (points at `x`), across
// the panel's height or, with `wholeHeight` false, from `yLow` to `yHigh`.
// False when no point carries it.
bool ShadeFlaggedPoints(const std::vector<uint8_t>& flags, QualityFlag flag, const std::vector<double>& x,
                        bool wholeHeight, double yLow, double yHigh, PlotPanel& panel);

// The legend entry of a shaded flag: with the figures of one scan file
// ("LL value taken from al (ar0 holds 1024 samples)"), or without (the
// overview, where each shaded row is a scan file of its own).
void AddFlagLegend(PlotPanel& panel, QualityFlag flag, const PictureQuality* quality);

// The caption lines of the warnings that concern a scan file, as
// "id: message"; the recording's own warnings only with `recordingToo`, the
// channel's prefixed with `prefix`.
std::vector<std::string> WarningCaption(const PictureQuality& quality, bool recordingToo,
                                        const std::string& prefix);
