#include "scan/plots.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

namespace {

// Colour map 0: the background, then one entry per PlotColour.
constexpr PLINT kBackground = 0;
constexpr PLINT kFirstColour = 1;
struct Rgb {
    PLINT r, g, b;
};
const Rgb kColours[] = {
    {0, 0, 0},        // Black
    {200, 30, 30},    // Red
    {30, 70, 200},    // Blue
    {0, 140, 60},     // Green
    {120, 120, 120},  // Grey
    {230, 130, 0},    // Orange
    {130, 40, 160},   // Purple
    {253, 214, 160},  // PaleOrange
    {222, 200, 238},  // PalePurple
};

PLINT ColourIndex(PlotColour colour) { return kFirstColour + static_cast<PLINT>(colour); }

// PLplot's line styles: 1 solid, 3 long dashes, 2 short dashes.
PLINT StyleIndex(PlotLineStyle style) {
    switch (style) {
        case PlotLineStyle::Solid:
            return 1;
        case PlotLineStyle::Dashed:
            return 3;
        case PlotLineStyle::Dotted:
            break;
    }
    return 2;
}

// A text for PLplot: "#" starts its escape sequences, so a "#" is doubled.
std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c;
        if (c == '#') escaped += '#';
    }
    return escaped;
}

// PLplot reports recoverable errors through the abort handler and ends the
// process through the exit handler; the handler gets no context of ours, so
// the message waits here.
std::string gAbortMessage;

void OnAbort(PLCHAR_VECTOR message) {
    if (gAbortMessage.empty()) gAbortMessage = message ? message : "unknown error";
}

int OnExit(PLCHAR_VECTOR message) {
    std::fprintf(stderr, "vm-scan: the plotting library stopped: %s\n", message ? message : "unknown error");
    return 1;
}

bool DeviceAvailable(const char* device) {
    PLCHAR_VECTOR menus[256];
    PLCHAR_VECTOR names[256];
    PLCHAR_VECTOR* menuList = menus;
    PLCHAR_VECTOR* nameList = names;
    int count = 256;
    plgDevs(&menuList, &nameList, &count);
    for (int i = 0; i < count; ++i)
        if (names[i] && std::string(names[i]) == device) return true;
    return false;
}

// Text widths are estimated from the character height: a digit of the sans
// font is about 0.9 of it wide, an average character of a text 0.7.
constexpr double kDigitWidth = 0.9;
constexpr double kTextWidth = 0.72;
constexpr double kCaptionScale = 0.9;
constexpr double kLegendTextScale = 0.85;
constexpr double kTitleScale = 1.3;

// The ticks and labels of one panel, handed to PLplot's label function.
struct PanelTicks {
    AxisTicks x, y;
};

void LabelTick(PLINT axis, PLFLT value, PLCHAR_NC_VECTOR label, PLINT length, PLPointer data) {
    const auto* ticks = static_cast<const PanelTicks*>(data);
    const std::string text = TickLabel(value, axis == PL_X_AXIS ? ticks->x : ticks->y);
    std::snprintf(label, static_cast<std::size_t>(length), "%s", text.c_str());
}

// The range of a logarithmic axis in decades (log10 of its ends).
PlotRange Decades(const PlotRange& range) {
    return {std::log10(range.low), std::log10(range.high)};
}

// A value as drawn on an axis: log10 of it on a logarithmic axis (not a
// number there when it is not above 0).
double Drawn(double value, bool logarithmic) {
    if (!logarithmic) return value;
    return value > 0.0 ? std::log10(value) : std::numeric_limits<double>::quiet_NaN();
}

// The numbers of a logarithmic axis (its range in decades) on the side
// `side` of the viewport: 1, 2 and 5 times each power of ten within it, or the
// powers of ten alone across more than two decades.
void LogNumbers(const char* side, const PlotRange& decades) {
    const double span = decades.high - decades.low;
    if (!(span > 0.0) || !std::isfinite(span)) return;
    const bool left = side[0] == 'l';
    for (int power = static_cast<int>(std::floor(decades.low)); power <= static_cast<int>(std::ceil(decades.high)); ++power) {
        for (const double m : {1.0, 2.0, 5.0}) {
            if (m > 1.0 && span > 2.2) continue;
            const double at = (std::log10(m) + power - decades.low) / span;
            if (at < -1e-9 || at > 1.0 + 1e-9) continue;
            char text[32];
            std::snprintf(text, sizeof text, "%g", m * std::pow(10.0, power));
            plmtex(side, left ? 0.6 : 1.6, at, left ? 1.0 : 0.5, text);
        }
    }
}

