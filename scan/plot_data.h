// The pictures of scan files and of the channel plan of a recording, as
// plain data (scan/plot_picture.h). Nothing here draws; scan/plots.h turns a
// PlotPicture into PNG or SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/scan_reader.h"
#include "scan/explain.h"
#include "scan/plot_picture.h"
#include "scan/plot_quality.h"

// The label of the offset axis, and "OBJECT, YYYY-MM-DD hh:mm:ss.sss UT" of
// a scan file: the title every picture of a scan file starts with.
extern const char* const kOffsetLabel;
std::string ObservationOf(const ScanFileContents& scan);
// "2003-11-05": the date of an observation as every picture writes it (the
// day first or the month first would each be misread somewhere).
std::string PictureDate(int year, int month, int day);

// The smallest and largest finite value with a margin of `margin` of their
// span on each side; a single value gets a span of its own. False when no
// value is finite.
bool FiniteRange(const std::vector<double>& values, double margin, PlotRange& range);

// One scan file: RR (the al block) and LL (the ar block) as physical values
// against the offset from the meridian centre in arc seconds, the centre and
// the optical limbs marked. `name` names the file in messages. When the step
// (CDELT1) or the radius (RADIUS) leaves no offset axis, the points are drawn
// against their place 1 to n, as the caption says. With the recording's
// `quality` of the file, its flagged points are shaded and named in the
// legend, and the caption lists the warnings that concern the file.
bool ScanPicture(const ScanFileContents& scan, const std::string& name, PlotPicture& picture,
                 std::string& error, const PictureQuality* quality = nullptr);

// What the overview draws of each scan file.
enum class OverviewPolarisation { RR, LL, I, V };
const char* PolarisationName(OverviewPolarisation polarisation);
// "RR", "LL", "I" or "V" (in any case); false for anything else.
bool PolarisationFromName(const std::string& name, OverviewPolarisation& polarisation);

// A scan file read for the overview, with the name that messages use and,
// when its recording is known, its quality.
struct NamedScan {
    std::string name;
    ScanFileContents scan;
    std::optional<PictureQuality> quality = std::nullopt;
};

// The values the overview draws of a scan file, point by point: RR, LL,
// I = (RR + LL) / 2 or V = (RR - LL) / 2 of the physical values.
std::vector<double> PolarisationValues(const ScanFileContents& scan, OverviewPolarisation polarisation);

// One trace per scan file, stacked by frequency (lowest at the bottom) and
// labelled with it in GHz, each scaled from its own smallest to its largest
// value, on a common offset axis in arc seconds (or against the place 1 to n
// when a scan file has no offset axis). A scan file that cannot be drawn (no
// points, no finite value) is left out and named in the caption; false only
// when no scan file can be drawn. The flagged points of scan files with a
// quality are shaded in their rows, their warnings listed in the caption.
bool OverviewPicture(const std::vector<NamedScan>& scans, OverviewPolarisation polarisation,
                     PlotPicture& picture, std::string& error);

// One channel of a planned recording (planned with the samples kept): both
// polarisations as read above the same after the jump repair and the baseline
// step, with the channel's markers as vertical lines (solid where applied,
// dashed where they change nothing) and the reasons in the caption. The LL
// samples past the end of a short ar file, which hold the repaired al
// values, are a trace of their own.
bool RepairPicture(const RecordingExplanation& explanation, int channel, PlotPicture& picture,
                   std::string& error);
