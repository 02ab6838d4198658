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

// Lines of at most `width` characters, broken at blanks where possible.
std::vector<std::string> WrappedLines(const std::vector<std::string>& lines, std::size_t width);

// The picture's bytes in the format, `size` pixels wide and high.
bool DrawPicture(const PlotPicture& picture, const PictureSize& size, PictureFormat format,
                 std::string& bytes, std::string& error);

// Draws the picture in the format of `path` and writes it there, replacing a
// file that is there; a file that cannot be written completely is not left
// behind.
bool WritePicture(const PlotPicture& picture, const PictureSize& size, const std::string& path,
                  std::string& error);