// Where the parts of the page go, as fractions of its width and height, and
// what each panel needs to be drawn.
struct PanelLayout {
    double bottom = 0.0, top = 1.0;
    PanelTicks ticks;
    PlotRange y;  // the panel's y range, with room for the legend on top
    int legendColumns = 1;
    double legendHeight = 0.0;  // in character heights
};

struct PageLayout {
    double lineX = 0.0, lineY = 0.0;  // one character height
    double left = 0.0, right = 1.0;
    double yLabelOffset = 1.0;  // of the y labels from the panels, in character heights
    double titleScale = kTitleScale;
    double lineWidth = 1.0;  // grows with the characters on large pictures
    std::vector<std::string> caption;  // wrapped
    std::vector<PanelLayout> panels;
};

// Legend entries side by side, in as many rows as the panel's width needs.
void LayOutLegend(const PlotPanel& panel, double panelWidth, PanelLayout& layout) {
    if (panel.legend.empty()) return;
    std::size_t longest = 0;
    for (const PlotLegendEntry& entry : panel.legend) longest = std::max(longest, entry.text.size());
    const double entryWidth = 3.0 + 2.0 + kTextWidth * kLegendTextScale * static_cast<double>(longest);
    const auto count = static_cast<int>(panel.legend.size());
    int columns = count;
    while (columns > 1 && columns * entryWidth + 1.0 > panelWidth) --columns;
    const int rows = (count + columns - 1) / columns;
    layout.legendColumns = columns;
    layout.legendHeight = 1.6 * rows + 0.8;
}

