#include "scan/plot_data.h"
#include "platform/paths.h"
#include "output/scan_output.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace {

const char* const kSignalLabel = "Signal [recorder units]";

std::string Ghz(double frequency) { return PictureText(FormattedNumber("%.3f GHz", frequency), 40); }

const char* const kPlaceLabel = "Place in the scan file (1 to n): no offset axis";

// Why a scan file has no offset axis ("CDELT1 is 0.0000 and RADIUS is 0"),
// or nothing when it has one.
std::string NoOffsetAxis(const ScanFileContents& scan) {
    std::vector<std::string> why;
    if (StepIsDegenerate(static_cast<float>(scan.cdelt1))) why.push_back(FormattedNumber("CDELT1 is %.4f", scan.cdelt1));
    if (RadiusIsDegenerate(scan.radius)) why.push_back("RADIUS is " + std::to_string(scan.radius));
    return why.empty() ? std::string() : why.size() == 1 ? why[0] : why[0] + " and " + why[1];
}

// The places 1 to n.
std::vector<double> Places(const ScanFileContents& scan) {
    std::vector<double> x;
    for (int64_t place = 1; place <= scan.naxis1; ++place) x.push_back(static_cast<double>(place));
    return x;
}

// The x of the points of a scan file: the offsets of the places 1 to n, as
// `vm-scan data` prints them, or the places themselves when the file has no
// offset axis. False with the reason (without the file's name) when the
// points cannot be drawn.
bool PointsX(const ScanFileContents& scan, std::vector<double>& x, std::string& reason) {
    if (scan.naxis1 == 0) {
        reason = "the scan file holds no points to draw";
        return false;
    }
    if (!NoOffsetAxis(scan).empty()) {
        x = Places(scan);
        return true;
    }
    if (!std::isfinite(scan.pmcsun)) {
        reason = "CDELT1 and PMCSUN must be finite numbers for the offset axis";
        return false;
    }
    x.clear();
    for (int64_t place = 1; place <= scan.naxis1; ++place) x.push_back(PlaceOffset(scan, place));
    PlotRange range;
    if (!FiniteRange(x, 0.0, range)) {
        reason = "the offsets CDELT1 x (place - PMCSUN) lie beyond the range of numbers";
        return false;
    }
    return true;
}

// "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

std::vector<double> BlockValues(const ScanBlock& block) {
    std::vector<double> values;
    for (const int16_t v : block.values) values.push_back(static_cast<double>(PhysicalValue(block, v)));
    return values;
}

std::vector<double> Joined(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// The meridian centre and, when the radius is known, the optical limbs, where
// they fall within `x`; with their legend entries.
void MarkTheDisk(const ScanFileContents& scan, PlotPanel& panel, bool inLegend) {
    const auto within = [&](double x) { return x >= panel.x.low && x <= panel.x.high; };
    if (within(0.0)) {
        panel.lines.push_back({0.0, PlotColour::Black, PlotLineStyle::Dotted});
        if (inLegend) panel.legend.push_back({"meridian centre (PMCSUN)", PlotColour::Black, PlotLineStyle::Dotted});
    }
    const double radius = scan.radius;
    if (radius <= 0.0 || (!within(-radius) && !within(radius))) return;
    for (const double x : {-radius, radius})
        if (within(x)) panel.lines.push_back({x, PlotColour::Grey, PlotLineStyle::Dashed});
    if (inLegend)
        panel.legend.push_back({"optical limb (RADIUS " + std::to_string(scan.radius) + " arcsec)",
                                PlotColour::Grey, PlotLineStyle::Dashed});
}

// The first kMostCaptionLines - 1 lines and a count of the others.
void LimitCaption(std::vector<std::string>& caption) {
    if (caption.size() <= kMostCaptionLines) return;
    const std::size_t more = caption.size() - (kMostCaptionLines - 1);
    caption.resize(kMostCaptionLines - 1);
    caption.push_back("... and " + std::to_string(more) + " more notes (vm-scan explain lists them all)");
}

std::string JoinPositions(const std::vector<int>& positions) {
    std::string text;
    for (std::size_t i = 0; i < positions.size(); ++i) text += (i ? ", " : "") + std::to_string(positions[i]);
    return text;
}

std::vector<double> AsDoubles(const std::vector<float>& samples) {
    return std::vector<double>(samples.begin(), samples.end());
}

}  // namespace

