// A picture as plain data: panels of traces, vertical lines, shaded bands,
// labels and legend entries, and the caption below them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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