PageLayout LayOut(const PlotPicture& picture, const PictureSize& size) {
    PageLayout layout;
    PLFLT defaultHeight = 0.0, height = 0.0, xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;
    plgchr(&defaultHeight, &height);
    plgspa(&xmin, &xmax, &ymin, &ymax);
    layout.lineX = height / (xmax - xmin);
    layout.lineY = height / (ymax - ymin);
    const double pageWidth = 1.0 / layout.lineX, pageHeight = 1.0 / layout.lineY;  // in character heights

    // The title made smaller when it would not fit; the caption wrapped.
    const double titleWidth = kTextWidth * static_cast<double>(picture.title.size());
    if (titleWidth * layout.titleScale > 0.96 * pageWidth)
        layout.titleScale = std::max(0.6, 0.96 * pageWidth / titleWidth);
    const auto captionWidth =
        static_cast<std::size_t>(std::max(10.0, 0.97 * pageWidth / (kTextWidth * kCaptionScale)));
    layout.caption = WrappedLines(picture.caption, captionWidth);

    // Vertically: the title, each panel under its heading with its numbers
    // below, the caption at the bottom.
    const double top = 1.0 - layout.lineY * (picture.title.empty() ? 1.0 : 1.0 + 1.9 * layout.titleScale);
    const double bottom =
        layout.lineY * (picture.panels.back().xLabel.empty() ? 3.0 : 4.6) +
        layout.lineY * (0.3 + 1.5 * kCaptionScale * static_cast<double>(layout.caption.size()));
    const auto below = [&](const PlotPanel& panel) { return layout.lineY * (panel.xLabel.empty() ? 2.4 : 4.0); };
    double space = top - bottom;
    for (std::size_t i = 0; i < picture.panels.size(); ++i) {
        if (!picture.panels[i].heading.empty()) space -= 1.6 * layout.lineY;
        if (i + 1 < picture.panels.size()) space -= below(picture.panels[i]);
    }
    const double each = std::max(space / static_cast<double>(picture.panels.size()), 2.0 * layout.lineY);
    const int yTarget = std::clamp(static_cast<int>(each * size.height / 90), 2, 8);

    // Horizontally: the side labels at the right; the legend in rows as the
    // width allows (judged before the y numbers are known), with room above
    // the data; then the y numbers and label at the left.
    std::size_t sideLength = 0;
    for (const PlotPanel& panel : picture.panels)
        for (const PlotSideLabel& label : panel.sideLabels) sideLength = std::max(sideLength, label.text.size());
    layout.right = 1.0 - layout.lineX * (sideLength > 0 ? 1.6 + kDigitWidth * static_cast<double>(sideLength) : 2.5);
    std::size_t yNumberLength = 0;
    double at = top;
    for (const PlotPanel& panel : picture.panels) {
        PanelLayout p;
        if (!panel.heading.empty()) at -= 1.6 * layout.lineY;
        p.top = at;
        p.bottom = at - each;
        at = p.bottom - below(panel);
        LayOutLegend(panel, (layout.right - 10.0 * layout.lineX) * pageWidth, p);
        p.y = panel.yLog ? Decades(panel.y) : panel.y;
        const double legendShare = (p.legendHeight + 0.3) / (each * pageHeight);
        if (p.legendHeight > 0.0 && legendShare < 0.5)
            p.y.high = p.y.low + (p.y.high - p.y.low) / (1.0 - legendShare);
        p.ticks.y = panel.yLog ? AxisTicks() : TicksFor(p.y, std::max(yTarget, panel.yTicks));
        if (panel.yNumbers) yNumberLength = std::max(yNumberLength, LongestTickLabel(p.y, p.ticks.y));
        layout.panels.push_back(p);
    }
    layout.yLabelOffset = yNumberLength > 0 ? 1.0 + kDigitWidth * static_cast<double>(yNumberLength) : 1.0;
    layout.left = layout.lineX * (layout.yLabelOffset + 1.6);
    const double widthPixels = (layout.right - layout.left) * size.width;
    for (std::size_t i = 0; i < picture.panels.size(); ++i)
        if (!picture.panels[i].xLog)
            layout.panels[i].ticks.x = TicksFor(picture.panels[i].x, std::clamp(static_cast<int>(widthPixels / 130), 2, 12));
    return layout;
}

void DrawTrace(const PlotTrace& trace, bool xLog, bool yLog) {
    plcol0(ColourIndex(trace.colour));
    pllsty(StyleIndex(trace.style));
    std::vector<PLFLT> x, y;
    if (trace.marked || !trace.yLow.empty()) {
        for (std::size_t i = 0; i < trace.x.size() && i < trace.y.size(); ++i) {
            PLFLT at = Drawn(trace.x[i], xLog), value = Drawn(trace.y[i], yLog);
            if (!std::isfinite(at) || !std::isfinite(value)) continue;
            if (trace.marked) plpoin(1, &at, &value, 17);
            if (i >= trace.yLow.size() || i >= trace.yHigh.size()) continue;
            PLFLT low = Drawn(trace.yLow[i], yLog), high = Drawn(trace.yHigh[i], yLog);
            if (yLog && !std::isfinite(low)) low = value - 3.0;  // reaches below the axis
            if (std::isfinite(low) && std::isfinite(high)) plerry(1, &at, &low, &high);
        }
    }
    const auto flush = [&]() {
        if (x.size() > 1) plline(static_cast<PLINT>(x.size()), x.data(), y.data());
        if (x.size() == 1) plpoin(1, x.data(), y.data(), 1);
        x.clear();
        y.clear();
    };
    for (std::size_t i = 0; i < trace.x.size() && i < trace.y.size(); ++i) {
        const double at = Drawn(trace.x[i], xLog), value = Drawn(trace.y[i], yLog);
        if (std::isfinite(at) && std::isfinite(value)) {
            x.push_back(at);
            y.push_back(value);
        } else {
            flush();
        }
    }
    flush();
}