const char* const kOffsetLabel = "Offset from the meridian centre [arcsec]";

std::string PictureDate(int year, int month, int day) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

std::string ObservationOf(const ScanFileContents& scan) {
    return PictureText(scan.object) + ", " + PictureDate(scan.year, scan.month, scan.day) + " " +
           PictureText(scan.timeObs, 20) + " UT";
}

bool FiniteRange(const std::vector<double>& values, double margin, PlotRange& range) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (low > high) return false;
    const double span = high - low;
    if (span == 0.0) {
        const double pad = std::max(std::fabs(low) * 0.1, 1.0);
        range = {low - pad, high + pad};
    } else if (std::isfinite(span) && std::isfinite(span * margin)) {
        range = {low - span * margin, high + span * margin};
    } else {
        range = {low, high};
    }
    return true;
}

bool ScanPicture(const ScanFileContents& scan, const std::string& name, PlotPicture& picture,
                 std::string& error, const PictureQuality* quality) {
    picture = PlotPicture();
    PlotPanel panel;
    std::vector<double> x;
    std::string reason;
    if (!PointsX(scan, x, reason)) {
        error = name + ": " + reason;
        return false;
    }
    const std::vector<double> rr = BlockValues(scan.blocks[0]), ll = BlockValues(scan.blocks[1]);
    if (!FiniteRange(Joined(rr, ll), 0.05, panel.y)) {
        error = name + ": no value of either block is a finite number";
        return false;
    }
    FiniteRange(x, 0.0, panel.x);
    picture.title = ObservationOf(scan) + ", " + Ghz(scan.obsFreq);
    panel.heading = PictureText(FileNameOfPath(name));
    const std::string noAxis = NoOffsetAxis(scan);
    panel.xLabel = noAxis.empty() ? kOffsetLabel : kPlaceLabel;
    panel.yLabel = kSignalLabel;
    panel.traces.push_back({"RR (al)", PlotColour::Red, PlotLineStyle::Solid, x, rr});
    panel.traces.push_back({"LL (ar)", PlotColour::Blue, PlotLineStyle::Solid, x, ll});
    for (const PlotTrace& trace : panel.traces) panel.legend.push_back({trace.label, trace.colour, trace.style});
    if (noAxis.empty()) {
        MarkTheDisk(scan, panel, true);
    } else {
        picture.caption.push_back(noAxis + ": there is no offset axis, so the points are drawn against their place "
                                           "in the file (1 to " + std::to_string(scan.naxis1) + ").");
    }
    if (quality) {
        for (int i = 0; i < kQualityFlagCount; ++i) {
            const QualityFlag flag = kQualityFlagNames[i].flag;
            bool shaded = false;
            for (const int block : {0, 1})
                shaded = ShadeFlaggedPoints(quality->quality.flags[block], flag, x, true, 0.0, 0.0, panel) || shaded;
            if (shaded) AddFlagLegend(panel, flag, quality);
        }
        const std::vector<std::string> warnings = WarningCaption(*quality, true, "");
        if (warnings.empty())
            picture.caption.push_back("No warning of " + PictureText(quality->headerName) + " concerns " +
                                      PictureText(quality->scanName) + ".");
        picture.caption.insert(picture.caption.end(), warnings.begin(), warnings.end());
        LimitCaption(picture.caption);
    }
    picture.panels.push_back(panel);
    return true;
}

