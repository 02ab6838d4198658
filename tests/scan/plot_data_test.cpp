// What the pictures show, as data: the points, marks, labels and captions
// built from scan files and from the channel plan, before anything is drawn.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "scan/plot_data.h"
#include "scan/plots.h"
#include "scan/scan_fixtures.h"

namespace {

const std::string kSample = VMFITS_SOURCE_DIR "/samples/sun-2003-11-05";
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

ScanFileContents Parsed(const std::string& bytes) {
    ScanFileContents scan;
    std::string error;
    EXPECT_TRUE(ParseScanFile(bytes, "x.001", scan, error)) << error;
    return scan;
}

TEST(PlotData, FiniteRanges) {
    const struct {
        std::vector<double> values;
        double margin;
        bool found;
        double low, high;
    } cases[] = {
        {{1, 3, 2}, 0.0, true, 1, 3},
        {{1, 3, 2}, 0.25, true, 0.5, 3.5},
        {{kNan, 4, std::numeric_limits<double>::infinity(), -2}, 0.0, true, -2, 4},
        {{5}, 0.1, true, 4, 6},              // a single value: a span of its own
        {{200, 200}, 0.0, true, 180, 220},   // a tenth of the value on each side
        {{kNan}, 0.0, false, 0, 0},
        {{}, 0.0, false, 0, 0},
        {{-3e38, 3e38}, 0.05, true, -3.3e38, 3.3e38},
        {{-1e308, 1e308}, 0.05, true, -1e308, 1e308},  // the span overflows: no margin
    };
    for (const auto& c : cases) {
        PlotRange range;
        ASSERT_EQ(FiniteRange(c.values, c.margin, range), c.found) << c.values.size();
        if (!c.found) continue;
        EXPECT_DOUBLE_EQ(range.low, c.low);
        EXPECT_DOUBLE_EQ(range.high, c.high);
    }
}

TEST(PlotData, TicksAndTheirLabels) {
    const struct {
        PlotRange range;
        int target;
        double step;
        std::vector<std::pair<double, std::string>> labels;
    } cases[] = {
        {{-1980, 2280}, 8, 500, {{-1500, "-1500"}, {0, "0"}, {2000, "2000"}}},
        {{0, 1}, 5, 0.2, {{0.4, "0.4"}, {1, "1.0"}}},
        {{-0.003, 0.002}, 5, 0.001, {{-0.002, "-0.002"}, {1e-19, "0.000"}, {-1e-19, "0.000"}}},
        {{0, 3e9}, 3, 1e9, {{2e9, "2e+09"}, {0, "0"}}},
        {{0, 4e-6}, 4, 1e-6, {{3e-6, "3e-06"}}},
        {{-2.5e8, 2.5e8}, 5, 1e8, {{-2e8, "-2e+08"}}},
    };
    for (const auto& c : cases) {
        const AxisTicks ticks = TicksFor(c.range, c.target);
        EXPECT_DOUBLE_EQ(ticks.step, c.step) << c.range.low << " " << c.range.high;
        for (const auto& [value, label] : c.labels) EXPECT_EQ(TickLabel(value, ticks), label);
    }
    EXPECT_EQ(LongestTickLabel({-1980, 2280}, TicksFor({-1980, 2280}, 8)), 5u);  // -1500
    // Ranges without a usable step leave the ticks to the library.
    EXPECT_EQ(TicksFor({1, 1}, 5).step, 0.0);
    EXPECT_EQ(TicksFor({-1e308, 1e308}, 5).step, 0.0);
}

TEST(PlotData, WrappedLines) {
    EXPECT_EQ(WrappedLines({"short", "one two three four five six"}, 12),
              (std::vector<std::string>{"short", "one two", "  three four", "  five six"}));
    EXPECT_EQ(WrappedLines({"abcdefghijklmnopqrstuvwxyz"}, 10),
              (std::vector<std::string>{"abcdefghij", "  klmnopqr", "  stuvwxyz"}));
}

TEST(PlotData, PictureSizesAndFormats) {
    const struct {
        const char* text;
        bool ok;
        int width, height;
    } sizes[] = {
        {"1200x800", true, 1200, 800}, {"300X8000", true, 300, 8000}, {"640x480", true, 640, 480},
        {"299x800", false, 0, 0},      {"1200x8001", false, 0, 0},    {"1200x", false, 0, 0},
        {"x800", false, 0, 0},         {"12a0x800", false, 0, 0},     {"1200x800x3", false, 0, 0},
        {"", false, 0, 0},             {"+1200x800", false, 0, 0},    {" 1200x800", false, 0, 0},
        {"99999999999x800", false, 0, 0},
    };
    for (const auto& c : sizes) {
        PictureSize size;
        std::string error;
        EXPECT_EQ(ParsePictureSize(c.text, size, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(size.width, c.width);
            EXPECT_EQ(size.height, c.height);
        } else {
            EXPECT_EQ(error, "'" + std::string(c.text) +
                                 "' is not WIDTHxHEIGHT in pixels, each from 300 to 8000");
        }
    }
    EXPECT_EQ(FormatOfPath("a.svg"), PictureFormat::Svg);
    EXPECT_EQ(FormatOfPath("out/A.SVG"), PictureFormat::Svg);
    EXPECT_EQ(FormatOfPath("a.png"), PictureFormat::Png);
    EXPECT_EQ(FormatOfPath("svg"), PictureFormat::Png);
    EXPECT_EQ(FormatOfPath("a.svg.png"), PictureFormat::Png);
    // What a picture may be written as: .png or .svg in any case, nothing else.
    for (const auto& [path, ok, svg] : std::vector<std::tuple<std::string, bool, bool>>{
             {"a.PNG", true, false}, {"b/A.Svg", true, true}, {"a.jpg", false, false}, {"png", false, false},
             {"a.png.gz", false, false}, {"", false, false}}) {
        PictureFormat format = PictureFormat::Png;
        EXPECT_EQ(PictureFormatOfPath(path, format), ok) << path;
        if (ok) {
            EXPECT_EQ(format == PictureFormat::Svg, svg) << path;
        }
    }
    EXPECT_EQ(NotAPictureName("x.jpg"), "'x.jpg' does not end in .png or .svg: a picture is written as PNG or SVG");
}

TEST(PlotData, PolarisationsOfAScanFile) {
    const ScanFileContents scan = Parsed(MadeScanFile(9));
    OverviewPolarisation p = OverviewPolarisation::RR;
    for (const char* name : {"RR", "rr", "LL", "I", "v"}) EXPECT_TRUE(PolarisationFromName(name, p)) << name;
    EXPECT_EQ(p, OverviewPolarisation::V);
    for (const char* name : {"Q", "", "RRR", "R"}) EXPECT_FALSE(PolarisationFromName(name, p)) << name;

    const std::vector<double> rr = PolarisationValues(scan, OverviewPolarisation::RR);
    const std::vector<double> ll = PolarisationValues(scan, OverviewPolarisation::LL);
    const std::vector<double> i = PolarisationValues(scan, OverviewPolarisation::I);
    const std::vector<double> v = PolarisationValues(scan, OverviewPolarisation::V);
    ASSERT_EQ(rr.size(), 9u);
    for (std::size_t k = 0; k < rr.size(); ++k) {
        EXPECT_EQ(rr[k], static_cast<double>(PhysicalValue(scan.blocks[0], scan.blocks[0].values[k])));
        EXPECT_EQ(ll[k], static_cast<double>(PhysicalValue(scan.blocks[1], scan.blocks[1].values[k])));
        EXPECT_EQ(i[k], (rr[k] + ll[k]) / 2);
        EXPECT_EQ(v[k], (rr[k] - ll[k]) / 2);
    }
}

TEST(PlotData, ScanFilePicture) {
    const ScanFileContents scan = Parsed(MadeScanFile(20, "SUN\tA5 \xe9"));
    PlotPicture picture;
    std::string error;
    ASSERT_TRUE(ScanPicture(scan, "out/s05b03_05z.001", picture, error)) << error;
    EXPECT_EQ(picture.title, "SUN?A5 ?, 2003-11-05 09:05:07.250 UT, 12.500 GHz");
    ASSERT_EQ(picture.panels.size(), 1u);
    const PlotPanel& panel = picture.panels[0];
    EXPECT_EQ(panel.heading, "s05b03_05z.001");
    ASSERT_EQ(panel.traces.size(), 2u);
    // The offsets of `vm-scan data`; RR from the al block, LL from the ar block.
    for (std::size_t k = 0; k < 20; ++k) {
        EXPECT_EQ(panel.traces[0].x[k], PlaceOffset(scan, static_cast<int64_t>(k) + 1));
        EXPECT_EQ(panel.traces[0].y[k], static_cast<double>(PhysicalValue(scan.blocks[0], scan.blocks[0].values[k])));
        EXPECT_EQ(panel.traces[1].y[k], static_cast<double>(PhysicalValue(scan.blocks[1], scan.blocks[1].values[k])));
    }
    EXPECT_EQ(panel.traces[0].label, "RR (al)");
    EXPECT_EQ(panel.traces[1].label, "LL (ar)");
    EXPECT_EQ(panel.x.low, PlaceOffset(scan, 1));
    EXPECT_EQ(panel.x.high, PlaceOffset(scan, 20));
    // The meridian centre lies within; the limbs at +-961 arcsec do not.
    ASSERT_EQ(panel.lines.size(), 1u);
    EXPECT_EQ(panel.lines[0].x, 0.0);
    EXPECT_EQ(panel.legend.size(), 3u);

    // With a step of 120 arcsec about the middle the limbs are within, and marked.
    ScanFileContents wide = scan;
    wide.cdelt1 = 120.0;
    wide.pmcsun = 10.5;
    ASSERT_TRUE(ScanPicture(wide, "x", picture, error));
    ASSERT_EQ(picture.panels[0].lines.size(), 3u);
    EXPECT_EQ(picture.panels[0].lines[1].x, -961.0);
    EXPECT_EQ(picture.panels[0].lines[2].x, 961.0);
    EXPECT_EQ(picture.panels[0].legend.back().text, "optical limb (RADIUS 961 arcsec)");

    // A step of 0 or a radius of 0 leaves no offset axis: the points stand at their places.
    for (const auto& [step, radius, why] : std::vector<std::tuple<double, int, std::string>>{
             {0.0, 961, "CDELT1 is 0.0000"}, {kNan, 0, "CDELT1 is nan and RADIUS is 0"}, {2.0, -1, "RADIUS is -1"}}) {
        ScanFileContents flat = scan;
        flat.cdelt1 = step;
        flat.radius = radius;
        ASSERT_TRUE(ScanPicture(flat, "x", picture, error)) << why;
        EXPECT_EQ(picture.panels[0].traces[1].x[19], 20.0);
        EXPECT_EQ(picture.panels[0].xLabel, "Place in the scan file (1 to n): no offset axis");
        EXPECT_TRUE(picture.panels[0].lines.empty());
        EXPECT_EQ(picture.caption, std::vector<std::string>{why + ": there is no offset axis, so the points are "
                                                                  "drawn against their place in the file (1 to 20)."});
    }
}

TEST(PlotData, ScanFilesThatCannotBeDrawn) {
    const ScanFileContents good = Parsed(MadeScanFile(5));
    ScanFileContents empty = Parsed(MadeScanFile(0));
    ScanFileContents noStep = good, noValues = good, farAway = good;
    noStep.pmcsun = kNan;
    farAway.pmcsun = -1e308;
    farAway.cdelt1 = 10.0;
    noValues.blocks[0].bscale = noValues.blocks[1].bscale = kNan;
    const struct {
        const ScanFileContents* scan;
        std::string message;
    } cases[] = {
        {&empty, "x.001: the scan file holds no points to draw"},
        {&noStep, "x.001: CDELT1 and PMCSUN must be finite numbers for the offset axis"},
        {&noValues, "x.001: no value of either block is a finite number"},
        {&farAway, "x.001: the offsets CDELT1 x (place - PMCSUN) lie beyond the range of numbers"},
    };
    for (const auto& c : cases) {
        PlotPicture picture;
        std::string error;
        EXPECT_FALSE(ScanPicture(*c.scan, "x.001", picture, error));
        EXPECT_EQ(error, c.message);
        // The overview leaves it out and says why; alone, it cannot be drawn.
        const std::string message = c.message == cases[2].message ? "x.001: no I value is a finite number" : c.message;
        std::vector<NamedScan> scans{{"a/a.001", good}, {"a/x.001", *c.scan}};
        ASSERT_TRUE(OverviewPicture(scans, OverviewPolarisation::I, picture, error)) << c.message;
        EXPECT_EQ(picture.panels[0].traces.size(), 1u);
        EXPECT_EQ(picture.title.substr(picture.title.find(": ")), ": I = (RR + LL) / 2, 1 of 2 scan files");
        EXPECT_EQ(picture.caption.back(), "Left out: x.001 (" + message.substr(7) + ").");
        EXPECT_FALSE(OverviewPicture({{"x.001", *c.scan}}, OverviewPolarisation::I, picture, error));
        EXPECT_EQ(error, message);
        EXPECT_FALSE(OverviewPicture({{"x.001", *c.scan}, {"y.001", empty}}, OverviewPolarisation::I, picture, error));
        EXPECT_EQ(error, "none of the 2 scan files can be drawn; the first: " + message);
    }
}

TEST(PlotData, OverviewStacksByFrequency) {
    std::vector<NamedScan> scans;
    for (const double frequency : {5.0, 1.25, kNan, 3.0}) {
        NamedScan named{"scan", Parsed(MadeScanFile(12))};
        named.scan.obsFreq = frequency;
        scans.push_back(named);
    }
    // One value not a number: the trace is broken there.
    scans[3].scan.blocks[0].bzero = 1.0;
    PlotPicture picture;
    std::string error;
    ASSERT_TRUE(OverviewPicture(scans, OverviewPolarisation::RR, picture, error)) << error;
    EXPECT_EQ(picture.title, "SUN A15, 2003-11-05 09:05:07.250 UT: RR (al), 4 scan files");
    const PlotPanel& panel = picture.panels[0];
    std::vector<std::string> labels;
    for (const PlotSideLabel& label : panel.sideLabels) labels.push_back(label.text);
    EXPECT_EQ(labels, (std::vector<std::string>{"1.250 GHz", "3.000 GHz", "5.000 GHz", "nan GHz"}));
    EXPECT_EQ(panel.y.low, 0.0);
    EXPECT_EQ(panel.y.high, 4.0);
    EXPECT_FALSE(panel.yNumbers);
    // Each trace fills its own band from its smallest to its largest value.
    for (std::size_t k = 0; k < panel.traces.size(); ++k) {
        const std::vector<double>& y = panel.traces[k].y;
        EXPECT_DOUBLE_EQ(*std::min_element(y.begin(), y.end()), k + 0.08);
        EXPECT_DOUBLE_EQ(*std::max_element(y.begin(), y.end()), k + 0.92);
        EXPECT_DOUBLE_EQ(panel.sideLabels[k].y, k + 0.5);
    }
    // LL of the same files: another trace, the same stacking.
    PlotPicture ll;
    ASSERT_TRUE(OverviewPicture(scans, OverviewPolarisation::LL, ll, error));
    EXPECT_NE(ll.panels[0].traces[0].y, panel.traces[0].y);
    EXPECT_FALSE(OverviewPicture({}, OverviewPolarisation::RR, picture, error));
    EXPECT_EQ(error, "no scan file to draw");
}

RecordingExplanation SampleExplanation(bool third = false) {
    RecordingExplanation e;
    std::string error;
    EXPECT_TRUE(ExplainRecording(kSample + "/sun.05h", third, kSample + "/vm-fits.cfg", true, e, error));
    return e;
}

// The largest step between neighbouring samples within `reach` of `at`, not
// across it, and the step across it (from at - 1 to at + 1).
double StepAcross(const std::vector<double>& y, int at) { return std::fabs(y[at + 1] - y[at - 1]); }
double LargestStepNear(const std::vector<double>& y, int at, int reach) {
    double largest = 0.0;
    for (int i = at - reach; i < at + reach; ++i)
        if (i != at - 1 && i != at) largest = std::max(largest, std::fabs(y[i + 1] - y[i]));
    return largest;
}

// The sample's channel 1 jumps at its three markers as read, and no longer
// after the repair: that is what the picture must show.
TEST(PlotData, RepairOfTheSampleChannelOne) {
    for (const bool third : {false, true}) {
        const RecordingExplanation e = SampleExplanation(third);
        PlotPicture picture;
        std::string error;
        ASSERT_TRUE(RepairPicture(e, 1, picture, error)) << error;
        ASSERT_EQ(picture.panels.size(), 2u);
        const ChannelPlan& plan = e.channels[1];
        const PlotPanel& read = picture.panels[0];
        const PlotPanel& repaired = picture.panels[1];
        ASSERT_EQ(read.traces.size(), 2u);
        EXPECT_EQ(read.traces[0].y, std::vector<double>(plan.leftRead.begin(), plan.leftRead.end()));
        EXPECT_EQ(read.traces[1].y, std::vector<double>(plan.rightRead.begin(), plan.rightRead.end()));
        EXPECT_EQ(repaired.traces[0].y, std::vector<double>(plan.leftRepaired.begin(), plan.leftRepaired.end()));
        EXPECT_EQ(repaired.traces[1].y, std::vector<double>(plan.rightRepaired.begin(), plan.rightRepaired.end()));
        EXPECT_EQ(read.traces[0].x[2047], 2047.0);

        std::vector<double> lines;
        for (const PlotMarkLine& line : read.lines) {
            EXPECT_EQ(line.style, PlotLineStyle::Solid);
            lines.push_back(line.x);
        }
        EXPECT_EQ(lines, (std::vector<double>{178, 257, 1815}));
        for (const PlotTrace* trace : {&read.traces[0], &read.traces[1]}) {
            const std::size_t k = trace == &read.traces[0] ? 0 : 1;
            for (const int at : {178, 257, 1815}) {
                EXPECT_GT(StepAcross(trace->y, at), 10 * LargestStepNear(trace->y, at, 8)) << at;
                EXPECT_LT(StepAcross(repaired.traces[k].y, at), 3 * LargestStepNear(repaired.traces[k].y, at, 8))
                    << at << (third ? " back" : " two-sided");
            }
        }
        EXPECT_EQ(picture.title, "SUN A0, 2003-11-05: the jump repair of channel 1, 1.561 GHz");
        EXPECT_EQ(picture.caption[0].rfind(third ? "Rule: back extrapolation (a third argument). Baseline subtracted: "
                                                 : "Rule: two-sided extrapolation (no third argument). Baseline subtracted: ",
                                           0),
                  0u)
            << picture.caption[0];
        EXPECT_EQ(picture.caption[1], "Solid: the markers applied, at 178, 257, 1815.");
        EXPECT_EQ(picture.caption.size(), 2u);
    }
}

TEST(PlotData, RepairOfOtherChannels) {
    const RecordingExplanation e = SampleExplanation();
    PlotPicture picture;
    std::string error;
    const std::string header = kSample + "/sun.05h";
    const struct {
        int channel;
        std::string message;
    } refused[] = {
        {2, header + ": channel 2: disabled; vm-fits repairs no samples of it"},
        {3, header + ": channel 3: ar3 cannot be opened; vm-fits repairs no samples of it"},
        {10, header + ": channel 10: disabled; vm-fits repairs no samples of it"},
        {64, "channel 64 is not a channel number (0 to 63)"},
        {-1, "channel -1 is not a channel number (0 to 63)"},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(RepairPicture(e, c.channel, picture, error)) << c.channel;
        EXPECT_EQ(error, c.message);
    }
    // Channel 8 is repaired, but gets no scan file; channel 0's ar0 is short.
    ASSERT_TRUE(RepairPicture(e, 8, picture, error));
    EXPECT_EQ(picture.caption.back(),
              "vm-fits writes no scan file of the channel: 0.500 GHz is at or below the table's last row (0.800 GHz)");
    ASSERT_TRUE(RepairPicture(e, 0, picture, error));
    EXPECT_EQ(picture.caption.back(), "ar0 holds 1024 samples, al0 2048: LL samples 1024 to 2047 keep the repaired al values");
    // Past the end of ar0, LL is a trace of its own in both panels: the repaired al values.
    for (const PlotPanel& panel : picture.panels) {
        ASSERT_EQ(panel.traces.size(), 3u);
        EXPECT_TRUE(std::isfinite(panel.traces[1].y[1023]) && std::isnan(panel.traces[1].y[1024]));
        EXPECT_TRUE(std::isnan(panel.traces[2].y[1023]) && std::isfinite(panel.traces[2].y[2047]));
    }
    EXPECT_EQ(picture.panels[0].traces[2].y[1024], e.channels[0].leftRepaired[1024]);
    EXPECT_EQ(picture.panels[0].legend[2].text, "LL past the end of ar0: repaired al values");
}

// With its recording, the pictures of the sample's channel 0 shade the LL
// points that hold al values and list the warning.
TEST(PlotData, FlaggedPointsOfTheSample) {
    TempFolder home;
    ASSERT_EQ(Convert(home, kSample + "/sun.05h", home / "out", kSample + "/vm-fits.cfg").exitCode, 1);
    const RecordingExplanation e = SampleExplanation();
    std::vector<NamedScan> scans;
    for (const char* name : {"s05b03_05z.002", "s05b03_05z.001"}) {
        NamedScan named;
        named.name = home / ("out/" + std::string(name));
        std::string error;
        ASSERT_TRUE(ReadScanFile(named.name, named.scan, error)) << error;
        named.quality.emplace();
        ASSERT_TRUE(PictureQualityOf(e, name, named.scan, *named.quality, error)) << error;
        scans.push_back(std::move(named));
    }
    const std::string warning =
        "ar-short: ar0 holds 1024 samples, al0 2048: LL samples 1024 to 2047 keep the repaired al values";
    PlotPicture picture;
    std::string error;
    ASSERT_TRUE(ScanPicture(scans[1].scan, scans[1].name, picture, error, &*scans[1].quality));
    const PlotPanel& panel = picture.panels[0];
    // Points 0 to 1023 hold the samples 2047 to 1024.
    const std::vector<double>& x = panel.traces[1].x;
    const double half = std::fabs(x[1] - x[0]) / 2;
    ASSERT_EQ(panel.bands.size(), 1u);
    EXPECT_DOUBLE_EQ(panel.bands[0].xLow, std::max(panel.x.low, std::min(x[0], x[1023]) - half));
    EXPECT_DOUBLE_EQ(panel.bands[0].xHigh, std::min(panel.x.high, std::max(x[0], x[1023]) + half));
    EXPECT_TRUE(panel.bands[0].wholeHeight);
    EXPECT_EQ(panel.legend.back().text, "LL value taken from al (ar0 holds 1024 samples)");
    EXPECT_TRUE(panel.legend.back().box);
    EXPECT_EQ(picture.caption, std::vector<std::string>{warning});
    ASSERT_TRUE(ScanPicture(scans[0].scan, scans[0].name, picture, error, &*scans[0].quality));
    EXPECT_TRUE(picture.panels[0].bands.empty());
    EXPECT_EQ(picture.caption, std::vector<std::string>{"No warning of sun.05h concerns s05b03_05z.002."});

    // The overview shades the row of 1.168 GHz (the lowest) in LL, I and V, not in RR.
    for (const OverviewPolarisation p : {OverviewPolarisation::LL, OverviewPolarisation::V, OverviewPolarisation::RR}) {
        ASSERT_TRUE(OverviewPicture(scans, p, picture, error)) << error;
        const std::vector<PlotBand>& bands = picture.panels[0].bands;
        EXPECT_EQ(picture.caption.back(), "s05b03_05z.001: " + warning);
        if (p == OverviewPolarisation::RR) {
            EXPECT_TRUE(bands.empty());
            continue;
        }
        ASSERT_EQ(bands.size(), 1u);
        EXPECT_EQ(std::make_pair(bands[0].yLow, bands[0].yHigh), std::make_pair(0.02, 0.98));
        EXPECT_EQ(picture.panels[0].legend.back().text, "LL value taken from al (its ar file is short)");
    }
}

// However many traces the overview stacks, no two frequency labels overlap,
// and a label is left out only where the one below leaves no room.
TEST(PlotData, SideLabelsDoNotOverlap) {
    for (const auto& [count, height, drawn] :
         std::vector<std::tuple<int, double, std::size_t>>{{7, 36, 7}, {54, 36, 27}, {54, 20, 14}, {54, 90, 54}}) {
        std::vector<PlotSideLabel> labels;
        for (int k = count - 1; k >= 0; --k) labels.push_back({k + 0.5, "label"});
        const PlotRange y{0.0, static_cast<double>(count)};
        const std::vector<std::size_t> shown = SideLabelsDrawn(labels, y, height);
        EXPECT_EQ(shown.size(), drawn) << count << " in " << height;
        // Structured bindings are copied into the lambda (clang 14 cannot capture them in C++17).
        const auto at = [&labels, n = count, h = height](std::size_t i) { return labels[i].y / n * h; };
        for (std::size_t k = 0, next = 0; k < labels.size(); ++k) {
            const std::size_t i = labels.size() - 1 - k;  // from the lowest up
            if (next < shown.size() && shown[next] == i) {
                if (next > 0) {
                    EXPECT_GE(at(i) - at(shown[next - 1]), kSideLabelGap);
                }
                ++next;
            } else {
                ASSERT_GT(next, 0u);
                EXPECT_LT(at(i) - at(shown[next - 1]), kSideLabelGap);
            }
        }
    }
}

// Markers that change nothing are dashed, and their reasons are in the caption.
TEST(PlotData, MarkersThatChangeNothing) {
    TempFolder home;
    Simulate({"--out", home / "rec", "--cfg", "--seed", "6", "--channels", "1", "--samples", "300"});
    ObservationHeader h;
    ASSERT_TRUE(ReadObservationHeader(home / "rec/sun.05h", h));
    const auto tag = static_cast<int16_t>(8 * h.setup.calibrationIndex[0]);
    WriteFileBytes(home / "rec/sun.05p", Int16Bytes({1, tag, 100, tag, 0, tag, 298, tag, -1, tag, 150, tag}));
    RecordingExplanation e;
    std::string error;
    ASSERT_TRUE(ExplainRecording(home / "rec/sun.05h", false, home / "rec/vm-fits.cfg", true, e, error));
    PlotPicture picture;
    ASSERT_TRUE(RepairPicture(e, 0, picture, error)) << error;
    std::vector<std::pair<double, PlotLineStyle>> lines;
    for (const PlotMarkLine& line : picture.panels[1].lines) lines.emplace_back(line.x, line.style);
    EXPECT_EQ(lines, (std::vector<std::pair<double, PlotLineStyle>>{{1, PlotLineStyle::Dashed},
                                                                    {100, PlotLineStyle::Solid},
                                                                    {0, PlotLineStyle::Dashed},
                                                                    {298, PlotLineStyle::Dashed},
                                                                    {150, PlotLineStyle::Solid}}));
    const std::vector<std::string> expected = {
        "Solid: the markers applied, at 100, 150.",
        "Dashed: the markers that change nothing, at 1, 0, 298, -1:",
        "marker 1 changes nothing in al and ar: too close to an end of the 300 samples for two-sided "
        "extrapolation (it reads the samples from 2 before it to 2 after it)",
        "marker 298 changes nothing in al and ar: too close to an end of the 300 samples for two-sided "
        "extrapolation (it reads the samples from 2 before it to 2 after it)",
        "2 pair(s) of the channel hold position 0 or -1 and are passed over",
    };
    ASSERT_EQ(picture.caption.size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(picture.caption.begin() + 1, picture.caption.end()), expected);
    EXPECT_EQ(picture.panels[0].legend.back().text, "marker that changes nothing");

    // Many notes: the caption keeps its first lines and counts the others.
    std::vector<int16_t> many;
    for (int i = 0; i < 12; ++i) many.insert(many.end(), {static_cast<int16_t>(1), tag});
    WriteFileBytes(home / "rec/sun.05p", Int16Bytes(many));
    ASSERT_TRUE(ExplainRecording(home / "rec/sun.05h", false, home / "rec/vm-fits.cfg", true, e, error));
    ASSERT_TRUE(RepairPicture(e, 0, picture, error));
    ASSERT_EQ(picture.caption.size(), kMostCaptionLines);
    EXPECT_EQ(picture.caption.back(), "... and 8 more notes (vm-scan explain lists them all)");
}

}  // namespace