void DrawLegend(const std::vector<PlotLegendEntry>& entries, const PanelLayout& panel,
                const PageLayout& page, double scale) {
    if (entries.empty()) return;
    const auto n = static_cast<PLINT>(entries.size());
    const PLINT columns = panel.legendColumns, rows = (n + columns - 1) / columns;
    std::vector<std::string> texts;
    std::vector<PLCHAR_VECTOR> textPointers;
    std::vector<PLINT> options, textColours, lineColours, lineStyles, boxColours, boxPatterns;
    std::vector<PLFLT> lineWidths(entries.size(), 1.5 * page.lineWidth), boxScales(entries.size(), 0.8),
        boxLineWidths(entries.size(), 1.0);
    for (const PlotLegendEntry& entry : entries) texts.push_back(Escaped(entry.text));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        options.push_back(entries[i].box ? PL_LEGEND_COLOR_BOX : PL_LEGEND_LINE);
        textPointers.push_back(texts[i].c_str());
        textColours.push_back(ColourIndex(PlotColour::Black));
        lineColours.push_back(ColourIndex(entries[i].colour));
        lineStyles.push_back(StyleIndex(entries[i].style));
        boxColours.push_back(ColourIndex(entries[i].colour));
        boxPatterns.push_back(0);
    }
    PLFLT width = 0.0, height = 0.0;
    pllsty(1);
    pllegend(&width, &height, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX | PL_LEGEND_ROW_MAJOR,
             PL_POSITION_VIEWPORT | PL_POSITION_INSIDE | PL_POSITION_TOP | PL_POSITION_RIGHT, 0.005, 0.01,
             3.0 * page.lineX, kBackground, ColourIndex(PlotColour::Black), 1, rows, columns, n, options.data(),
             1.0, kLegendTextScale * scale, 1.6, 0.0, textColours.data(), textPointers.data(), boxColours.data(),
             boxPatterns.data(), boxScales.data(), boxLineWidths.data(), lineColours.data(), lineStyles.data(),
             lineWidths.data(), nullptr, nullptr, nullptr, nullptr);
}

void DrawPanel(const PlotPanel& panel, const PageLayout& page, std::size_t index, double scale) {
    const PanelLayout& layout = page.panels[index];
    plvpor(page.left, page.right, layout.bottom, layout.top);
    const PlotRange x = panel.xLog ? Decades(panel.x) : panel.x;
    plwind(x.low, x.high, layout.y.low, layout.y.high);
    // The shading first, under the frame, the ticks and the traces.
    for (const PlotBand& band : panel.bands) {
        const double low = band.wholeHeight ? layout.y.low : band.yLow;
        const double high = band.wholeHeight ? layout.y.high : band.yHigh;
        PLFLT xs[4] = {band.xLow, band.xHigh, band.xHigh, band.xLow}, ys[4] = {low, low, high, high};
        plcol0(ColourIndex(band.colour));
        plpsty(0);
        plfill(4, xs, ys);
    }
    plcol0(ColourIndex(PlotColour::Black));
    pllsty(1);
    plwidth(page.lineWidth);
    plslabelfunc(LabelTick, const_cast<PanelTicks*>(&layout.ticks));
    const bool xCustom = layout.ticks.x.step > 0.0, yCustom = layout.ticks.y.step > 0.0;
    // A logarithmic axis carries its numbers at 1, 2 and 5 times the powers of ten (LogNumbers).
    const std::string xOptions = panel.xLog ? "bcstl" : std::string("bcnst") + (xCustom ? "o" : "");
    const std::string yOptions = !panel.yNumbers ? "bc" : panel.yLog ? "bcstvl" : std::string("bcnstv") + (yCustom ? "o" : "");
    plbox(xOptions.c_str(), layout.ticks.x.step, 0, yOptions.c_str(), panel.yNumbers ? layout.ticks.y.step : 0.0, 0);
    plslabelfunc(nullptr, nullptr);
    // Labels longer than the panel's side are made smaller to fit it.
    const double width = (page.right - page.left) / page.lineX, height = (layout.top - layout.bottom) / page.lineY;
    const auto label = [&](const char* side, double disp, double pos, double just, const std::string& text,
                           double room) {
        if (text.empty()) return;
        const double needed = kTextWidth * static_cast<double>(text.size());
        plschr(0.0, scale * std::clamp(room / needed, 0.5, 1.0));
        plmtex(side, disp, pos, just, Escaped(text).c_str());
        plschr(0.0, scale);
    };
    if (panel.xLog) LogNumbers("b", x);
    if (panel.yLog && panel.yNumbers) LogNumbers("lv", layout.y);
    label("t", 0.6, 0.0, 0.0, panel.heading, width);
    label("b", 3.2, 0.5, 0.5, panel.xLabel, width);
    label("l", page.yLabelOffset, 0.5, 0.5, panel.yLabel, height);
    for (const std::size_t i : SideLabelsDrawn(panel.sideLabels, layout.y, height)) {
        const PlotSideLabel& label = panel.sideLabels[i];
        const double at = (label.y - layout.y.low) / (layout.y.high - layout.y.low);
        plmtex("rv", 0.8, at, 0.0, Escaped(label.text).c_str());
    }

    plwidth(1.3 * page.lineWidth);
    for (const PlotMarkLine& line : panel.lines) {
        plcol0(ColourIndex(line.colour));
        pllsty(StyleIndex(line.style));
        const double at = Drawn(line.x, panel.xLog);
        if (std::isfinite(at)) pljoin(at, layout.y.low, at, layout.y.high);
    }
    for (const PlotTrace& trace : panel.traces) DrawTrace(trace, panel.xLog, panel.yLog);
    plwidth(page.lineWidth);
    DrawLegend(panel.legend, layout, page, scale);
}

