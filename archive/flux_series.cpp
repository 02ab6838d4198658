#include "archive/flux_series.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "archive/archive_time.h"
#include "output/scan_output.h"
#include "platform/paths.h"
#include "scan/plot_data.h"

namespace {

const PlotColour kCurveColours[] = {PlotColour::Red,    PlotColour::Blue,   PlotColour::Green,
                                    PlotColour::Orange, PlotColour::Purple, PlotColour::Black};

DailyFlux FromChannel(const DailyFluxRow& row, double frequency, FluxMethod method) {
    DailyFlux flux;
    flux.recordingId = row.recordingId;
    flux.header = row.header;
    flux.observed = row.observed;
    flux.day = row.day;
    flux.frequency = frequency;
    flux.flux = row.flux;
    flux.fluxError = row.fluxError;
    flux.from = {row.frequency};
    flux.method = method;
    return flux;
}

std::string Number(double value) { return FormattedNumber("%.6g", value); }

}  // namespace

const char* FluxMethodName(FluxMethod method) {
    switch (method) {
        case FluxMethod::Interpolated: return "interpolated";
        case FluxMethod::Nearest: return "nearest";
        case FluxMethod::ExtrapolatedNearest: return "extrapolated-nearest";
    }
    return "interpolated";
}

bool FluxAtFrequency(const std::vector<DailyFluxRow>& channels, double frequency, bool nearest, DailyFlux& result,
                     std::string& reason) {
    if (channels.empty() || channels.size() > 2) {
        reason = channels.empty() ? "no channel with a whole-Sun flux" : "more than two bracketing channels";
        return false;
    }
    const DailyFluxRow& low = channels.front();
    const DailyFluxRow& high = channels.back();
    if (nearest) {
        const bool lower = std::fabs(frequency - low.frequency) <= std::fabs(high.frequency - frequency);
        result = FromChannel(lower ? low : high, frequency, FluxMethod::Nearest);
        return true;
    }
    if (channels.size() == 1 || low.frequency == high.frequency) {
        const bool at = low.frequency == frequency;
        result = FromChannel(low, frequency, at ? FluxMethod::Interpolated : FluxMethod::ExtrapolatedNearest);
        return true;
    }
    if (!(low.flux > 0.0) || !(high.flux > 0.0) || !(low.frequency > 0.0) || !(frequency > 0.0)) {
        reason = "a flux or frequency not above 0 cannot be interpolated in logarithms";
        return false;
    }
    const double w = std::log(frequency / low.frequency) / std::log(high.frequency / low.frequency);
    result = FromChannel(low, frequency, FluxMethod::Interpolated);
    result.flux = std::exp((1.0 - w) * std::log(low.flux) + w * std::log(high.flux));
    const double a = (1.0 - w) * low.fluxError / low.flux, b = w * high.fluxError / high.flux;
    result.fluxError = result.flux * std::sqrt(a * a + b * b);
    result.from = {low.frequency, high.frequency};
    return true;
}

bool ReadDailyFlux(Catalog& catalog, const std::vector<double>& frequencies, bool nearest,
                   std::vector<DailyFlux>& series, std::vector<std::string>& notes, std::string& error) {
    series.clear();
    std::vector<std::size_t> order;  // the position of each entry's frequency among those asked for
    for (std::size_t f = 0; f < frequencies.size(); ++f) {
        std::vector<DailyFluxRow> rows;
        if (!DailyFluxRows(catalog, frequencies[f], rows, error)) return false;
        for (std::size_t begin = 0; begin < rows.size();) {
            std::size_t end = begin + 1;
            while (end < rows.size() && rows[end].recordingId == rows[begin].recordingId) ++end;
            const std::vector<DailyFluxRow> channels(rows.begin() + begin, rows.begin() + end);
            DailyFlux flux;
            std::string reason;
            if (FluxAtFrequency(channels, frequencies[f], nearest, flux, reason)) {
                series.push_back(flux);
                order.push_back(f);
            } else {
                notes.push_back(rows[begin].header + " at " + Number(frequencies[f]) + " GHz left out: " + reason);
            }
            begin = end;
        }
    }
    std::vector<std::size_t> index(series.size());
    for (std::size_t k = 0; k < index.size(); ++k) index[k] = k;
    std::stable_sort(index.begin(), index.end(), [&](std::size_t a, std::size_t b) {
        if (series[a].observed != series[b].observed) return series[a].observed < series[b].observed;
        if (series[a].header != series[b].header) return series[a].header < series[b].header;
        return order[a] < order[b];
    });
    std::vector<DailyFlux> sorted;
    sorted.reserve(series.size());
    for (const std::size_t k : index) sorted.push_back(std::move(series[k]));
    series = std::move(sorted);
    return true;
}

std::string DailyFluxCsv(const std::vector<DailyFlux>& series) {
    std::string csv = "observed,date,frequency_ghz,flux_sfu,flux_error_sfu,from_ghz,method\n";
    for (const DailyFlux& f : series) {
        std::string from;
        for (const double channel : f.from) from += (from.empty() ? "" : " ") + Number(channel);
        csv += f.observed + "," + f.day + "," + Number(f.frequency) + "," + FormattedNumber("%.4f", f.flux) + "," +
               FormattedNumber("%.4f", f.fluxError) + "," + from + "," + FluxMethodName(f.method) + "\n";
    }
    return csv;
}

bool DailyFluxPicture(const std::vector<DailyFlux>& series, const std::string& catalogName, PlotPicture& picture,
                      std::string& error) {
    picture = PlotPicture();
    std::map<double, PlotTrace> curves;
    std::vector<double> times, values;
    double first = 0.0;
    bool haveFirst = false;
    for (const DailyFlux& f : series) {
        double t = 0.0;
        if (!DaysOfTime(f.observed, t) || !std::isfinite(f.flux)) continue;
        if (!haveFirst) first = t, haveFirst = true;
        PlotTrace& trace = curves[f.frequency];
        trace.x.push_back(t - first);
        trace.y.push_back(f.flux);
        trace.yLow.push_back(f.flux - f.fluxError);
        trace.yHigh.push_back(f.flux + f.fluxError);
        times.push_back(t - first);
        values.insert(values.end(), {f.flux - f.fluxError, f.flux + f.fluxError});
    }
    if (curves.empty()) {
        error = "no recording has a whole-Sun flux at the frequencies asked for";
        return false;
    }
    PlotPanel panel;
    std::size_t k = 0;
    for (auto& [frequency, trace] : curves) {
        trace.colour = kCurveColours[k++ % (sizeof kCurveColours / sizeof kCurveColours[0])];
        trace.marked = true;
        trace.label = Number(frequency) + " GHz";
        panel.legend.push_back({trace.label, trace.colour, PlotLineStyle::Solid});
        panel.traces.push_back(trace);
    }
    const auto [tLow, tHigh] = std::minmax_element(times.begin(), times.end());
    const double span = std::max(*tHigh - *tLow, 1.0);
    panel.x = {*tLow - 0.05 * span, *tHigh + 0.05 * span};
    FiniteRange(values, 0.08, panel.y);
    panel.heading = "Whole-Sun flux density";
    panel.xLabel = "Days since " + series.front().day;
    panel.yLabel = "Flux density [s.f.u.]";
    picture.title = PictureText(FileNameOfPath(catalogName)) + ": the daily whole-Sun flux";
    picture.caption.push_back("Between two channels the flux is interpolated linearly in log(flux) against "
                              "log(frequency); error bars: one standard error propagated from the channels'.");
    picture.panels.push_back(panel);
    return true;
}