const char* PolarisationName(OverviewPolarisation polarisation) {
    // In the order of OverviewPolarisation.
    static const char* const kNames[] = {"RR", "LL", "I", "V"};
    return kNames[static_cast<int>(polarisation)];
}

bool PolarisationFromName(const std::string& name, OverviewPolarisation& polarisation) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const OverviewPolarisation p : {OverviewPolarisation::RR, OverviewPolarisation::LL,
                                         OverviewPolarisation::I, OverviewPolarisation::V}) {
        if (upper == PolarisationName(p)) {
            polarisation = p;
            return true;
        }
    }
    return false;
}

std::vector<double> PolarisationValues(const ScanFileContents& scan, OverviewPolarisation polarisation) {
    const std::vector<double> rr = BlockValues(scan.blocks[0]), ll = BlockValues(scan.blocks[1]);
    if (polarisation == OverviewPolarisation::RR) return rr;
    if (polarisation == OverviewPolarisation::LL) return ll;
    std::vector<double> values(rr.size());
    const double sign = polarisation == OverviewPolarisation::I ? 1.0 : -1.0;
    for (std::size_t i = 0; i < rr.size(); ++i) values[i] = (rr[i] + sign * ll[i]) / 2.0;
    return values;
}

bool OverviewPicture(const std::vector<NamedScan>& scans, OverviewPolarisation polarisation,
                     PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    if (scans.empty()) {
        error = "no scan file to draw";
        return false;
    }
    // Lowest frequency at the bottom; a frequency that is not a number last.
    std::vector<std::size_t> order(scans.size());
    std::iota(order.begin(), order.end(), 0);
    const auto key = [&](std::size_t i) {
        const double f = scans[i].scan.obsFreq;
        return std::isnan(f) ? std::numeric_limits<double>::infinity() : f;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });

    // The scan files that can be drawn, and why each of the others cannot.
    struct Drawn {
        std::size_t index;
        std::vector<double> x, values;
    };
    std::vector<Drawn> drawn;
    std::vector<std::pair<std::string, std::vector<std::string>>> leftOut;  // reason, the files
    std::string firstError;
    std::vector<std::string> noAxis;  // the files without an offset axis
    std::string noAxisWhy;
    for (const std::size_t i : order) {
        const NamedScan& named = scans[i];
        Drawn d{i, {}, PolarisationValues(named.scan, polarisation)};
        std::string reason;
        PlotRange own;
        if (PointsX(named.scan, d.x, reason) && !FiniteRange(d.values, 0.0, own))
            reason = std::string("no ") + PolarisationName(polarisation) + " value is a finite number";
        if (reason.empty()) {
            const std::string why = NoOffsetAxis(named.scan);
            if (!why.empty()) {
                if (noAxis.empty()) noAxisWhy = why;
                noAxis.push_back(PictureText(FileNameOfPath(named.name)));
            }
            drawn.push_back(std::move(d));
            continue;
        }
        if (firstError.empty()) firstError = named.name + ": " + reason;
        auto found = std::find_if(leftOut.begin(), leftOut.end(), [&](const auto& r) { return r.first == reason; });
        if (found == leftOut.end()) found = leftOut.insert(leftOut.end(), {reason, {}});
        found->second.push_back(PictureText(FileNameOfPath(named.name)));
    }
    if (drawn.empty()) {
        error = scans.size() == 1 ? firstError
                                  : "none of the " + std::to_string(scans.size()) +
                                        " scan files can be drawn; the first: " + firstError;
        return false;
    }

    const PlotColour colours[] = {PlotColour::Red, PlotColour::Blue, PlotColour::Black, PlotColour::Purple};
    const PlotColour colour = colours[static_cast<int>(polarisation)];
    // The flags of a trace: RR of the al block, LL of the ar block, I and V of both.
    const int block = polarisation == OverviewPolarisation::RR ? 0 : polarisation == OverviewPolarisation::LL ? 1 : -1;
    PlotPanel panel;
    std::vector<double> allX;
    std::vector<std::vector<uint8_t>> flagsOfRows;
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        Drawn& d = drawn[k];
        const NamedScan& named = scans[d.index];
        // Without an offset axis in one of them, every trace is drawn against the place.
        if (!noAxis.empty()) d.x = Places(named.scan);
        PlotTrace trace;
        trace.colour = colour;
        trace.x = d.x;
        PlotRange own;
        FiniteRange(d.values, 0.0, own);
        // Each trace fills most of its own band, from its smallest to its largest value.
        const double base = static_cast<double>(k);
        for (const double v : d.values) {
            const double scaled = (v - own.low) / (own.high - own.low);
            trace.y.push_back(std::isfinite(scaled) ? base + 0.08 + 0.84 * scaled
                                                    : std::numeric_limits<double>::quiet_NaN());
        }
        allX.insert(allX.end(), trace.x.begin(), trace.x.end());
        panel.sideLabels.push_back({base + 0.5, Ghz(named.scan.obsFreq)});
        panel.traces.push_back(std::move(trace));
    }
    FiniteRange(allX, 0.0, panel.x);
    panel.y = {0.0, static_cast<double>(drawn.size())};
    panel.yNumbers = false;
    panel.xLabel = noAxis.empty() ? kOffsetLabel : kPlaceLabel;
    panel.yLabel = "Frequency (each trace scaled to its own range)";

    // The flagged points of each trace, shaded in its own row.
    for (int i = 0; i < kQualityFlagCount; ++i) {
        const QualityFlag flag = kQualityFlagNames[i].flag;
        bool shaded = false;
        for (std::size_t k = 0; k < drawn.size(); ++k) {
            const NamedScan& named = scans[drawn[k].index];
            if (!named.quality) continue;
            const double base = static_cast<double>(k);
            shaded = ShadeFlaggedPoints(FlagsOfTrace(named.quality->quality, block), flag, drawn[k].x, false,
                                        base + 0.02, base + 0.98, panel) ||
                     shaded;
        }
        if (shaded) AddFlagLegend(panel, flag, nullptr);
    }

    const ScanFileContents& first = scans[drawn[0].index].scan;
    const char* const what[] = {"RR (al)", "LL (ar)", "I = (RR + LL) / 2", "V = (RR - LL) / 2"};
    const std::string count = drawn.size() == scans.size() ? std::to_string(scans.size())
                                                           : std::to_string(drawn.size()) + " of " +
                                                                 std::to_string(scans.size());
    picture.title = ObservationOf(first) + ": " + what[static_cast<int>(polarisation)] + ", " + count +
                    (scans.size() == 1 ? " scan file" : " scan files");
    if (noAxis.empty()) {
        MarkTheDisk(first, panel, false);
        picture.caption.push_back(
            "Dotted: the meridian centre (offset 0, at PMCSUN). Dashed: the optical limbs at +-RADIUS (" +
            std::to_string(first.radius) + " arcsec).");
    } else {
        picture.caption.push_back(
            noAxisWhy + (noAxis.size() == drawn.size() ? std::string(" in every scan file")
                                                       : " in " + Listed(noAxis)) +
            ": there is no offset axis, so each trace is drawn against the place in its file (1 to n).");
    }
    for (const auto& [reason, names] : leftOut)
        picture.caption.push_back("Left out: " + Listed(names) + " (" + reason + ").");
    // The recording's own warnings once, then each scan file's, lowest frequency first.
    bool recordingToo = true;
    std::size_t warnings = 0;
    std::string header;
    for (const std::size_t i : order) {
        if (!scans[i].quality) continue;
        const PictureQuality& q = *scans[i].quality;
        for (const std::string& line : WarningCaption(q, recordingToo, PictureText(q.scanName) + ": ")) {
            picture.caption.push_back(line);
            ++warnings;
        }
        recordingToo = false;
        header = q.headerName;
    }
    if (!recordingToo && warnings == 0)
        picture.caption.push_back("No warning of " + PictureText(header) + " concerns these scan files.");
    LimitCaption(picture.caption);
    picture.panels.push_back(panel);
    return true;
}