// The page's title above the panels and the caption below them.
void DrawTexts(const PlotPicture& picture, const PageLayout& layout, double scale) {
    plvpor(0.0, 1.0, 0.0, 1.0);
    plwind(0.0, 1.0, 0.0, 1.0);
    plcol0(ColourIndex(PlotColour::Black));
    pllsty(1);
    if (!picture.title.empty()) {
        plschr(0.0, scale * layout.titleScale);
        plmtex("t", -1.5, 0.5, 0.5, Escaped(picture.title).c_str());
    }
    plschr(0.0, scale * kCaptionScale);
    const auto lines = static_cast<double>(layout.caption.size());
    for (std::size_t i = 0; i < layout.caption.size(); ++i) {
        const double disp = -(1.5 * (lines - static_cast<double>(i)) - 0.7);
        plmtex("b", disp, 0.015, 0.0, Escaped(layout.caption[i]).c_str());
    }
    plschr(0.0, scale);
}

// Replaces the first `from` in `text` between `begin` and `end` by `to`.
void ReplaceWithin(std::string& text, std::size_t begin, std::size_t end, const std::string& from,
                   const std::string& to) {
    const std::size_t at = text.find(from, begin);
    if (at != std::string::npos && at + from.size() <= end) text.replace(at, from.size(), to);
}

// The cairo SVG writer gives its pages an id from a counter of the whole
// process, and sizes the picture in points. The ids are numbered from 1 in
// the order they appear, and the size is given in pixels, as asked.
void SettleSvg(std::string& svg, const PictureSize& size) {
    const std::size_t open = svg.find("<svg");
    const std::size_t close = open == std::string::npos ? open : svg.find('>', open);
    if (close != std::string::npos) {
        const std::string w = std::to_string(size.width), h = std::to_string(size.height);
        ReplaceWithin(svg, open, close, "width=\"" + w + "pt\"", "width=\"" + w + "\"");
        const std::size_t close2 = svg.find('>', open);
        ReplaceWithin(svg, open, close2, "height=\"" + h + "pt\"", "height=\"" + h + "\"");
    }
    const std::string word = "surface";
    std::map<std::string, std::string> renumbered;
    std::string settled;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = svg.find(word, pos);
        if (at == std::string::npos) break;
        std::size_t end = at + word.size();
        while (end < svg.size() && std::isdigit(static_cast<unsigned char>(svg[end]))) ++end;
        const bool isId = end > at + word.size() && at > 0 && (svg[at - 1] == '"' || svg[at - 1] == '#');
        settled.append(svg, pos, at - pos);
        if (isId) {
            const std::string number = svg.substr(at + word.size(), end - at - word.size());
            auto found = renumbered.find(number);
            if (found == renumbered.end())
                found = renumbered.emplace(number, std::to_string(renumbered.size() + 1)).first;
            settled += word + found->second;
        } else {
            settled.append(svg, at, end - at);
        }
        pos = end;
    }
    settled.append(svg, pos, std::string::npos);
    svg.swap(settled);
}

}  // namespace

