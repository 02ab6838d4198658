#include "scan/calibrated_pictures.h"
#include "platform/paths.h"
#include "output/scan_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace {


// The refused scan files as caption lines, with the other lines at most
// kMostCaptionLines.
void AddRefusals(const std::vector<RefusedScan>& refused, std::vector<std::string>& caption) {
    for (std::size_t k = 0; k < refused.size(); ++k) {
        if (caption.size() + 1 == kMostCaptionLines && k + 1 < refused.size()) {
            caption.push_back("... and " + std::to_string(refused.size() - k) + " more scan files left out");
            return;
        }
        caption.push_back("Left out: " + PictureText(FileNameOfPath(refused[k].name)) + ": " +
                          PictureText(refused[k].reason, 200));
    }
}

const PlotColour kSourceColours[] = {PlotColour::Red,    PlotColour::Blue,  PlotColour::Green,
                                     PlotColour::Orange, PlotColour::Purple, PlotColour::Black};

}  // namespace

bool CalibratedOverviewPicture(const std::vector<CalibratedScan>& scans, const std::vector<RefusedScan>& refused,
                               OverviewPolarisation polarisation, PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    const bool isV = polarisation == OverviewPolarisation::V;
    if (polarisation != OverviewPolarisation::I && !isV) {
        error = "a calibrated overview draws I or V";
        return false;
    }
    if (scans.empty()) {
        error = "no scan file could be calibrated";
        return false;
    }
    std::vector<std::size_t> order(scans.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return scans[a].scan.obsFreq < scans[b].scan.obsFreq; });
    const auto valuesOf = [&](const CalibratedScan& s) -> const std::vector<double>& {
        return isV ? s.calibration.stokesV : s.calibration.stokesI;
    };
    // One scale for every trace: its largest value (I) or largest size (V).
    double largest = 0.0;
    for (const CalibratedScan& s : scans)
        for (const double v : valuesOf(s))
            if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
    if (!(largest > 0.0)) largest = 1.0;
    const double zero = isV ? 0.5 : 0.08, reach = isV ? 0.42 : 0.84;

    PlotPanel panel;
    std::vector<double> allOffsets;
    for (const CalibratedScan& s : scans)
        allOffsets.insert(allOffsets.end(), s.calibration.offsets.begin(), s.calibration.offsets.end());
    FiniteRange(allOffsets, 0.0, panel.x);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const CalibratedScan& s = scans[order[k]];
        const double base = static_cast<double>(k);
        PlotTrace trace;
        trace.colour = isV ? PlotColour::Purple : PlotColour::Black;
        trace.x = s.calibration.offsets;
        for (const double v : valuesOf(s)) trace.y.push_back(base + zero + reach * v / largest);
        panel.traces.push_back({"", PlotColour::Grey, PlotLineStyle::Dotted, {panel.x.low, panel.x.high},
                                {base + zero, base + zero}});
        panel.traces.push_back(std::move(trace));
        panel.sideLabels.push_back({base + 0.5, PictureText(FormattedNumber("%.3f GHz", s.scan.obsFreq), 40)});
    }
    panel.y = {0.0, static_cast<double>(order.size())};
    panel.yNumbers = false;
    panel.xLabel = kOffsetLabel;
    panel.yLabel = "Frequency (one scale for all traces; dotted: 0 K)";
    const ScanFileContents& first = scans[order[0]].scan;
    if (panel.x.low <= 0.0 && panel.x.high >= 0.0) panel.lines.push_back({0.0, PlotColour::Black, PlotLineStyle::Dotted});
    for (const double limb : {-1.0 * first.radius, 1.0 * first.radius})
        if (limb >= panel.x.low && limb <= panel.x.high) panel.lines.push_back({limb, PlotColour::Grey, PlotLineStyle::Dashed});

    picture.title = ObservationOf(first) + ": " + (isV ? "V = (RR - LL) / 2" : "I = (RR + LL) / 2") + " [K], " +
                    std::to_string(scans.size()) + (scans.size() == 1 ? " scan file" : " scan files") +
                    " calibrated on the quiet Sun";
    picture.caption.push_back("Antenna temperature per polarisation: T = (v - sky) x TQSUN / quiet, the sky fitted "
                              "outside the limbs, the quiet Sun a uniform disk through the beam, sources fitted apart.");
    picture.caption.push_back("One scale for all traces: from one dotted zero line to the next is " +
                              FormattedNumber("%.4g", largest / reach) + " K" +
                              (isV ? " (above the line: RR exceeds LL)." : ".") +
                              " Dotted vertical: the meridian centre; dashed: the optical limbs at +-RADIUS (" +
                              std::to_string(first.radius) + " arcsec).");
    AddRefusals(refused, picture.caption);
    picture.panels.push_back(panel);
    return true;
}

