// Drawing a PlotPicture as PNG or SVG with the PLplot library (its cairo
// devices). The same picture and size always give the same bytes.
#pragma once

#include <string>
#include <vector>

#include "scan/plot_data.h"

enum class PictureFormat { Png, Svg };

struct PictureSize {
    int width = 1200;
    int height = 800;
};

constexpr int kSmallestPictureSide = 300;
constexpr int kLargestPictureSide = 8000;

// "WIDTHxHEIGHT" in pixels, each from kSmallestPictureSide to
// kLargestPictureSide; false with a message otherwise.
bool ParsePictureSize(const std::string& text, PictureSize& size, std::string& error);

// SVG when the path ends in ".svg" (in any case), PNG otherwise.
PictureFormat FormatOfPath(const std::string& path);
// The format a path's name asks for: ".png" or ".svg", in any case; false
// for any other name.
bool PictureFormatOfPath(const std::string& path, PictureFormat& format);
// "'x.jpg' does not end in .png or .svg: a picture is written as PNG or SVG".
std::string NotAPictureName(const std::string& path);

// Ticks of an axis: a step of 1, 2 or 5 times a power of ten, about `target`
// steps across the range; labels with as many decimals as the step needs, or
// with an exponent for very large or very small values.
struct AxisTicks {
    double step = 0.0;  // 0: no usable step (the library chooses)
    int decimals = 0;
    int significant = 0;  // > 0: labels as "%.*g" with this many digits
};
AxisTicks TicksFor(const PlotRange& range, int target);
std::string TickLabel(double value, const AxisTicks& ticks);
// The longest label of the ticks within the range, in characters.
std::size_t LongestTickLabel(const PlotRange& range, const AxisTicks& ticks);

// The side labels of a panel `height` character heights high, with the
// range `y`, that are drawn: from the lowest up, each at least
// kSideLabelGap character heights above the one drawn before, so that no two
// overlap; the others are left out. Indexes into `labels`, lowest first.
constexpr double kSideLabelGap = 1.25;
std::vector<std::size_t> SideLabelsDrawn(const std::vector<PlotSideLabel>& labels, const PlotRange& y,
                                         double height);

// Lines of at most `width` characters, broken at blanks where possible.
std::vector<std::string> WrappedLines(const std::vector<std::string>& lines, std::size_t width);

// The picture's bytes in the format, `size` pixels wide and high.
bool DrawPicture(const PlotPicture& picture, const PictureSize& size, PictureFormat format,
                 std::string& bytes, std::string& error);

// Draws the picture in the format of `path` (".png" or ".svg", else an
// error) and writes it there, replacing a file that is there; a file that
// cannot be written completely is not left behind.
bool WritePicture(const PlotPicture& picture, const PictureSize& size, const std::string& path,
                  std::string& error);