bool ParsePictureSize(const std::string& text, PictureSize& size, std::string& error) {
    const std::size_t x = text.find_first_of("xX");
    const auto side = [](const std::string& digits, int& value) {
        if (digits.empty() || digits.size() > 6) return false;
        for (const char c : digits)
            if (c < '0' || c > '9') return false;
        value = std::stoi(digits);
        return value >= kSmallestPictureSide && value <= kLargestPictureSide;
    };
    PictureSize parsed;
    if (x == std::string::npos || !side(text.substr(0, x), parsed.width) ||
        !side(text.substr(x + 1), parsed.height)) {
        error = "'" + PictureText(text, 40) + "' is not WIDTHxHEIGHT in pixels, each from " +
                std::to_string(kSmallestPictureSide) + " to " + std::to_string(kLargestPictureSide);
        return false;
    }
    size = parsed;
    return true;
}

AxisTicks TicksFor(const PlotRange& range, int target) {
    AxisTicks ticks;
    const double span = range.high - range.low;
    if (!(span > 0.0) || !std::isfinite(span) || target < 1) return ticks;
    const double raw = span / target;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normal = raw / magnitude;
    ticks.step = (normal < 1.5 ? 1.0 : normal < 3.0 ? 2.0 : normal < 7.0 ? 5.0 : 10.0) * magnitude;
    if (!std::isfinite(ticks.step) || !(ticks.step > 0.0)) return AxisTicks();
    const double largest = std::max(std::fabs(range.low), std::fabs(range.high));
    const int stepExponent = static_cast<int>(std::floor(std::log10(ticks.step) + 1e-9));
    if (largest >= 1e7 || ticks.step < 1e-4) {
        const int largestExponent = static_cast<int>(std::floor(std::log10(largest)));
        ticks.significant = std::clamp(largestExponent - stepExponent + 1, 1, 6);
    } else {
        ticks.decimals = std::max(0, -stepExponent);
    }
    return ticks;
}

std::string TickLabel(double value, const AxisTicks& ticks) {
    if (ticks.step > 0.0 && std::fabs(value) < ticks.step * 1e-6) value = 0.0;  // never "-0"
    char text[64];
    if (ticks.significant > 0) {
        std::snprintf(text, sizeof text, "%.*g", ticks.significant, value);
    } else {
        std::snprintf(text, sizeof text, "%.*f", ticks.decimals, value);
    }
    return text;
}

std::size_t LongestTickLabel(const PlotRange& range, const AxisTicks& ticks) {
    if (!(ticks.step > 0.0)) return 8;  // the library's own labels
    std::size_t longest = 1;
    const double first = std::ceil(range.low / ticks.step);
    for (int i = 0; i < 100; ++i) {
        const double value = (first + i) * ticks.step;
        if (value > range.high) break;
        longest = std::max(longest, TickLabel(value, ticks).size());
    }
    return longest;
}

std::vector<std::string> WrappedLines(const std::vector<std::string>& lines, std::size_t width) {
    std::vector<std::string> wrapped;
    width = std::max<std::size_t>(width, 10);
    for (std::string line : lines) {
        while (line.size() > width) {
            std::size_t cut = line.rfind(' ', width);
            if (cut == std::string::npos || cut < width / 2) cut = width;
            wrapped.push_back(line.substr(0, cut));
            line.erase(0, line[cut] == ' ' ? cut + 1 : cut);
            line.insert(0, "  ");
        }
        wrapped.push_back(line);
    }
    return wrapped;
}

