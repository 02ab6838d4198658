// Pictures as plain data: panels of traces, vertical lines, labels and legend
// entries, built from scan files and from the channel plan of a recording.
// Nothing here draws; scan/plots.h turns a PlotPicture into PNG or SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/scan_reader.h"
#include "scan/explain.h"
#include "scan/plot_quality.h"

// The pale colours are for shading.
enum class PlotColour { Black, Red, Blue, Green, Grey, Orange, Purple, PaleOrange, PalePurple };
enum class PlotLineStyle { Solid, Dashed, Dotted };

struct PlotRange {
    double low = 0.0;
    double high = 1.0;
};

// A line through points; a point whose x or y is not a finite number breaks it.
struct PlotTrace {
    std::string label;  // in the panel's legend when not empty
    PlotColour colour = PlotColour::Black;
    PlotLineStyle style = PlotLineStyle::Solid;
    std::vector<double> x, y;
    bool marked = false;            // a symbol at each point
    std::vector<double> yLow{}, yHigh{};  // when given: an error bar at each point, from yLow to yHigh
};

// A vertical line across the whole panel.
struct PlotMarkLine {
    double x = 0.0;
    PlotColour colour = PlotColour::Black;
    PlotLineStyle style = PlotLineStyle::Solid;
};

// A text beside the panel's right edge, at the height `y` of the panel's range.
struct PlotSideLabel {
    double y = 0.0;
    std::string text;
};

// A shaded rectangle behind the traces, from xLow to xHigh: across the
// panel's whole height, or from yLow to yHigh.
struct PlotBand {
    double xLow = 0.0, xHigh = 0.0;
    bool wholeHeight = true;
    double yLow = 0.0, yHigh = 0.0;
    PlotColour colour = PlotColour::PaleOrange;
};

struct PlotLegendEntry {
    std::string text;
    PlotColour colour = PlotColour::Black;
    PlotLineStyle style = PlotLineStyle::Solid;
    bool box = false;  // a filled box of the colour (a band), not a line
};

struct PlotPanel {
    std::string heading;  // above the panel
    std::string xLabel, yLabel;
    PlotRange x, y;
    bool yNumbers = true;  // false: the y axis carries no numbers
    std::vector<PlotBand> bands;
    bool xLog = false, yLog = false;  // logarithmic axes (ranges and values above 0)
    int yTicks = 0;  // at least about this many steps along y (0: as many as the height allows)
    std::vector<PlotTrace> traces;
    std::vector<PlotMarkLine> lines;
    std::vector<PlotSideLabel> sideLabels;
    std::vector<PlotLegendEntry> legend;
};

// Panels from top to bottom, sharing the width of the picture; the caption
// lines go below the last panel.
struct PlotPicture {
    std::string title;
    std::vector<PlotPanel> panels;
    std::vector<std::string> caption;
};

// At most this many caption lines; more notes are counted in the last one.
constexpr std::size_t kMostCaptionLines = 8;

// A text from a file fit for a picture: printable ASCII only (other bytes as
// "?"), at most `limit` characters.
std::string PictureText(const std::string& text, std::size_t limit = 120);

// The label of the offset axis, and "OBJECT, day/month/year time UT" of a
// scan file: the title every picture of a scan file starts with.
extern const char* const kOffsetLabel;
std::string ObservationOf(const ScanFileContents& scan);

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
