// Looking at pictures in tests: PNG files decoded (8-bit RGB or RGBA, as the
// cairo devices write them), the size an SVG file declares, and measures of
// what is drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // 3 bytes per pixel, rows from the top
    std::vector<std::string> chunks;  // the chunk types in file order
};

// False with a message when the bytes are not a PNG file this decoder reads.
bool DecodePng(const std::string& bytes, Image& image, std::string& error);

// The width and height attributes of the <svg> element, as written.
bool SvgSize(const std::string& svg, std::string& width, std::string& height);

// Pixels clearly darker than the white background in rows [first, last).
int DarkPixels(const Image& image, int firstRow, int lastRow);

// Distinct colours of the whole picture.
std::size_t ColourCount(const Image& image);

// Checks that `bytes` is a PNG of the size that is not blank: several
// colours, and dark pixels (text) in the title band at the top. Adds test
// failures naming `what`.
void ExpectDrawnPng(const std::string& bytes, int width, int height, const std::string& what);
// The same for SVG: the size, and text drawn as glyphs.
void ExpectDrawnSvg(const std::string& bytes, int width, int height, const std::string& what);