bool PictureFormatOfPath(const std::string& path, PictureFormat& format) {
    std::string end = path.size() < 4 ? std::string() : path.substr(path.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (end != ".png" && end != ".svg") return false;
    format = end == ".svg" ? PictureFormat::Svg : PictureFormat::Png;
    return true;
}

std::string NotAPictureName(const std::string& path) {
    return "'" + PictureText(path, 200) + "' does not end in .png or .svg: a picture is written as PNG or SVG";
}

std::vector<std::size_t> SideLabelsDrawn(const std::vector<PlotSideLabel>& labels, const PlotRange& y,
                                         double height) {
    std::vector<std::size_t> order(labels.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return labels[a].y < labels[b].y; });
    const double span = y.high - y.low;
    std::vector<std::size_t> drawn;
    double last = 0.0;
    for (const std::size_t i : order) {
        const double at = (labels[i].y - y.low) / span * height;  // in character heights
        if (!std::isfinite(at)) continue;
        if (!drawn.empty() && at - last < kSideLabelGap) continue;
        drawn.push_back(i);
        last = at;
    }
    return drawn;
}

PictureFormat FormatOfPath(const std::string& path) {
    if (path.size() < 4) return PictureFormat::Png;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".svg" ? PictureFormat::Svg : PictureFormat::Png;
}

bool DrawPicture(const PlotPicture& picture, const PictureSize& size, PictureFormat format,
                 std::string& bytes, std::string& error) {
    const char* device = format == PictureFormat::Svg ? "svgcairo" : "pngcairo";
    if (picture.panels.empty()) {
        error = "the picture has no panel to draw";
        return false;
    }
    plsexit(OnExit);
    plsabort(OnAbort);
    if (!DeviceAvailable(device)) {
        error = std::string("the plotting library has no ") + device +
                " device (is plplot-driver-cairo installed?)";
        return false;
    }
    // The same font on every machine that has it, unless one is asked for.
    setenv("PLPLOT_FREETYPE_SANS_FAMILY", "DejaVu Sans", 0);

    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* stream = open_memstream(&buffer, &length);
    if (!stream) {
        error = "no memory for the picture";
        return false;
    }
    gAbortMessage.clear();
    plsdev(device);
    plsfile(stream);  // closed by plend
    plspage(0.0, 0.0, size.width, size.height, 0, 0);
    plscmap0n(16);
    plscolbg(255, 255, 255);
    for (std::size_t i = 0; i < sizeof kColours / sizeof kColours[0]; ++i)
        plscol0(kFirstColour + static_cast<PLINT>(i), kColours[i].r, kColours[i].g, kColours[i].b);
    plinit();
    pladv(0);
    // Characters 15 pixels high at 1200x800 and in proportion at other
    // sizes, but never below 10 pixels.
    PLFLT defaultHeight = 0.0, height = 0.0, xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;
    plgchr(&defaultHeight, &height);
    plgspa(&xmin, &xmax, &ymin, &ymax);
    const double defaultPixels = defaultHeight / (xmax - xmin) * size.width;
    const double pixels = std::max(10.0, 15.0 * std::min(size.width / 1200.0, size.height / 800.0));
    const double scale = defaultPixels > 0.0 ? pixels / defaultPixels : 1.0;
    plschr(0.0, scale);
    plsxax(7, 0);
    plsyax(7, 0);
    PageLayout layout = LayOut(picture, size);
    layout.lineWidth = std::max(1.0, pixels / 15.0);
    for (std::size_t i = 0; i < picture.panels.size(); ++i) DrawPanel(picture.panels[i], layout, i, scale);
    DrawTexts(picture, layout, scale);
    plend();

    bytes.assign(buffer ? buffer : "", length);
    std::free(buffer);
    if (!gAbortMessage.empty()) {
        error = "the plotting library failed: " + gAbortMessage;
        return false;
    }
    if (format == PictureFormat::Svg) SettleSvg(bytes, size);
    return true;
}

bool WritePicture(const PlotPicture& picture, const PictureSize& size, const std::string& path,
                  std::string& error) {
    PictureFormat format = PictureFormat::Png;
    if (!PictureFormatOfPath(path, format)) {
        error = NotAPictureName(path);
        return false;
    }
    std::string bytes;
    if (!DrawPicture(picture, size, format, bytes, error)) return false;
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = "Can't create " + path;
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "Can't write " + path;
        return false;
    }
    return true;
}