namespace {

// The channel of a repair picture: one whose samples vm-fits repairs.
const ChannelPlan* RepairedChannel(const RecordingExplanation& e, int channelNumber, std::string& error) {
    if (channelNumber < 0 || channelNumber >= static_cast<int>(e.channels.size())) {
        error = "channel " + std::to_string(channelNumber) + " is not a channel number (0 to 63)";
        return nullptr;
    }
    const ChannelPlan& c = e.channels[static_cast<std::size_t>(channelNumber)];
    const std::string channel = "channel " + std::to_string(channelNumber);
    if (!c.calibrationLooked) {
        error = e.headerPath + ": " + channel + ": " + ChannelReason(c) + "; vm-fits repairs no samples of it";
        return nullptr;
    }
    if (c.leftRead.empty()) {
        error = e.headerPath + ": " + channel + ": " + FileNameOfPath(c.left.path) + " holds no samples";
        return nullptr;
    }
    return &c;
}

// Both polarisations as read and as repaired; past the end of a short ar
// file, LL holds the repaired al values: a trace of their own in both panels.
bool RepairTraces(const RecordingExplanation& e, const ChannelPlan& c, PlotPanel& read, PlotPanel& repaired,
                  std::string& error) {
    std::vector<double> x(c.leftRead.size());
    std::iota(x.begin(), x.end(), 0.0);
    const std::string al = FileNameOfPath(c.left.path), ar = FileNameOfPath(c.right.path);
    const std::vector<double> leftRead = AsDoubles(c.leftRead), rightRead = AsDoubles(c.rightRead);
    const std::vector<double> leftRepaired = AsDoubles(c.leftRepaired), rightRepaired = AsDoubles(c.rightRepaired);
    if (!FiniteRange(Joined(leftRead, rightRead), 0.05, read.y) ||
        !FiniteRange(Joined(leftRepaired, rightRepaired), 0.05, repaired.y)) {
        error = e.headerPath + ": channel " + std::to_string(c.channel) + ": no sample of " + al + " or " + ar +
                " is a finite number";
        return false;
    }
    FiniteRange(x, 0.0, read.x);
    repaired.x = read.x;
    read.traces.push_back({"RR (" + al + ")", PlotColour::Red, PlotLineStyle::Solid, x, leftRead});
    read.traces.push_back({"LL (" + ar + ")", PlotColour::Blue, PlotLineStyle::Solid, x, rightRead});
    repaired.traces.push_back({"", PlotColour::Red, PlotLineStyle::Solid, x, leftRepaired});
    repaired.traces.push_back({"", PlotColour::Blue, PlotLineStyle::Solid, x, rightRepaired});
    const std::vector<uint8_t> llFlags = SampleQualityFlags(c, 1);
    if (FlaggedPoints(llFlags, kQualityFromAl) > 0) {
        const std::string label = "LL past the end of " + ar + ": repaired al values";
        for (PlotPanel* panel : {&read, &repaired}) {
            PlotTrace tail = panel->traces[1];
            tail.label = panel == &read ? label : "";
            tail.colour = PlotColour::Orange;
            for (std::size_t k = 0; k < llFlags.size() && k < tail.y.size(); ++k)
                ((llFlags[k] & kQualityFromAl) ? panel->traces[1].y[k] : tail.y[k]) =
                    std::numeric_limits<double>::quiet_NaN();
            panel->traces.push_back(std::move(tail));
        }
    }
    for (const PlotTrace& trace : read.traces) read.legend.push_back({trace.label, trace.colour, trace.style});
    return true;
}

// A line at each marker of the channel inside its samples: solid where it
// is applied, dashed where it changes nothing. The positions of both kinds.
void MarkerLines(const ChannelPlan& c, PlotPanel& read, PlotPanel& repaired, std::vector<int>& applied,
                 std::vector<int>& ignored) {
    const auto n = static_cast<int>(c.leftRead.size());
    for (const ChannelMarker& marker : c.markers) {
        const int position = marker.pair.position;
        const bool changesNothing = MarkerChangesNothing(marker);
        (changesNothing ? ignored : applied).push_back(position);
        if (position < 0 || position >= n) continue;
        const PlotMarkLine line{static_cast<double>(position), changesNothing ? PlotColour::Grey : PlotColour::Green,
                                changesNothing ? PlotLineStyle::Dashed : PlotLineStyle::Solid};
        read.lines.push_back(line);
        repaired.lines.push_back(line);
    }
    if (!applied.empty()) read.legend.push_back({"marker applied", PlotColour::Green, PlotLineStyle::Solid});
    if (!ignored.empty()) read.legend.push_back({"marker that changes nothing", PlotColour::Grey, PlotLineStyle::Dashed});
}

void RepairCaption(const RecordingExplanation& e, const ChannelPlan& c, const std::vector<int>& applied,
                   const std::vector<int>& ignored, PlotPicture& picture) {
    const std::string al = FileNameOfPath(c.left.path), ar = FileNameOfPath(c.right.path);
    picture.caption.push_back(std::string("Rule: ") + RuleName(e.run) +
                              (e.run.inputs.repairMode == kTwoSidedExtrapolation ? " (no third argument)"
                                                                                 : " (a third argument)") +
                              ". Baseline subtracted: " + FormattedNumber("%.6g", static_cast<double>(c.left.repair.baseline)) +
                              " from " + al + ", " + FormattedNumber("%.6g", static_cast<double>(c.right.repair.baseline)) +
                              " from " + ar + ".");
    picture.caption.push_back(applied.empty() ? "No marker of the channel (calibration index " +
                                                    std::to_string(c.calibrationIndex) + ") is applied."
                                              : "Solid: the markers applied, at " + JoinPositions(applied) + ".");
    if (!ignored.empty())
        picture.caption.push_back("Dashed: the markers that change nothing, at " + JoinPositions(ignored) + ":");
    for (const std::string& note : MarkerNotes(e, c)) picture.caption.push_back(PictureText(note, 240));
    for (const RunWarning& warning : WarningsOf(e, c.channel))
        picture.caption.push_back(PictureText(warning.message, 240));
    if (c.verdict != ChannelVerdict::ScanFile)
        picture.caption.push_back("vm-fits writes no scan file of the channel: " + PictureText(ChannelReason(c), 140));
    LimitCaption(picture.caption);
}

}  // namespace

bool RepairPicture(const RecordingExplanation& e, int channelNumber, PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    const ChannelPlan* c = RepairedChannel(e, channelNumber, error);
    if (!c) return false;
    PlotPanel read, repaired;
    read.heading = "As read from " + FileNameOfPath(c->left.path) + " and " + FileNameOfPath(c->right.path);
    repaired.heading =
        std::string("After ") + RuleName(e.run) + " at the markers and the baseline step: the samples vm-fits scales";
    read.yLabel = repaired.yLabel = kSignalLabel;
    repaired.xLabel = "Sample (position in the recording)";
    if (!RepairTraces(e, *c, read, repaired, error)) return false;
    std::vector<int> applied, ignored;
    MarkerLines(*c, read, repaired, applied, ignored);
    const ObservationHeader& h = e.header;
    picture.title = PictureText(h.setup.objectName) + ", " + PictureDate(h.setup.year, h.setup.month, h.setup.day) +
                    ": the jump repair of channel " + std::to_string(channelNumber) + ", " + Ghz(c->frequency);
    RepairCaption(e, *c, applied, ignored, picture);
    picture.panels.push_back(read);
    picture.panels.push_back(repaired);
    return true;
}
