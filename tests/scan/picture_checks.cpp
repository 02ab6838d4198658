#include "scan/picture_checks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <set>

namespace {

uint32_t BigEndian(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

int Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

bool DecodePng(const std::string& bytes, Image& image, std::string& error) {
    image = Image();
    if (bytes.size() < 8 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        error = "no PNG signature";
        return false;
    }
    std::string compressed;
    int depth = 0, colourType = -1, interlace = 0;
    for (std::size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = BigEndian(bytes, at);
        if (at + 12 + length > bytes.size()) {
            error = "a chunk is cut short";
            return false;
        }
        const std::string type = bytes.substr(at + 4, 4);
        image.chunks.push_back(type);
        if (type == "IHDR") {
            image.width = static_cast<int>(BigEndian(bytes, at + 8));
            image.height = static_cast<int>(BigEndian(bytes, at + 12));
            depth = static_cast<uint8_t>(bytes[at + 16]);
            colourType = static_cast<uint8_t>(bytes[at + 17]);
            interlace = static_cast<uint8_t>(bytes[at + 20]);
        } else if (type == "IDAT") {
            compressed += bytes.substr(at + 8, length);
        }
        at += 12 + length;
    }
    if (depth != 8 || (colourType != 2 && colourType != 6) || interlace != 0) {
        error = "not an 8-bit RGB or RGBA picture without interlacing";
        return false;
    }
    const std::size_t channels = colourType == 6 ? 4 : 3;
    const std::size_t stride = channels * static_cast<std::size_t>(image.width);
    std::vector<uint8_t> raw((stride + 1) * static_cast<std::size_t>(image.height));
    uLongf rawLength = raw.size();
    if (uncompress(raw.data(), &rawLength, reinterpret_cast<const Bytef*>(compressed.data()),
                   compressed.size()) != Z_OK ||
        rawLength != raw.size()) {
        error = "the image data do not decompress to the picture's size";
        return false;
    }
    std::vector<uint8_t> previous(stride, 0), row(stride);
    image.rgb.reserve(3 * static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* line = &raw[static_cast<std::size_t>(y) * (stride + 1)];
        const int filter = line[0];
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= channels ? row[i - channels] : 0, b = previous[i];
            const int c = i >= channels ? previous[i - channels] : 0;
            int predicted = 0;
            switch (filter) {
                case 0: break;
                case 1: predicted = a; break;
                case 2: predicted = b; break;
                case 3: predicted = (a + b) / 2; break;
                case 4: predicted = Paeth(a, b, c); break;
                default:
                    error = "unknown row filter " + std::to_string(filter);
                    return false;
            }
            row[i] = static_cast<uint8_t>(line[1 + i] + predicted);
        }
        for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x)
            for (std::size_t k = 0; k < 3; ++k) image.rgb.push_back(row[x * channels + k]);
        previous = row;
    }
    return true;
}

bool SvgSize(const std::string& svg, std::string& width, std::string& height) {
    const std::size_t open = svg.find("<svg ");
    const std::size_t close = open == std::string::npos ? open : svg.find('>', open);
    if (close == std::string::npos) return false;
    const std::string element = svg.substr(open, close - open);
    const auto attribute = [&](const std::string& name, std::string& value) {
        const std::size_t at = element.find(" " + name + "=\"");
        if (at == std::string::npos) return false;
        const std::size_t start = at + name.size() + 3, end = element.find('"', start);
        value = element.substr(start, end - start);
        return end != std::string::npos;
    };
    return attribute("width", width) && attribute("height", height);
}

int DarkPixels(const Image& image, int firstRow, int lastRow) {
    int dark = 0;
    for (int y = std::max(firstRow, 0); y < std::min(lastRow, image.height); ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::size_t at = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                                        static_cast<std::size_t>(x));
            if (image.rgb[at] + image.rgb[at + 1] + image.rgb[at + 2] < 3 * 128) ++dark;
        }
    return dark;
}

std::size_t ColourCount(const Image& image) {
    std::set<uint32_t> colours;
    for (std::size_t at = 0; at + 2 < image.rgb.size(); at += 3)
        colours.insert(static_cast<uint32_t>(image.rgb[at] << 16 | image.rgb[at + 1] << 8 | image.rgb[at + 2]));
    return colours.size();
}

void ExpectDrawnPng(const std::string& bytes, int width, int height, const std::string& what) {
    Image image;
    std::string error;
    ASSERT_TRUE(DecodePng(bytes, image, error)) << what << ": " << error;
    EXPECT_EQ(image.width, width) << what;
    EXPECT_EQ(image.height, height) << what;
    // White, black, the traces' colours and the shades between them.
    EXPECT_GT(ColourCount(image), 10u) << what;
    // The title: a band of dark text at the top (its first 7 percent), and
    // the rest of the picture drawn too.
    EXPECT_GT(DarkPixels(image, 0, height * 7 / 100), 150) << what << ": no title";
    EXPECT_GT(DarkPixels(image, height / 10, height), 1000) << what;
    for (const std::string& chunk : image.chunks)
        EXPECT_TRUE(chunk == "IHDR" || chunk == "IDAT" || chunk == "IEND" || chunk == "bKGD")
            << what << ": a " << chunk << " chunk";
}

void ExpectDrawnSvg(const std::string& bytes, int width, int height, const std::string& what) {
    std::string w, h;
    ASSERT_TRUE(SvgSize(bytes, w, h)) << what << ": no <svg> element with a size";
    EXPECT_EQ(w, std::to_string(width)) << what;
    EXPECT_EQ(h, std::to_string(height)) << what;
    EXPECT_NE(bytes.find("viewBox=\"0 0 " + w + " " + h + "\""), std::string::npos) << what;
    // Text is drawn as glyph outlines, each used where a character stands.
    EXPECT_GT(Count(bytes, "<symbol overflow=\"visible\" id=\"glyph"), 20u) << what;
    EXPECT_GT(Count(bytes, "xlink:href=\"#glyph"), 100u) << what;
    EXPECT_GT(Count(bytes, "<path"), 30u) << what;
    EXPECT_EQ(bytes.substr(bytes.size() - 7), "</svg>\n") << what;
}