bool SpectrumPicture(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks,
                     const std::vector<RefusedScan>& refused, const ScanFileContents& first, PlotPicture& picture,
                     std::string& error) {
    picture = PlotPicture();
    if (tracks.empty()) {
        error = "no compact source was found in any calibrated scan file";
        return false;
    }
    PlotPanel flux, polarisation;
    std::vector<double> frequencies, fluxes, ratios{0.0};
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const PlotColour colour = kSourceColours[t % (sizeof kSourceColours / sizeof kSourceColours[0])];
        const auto& top = tracks[t].points.front();
        const std::string label = "source " + std::to_string(t + 1) + " at " +
                                  FormattedNumber("%+.0f", scans[top.first].sources[top.second].shape.position) + " arcsec";
        PlotTrace f{label, colour, PlotLineStyle::Solid, {}, {}, true, {}, {}};
        PlotTrace p{"", colour, PlotLineStyle::Solid, {}, {}, true, {}, {}};
        for (const auto& [s, k] : ByFrequency(scans, tracks[t])) {
            const ScanSource& source = scans[s].sources[k];
            f.x.push_back(scans[s].frequency);
            f.y.push_back(source.flux);
            f.yLow.push_back(source.flux - source.fluxError);
            f.yHigh.push_back(source.flux + source.fluxError);
            p.x.push_back(scans[s].frequency);
            p.y.push_back(source.vOverI);
            p.yLow.push_back(source.vOverI - source.vOverIError);
            p.yHigh.push_back(source.vOverI + source.vOverIError);
            frequencies.push_back(scans[s].frequency);
            if (source.flux > 0.0) fluxes.insert(fluxes.end(), {source.flux, source.flux + source.fluxError});
            ratios.insert(ratios.end(), {p.yLow.back(), p.yHigh.back()});
        }
        flux.legend.push_back({label, colour, PlotLineStyle::Solid});
        flux.traces.push_back(std::move(f));
        polarisation.traces.push_back(std::move(p));
    }
    const auto [fLow, fHigh] = std::minmax_element(frequencies.begin(), frequencies.end());
    const auto [sLow, sHigh] = std::minmax_element(fluxes.begin(), fluxes.end());
    if (fluxes.empty() || !(*fLow > 0.0)) {
        error = "no source has a flux density above 0 at a frequency above 0";
        return false;
    }
    SpectrumAxes(*fLow, *fHigh, *sLow, *sHigh, ratios, "Flux density of each compact source", flux, polarisation);
    picture.title = ObservationOf(first) + ": the compact sources across frequency (" + std::to_string(scans.size()) +
                    (scans.size() == 1 ? " scan file)" : " scan files)");
    picture.caption.push_back("Flux density: the peak excess antenna temperature over the quiet Sun x FLUX_L. V / I: "
                              "the peak of the source's shape in V over its peak in I. Error bars: one standard error "
                              "from the fit.");
    picture.caption.push_back("A source is followed from frequency to frequency by its position (within 0.6 of the "
                              "wider beam); it is named by its position at its highest frequency.");
    AddRefusals(refused, picture.caption);
    picture.panels.push_back(flux);
    picture.panels.push_back(polarisation);
    return true;
}

bool WholeSunPicture(const std::vector<WholeSunFlux>& fluxes, const std::vector<RefusedScan>& refused,
                     const ScanFileContents& first, PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    std::vector<const WholeSunFlux*> drawn;
    for (const WholeSunFlux& f : fluxes)
        if (f.frequency > 0.0 && f.flux > 0.0 && std::isfinite(f.frequency) && std::isfinite(f.flux))
            drawn.push_back(&f);
    if (drawn.empty()) {
        error = "no scan file has a whole-Sun flux density above 0 at a frequency above 0";
        return false;
    }
    std::stable_sort(drawn.begin(), drawn.end(),
                     [](const WholeSunFlux* a, const WholeSunFlux* b) { return a->frequency < b->frequency; });
    PlotTrace trace{"", PlotColour::Red, PlotLineStyle::Solid, {}, {}, true, {}, {}};
    double lowFlux = drawn.front()->flux, highFlux = lowFlux;
    for (const WholeSunFlux* f : drawn) {
        trace.x.push_back(f->frequency);
        trace.y.push_back(f->flux);
        const double bar = std::isfinite(f->fluxError) ? std::fabs(f->fluxError) : 0.0;
        trace.yLow.push_back(f->flux - bar);
        trace.yHigh.push_back(f->flux + bar);
        if (trace.yLow.back() > 0.0) lowFlux = std::min(lowFlux, trace.yLow.back());
        highFlux = std::max(highFlux, trace.yHigh.back());
    }
    PlotPanel panel;
    panel.x = {drawn.front()->frequency / 1.25, drawn.back()->frequency * 1.25};
    panel.y = {lowFlux / 1.5, highFlux * 1.5};
    // A bar that reaches 0 or below ends at the panel's bottom.
    for (double& low : trace.yLow) low = std::max(low, panel.y.low);
    panel.xLog = panel.yLog = true;
    panel.heading = "Flux density of the whole Sun";
    panel.xLabel = "Frequency [GHz]";
    panel.yLabel = "Flux density [s.f.u.]";
    panel.traces.push_back(std::move(trace));
    picture.title = ObservationOf(first) + ": the whole Sun across frequency (" + std::to_string(drawn.size()) +
                    (drawn.size() == 1 ? " scan file)" : " scan files)");
    picture.caption.push_back("Flux density: FLUX_L x the integral of I over the scan (sky subtracted) / the integral "
                              "of the beam along the scan. Error bars: one standard error (noise, sky, quiet level, "
                              "beam width and FLUX_L).");
    AddRefusals(refused, picture.caption);
    picture.panels.push_back(panel);
    return true;
}

void SpectrumAxes(double lowFrequency, double highFrequency, double lowFlux, double highFlux,
                  const std::vector<double>& ratios, const std::string& fluxHeading, PlotPanel& flux,
                  PlotPanel& polarisation) {
    flux.x = polarisation.x = {lowFrequency / 1.25, highFrequency * 1.25};
    flux.y = {lowFlux / 2.0, highFlux * 3.0};
    flux.xLog = flux.yLog = polarisation.xLog = true;
    FiniteRange(ratios, 0.08, polarisation.y);
    polarisation.yTicks = 4;
    polarisation.traces.push_back({"", PlotColour::Grey, PlotLineStyle::Dotted, {flux.x.low, flux.x.high}, {0.0, 0.0}});
    flux.heading = fluxHeading;
    flux.yLabel = "Flux density [s.f.u.]";
    polarisation.heading = "Degree of circular polarisation";
    polarisation.yLabel = "V / I";
    polarisation.xLabel = "Frequency [GHz]";
}
