#include "archive/flux_comparison.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "archive/archive_time.h"
#include "output/scan_output.h"
#include "platform/paths.h"
#include "scan/plot_data.h"

std::vector<ComparedDay> PairDays(const std::vector<DailyFlux>& ours, const std::vector<ReferenceFlux>& reference) {
    std::map<std::string, ComparedDay> best;
    std::map<std::string, double> bestDistance;
    for (const ReferenceFlux& r : reference) {
        if (!(r.flux > 0.0)) continue;
        for (const DailyFlux& f : ours) {
            double t = 0.0;
            if (f.day != r.day || f.frequency != r.frequency || !DaysOfTime(f.observed, t)) continue;
            const double distance = std::fabs(t - r.time);
            const auto known = bestDistance.find(r.day);
            if (known != bestDistance.end() && known->second <= distance) continue;
            bestDistance[r.day] = distance;
            ComparedDay& day = best[r.day];
            day.day = r.day;
            day.observed = f.observed;
            day.frequency = r.frequency;
            day.flux = f.flux;
            day.fluxError = f.fluxError;
            day.reference = r.flux;
            day.referenceLine = r.line;
            day.ratio = f.flux / r.flux;
        }
    }
    std::vector<ComparedDay> days;
    for (auto& [name, day] : best) days.push_back(day);
    return days;
}

double MedianOf(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) return upper;
    return 0.5 * (upper + *std::max_element(values.begin(), values.begin() + middle));
}

ComparisonSummary SummariseComparison(std::vector<ComparedDay>& days) {
    ComparisonSummary summary;
    summary.days = days.size();
    std::vector<double> ratios, deviations;
    for (const ComparedDay& d : days) ratios.push_back(d.ratio);
    summary.median = MedianOf(ratios);
    for (const double r : ratios) deviations.push_back(std::fabs(r - summary.median));
    summary.scatter = 1.4826 * MedianOf(deviations);
    const double limit = std::max(kOutlierScatters * summary.scatter, kOutlierShare * std::fabs(summary.median));
    for (ComparedDay& d : days) {
        d.outlier = std::fabs(d.ratio - summary.median) > limit;
        if (d.outlier) summary.outliers.push_back(d.day);
    }
    return summary;
}

std::string ComparisonCsv(const std::vector<ComparedDay>& days) {
    std::string csv = "date,observed,frequency_ghz,flux_sfu,flux_error_sfu,reference_sfu,ratio,outlier\n";
    for (const ComparedDay& d : days)
        csv += d.day + "," + d.observed + "," + FormattedNumber("%.6g", d.frequency) + "," +
               FormattedNumber("%.4f", d.flux) + "," + FormattedNumber("%.4f", d.fluxError) + "," +
               FormattedNumber("%.4f", d.reference) + "," + FormattedNumber("%.6f", d.ratio) + "," +
               (d.outlier ? "1" : "0") + "\n";
    return csv;
}

std::string ComparisonReport(const ComparisonSummary& summary) {
    std::string report = "days compared: " + std::to_string(summary.days) + "\n";
    if (summary.days == 0) return report;
    report += "median ratio (ours / reference): " + FormattedNumber("%.6f", summary.median) + "\n";
    report += "robust scatter (1.4826 x MAD): " + FormattedNumber("%.6f", summary.scatter) + "\n";
    report += "outliers: " + std::to_string(summary.outliers.size());
    for (std::size_t k = 0; k < summary.outliers.size(); ++k) report += (k == 0 ? ": " : ", ") + summary.outliers[k];
    return report + "\n";
}

bool ComparisonPicture(const std::vector<ComparedDay>& days, const ComparisonSummary& summary,
                       const std::string& referenceName, PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    if (days.empty()) {
        error = "no day has both our flux and the reference's";
        return false;
    }
    double first = 0.0;
    DaysOfTime(days.front().day, first);
    PlotTrace ratios{"ours / reference", PlotColour::Blue, PlotLineStyle::Solid, {}, {}, true, {}, {}};
    PlotTrace outliers{"outliers", PlotColour::Red, PlotLineStyle::Dotted, {}, {}, true, {}, {}};
    std::vector<double> values{summary.median};
    for (const ComparedDay& d : days) {
        double t = 0.0;
        DaysOfTime(d.day, t);
        const double e = d.fluxError / d.reference;
        ratios.x.push_back(t - first);
        ratios.y.push_back(d.ratio);
        ratios.yLow.push_back(d.ratio - e);
        ratios.yHigh.push_back(d.ratio + e);
        values.insert(values.end(), {d.ratio - e, d.ratio + e});
        // Each outlier a point of its own: the non-finite values between break the line.
        outliers.x.push_back(t - first);
        outliers.y.push_back(d.outlier ? d.ratio : std::nan(""));
    }
    const double limit = std::max(kOutlierScatters * summary.scatter, kOutlierShare * std::fabs(summary.median));
    values.insert(values.end(), {summary.median - limit, summary.median + limit});
    PlotPanel panel;
    const double span = std::max(ratios.x.back() - ratios.x.front(), 1.0);
    panel.x = {ratios.x.front() - 0.05 * span, ratios.x.back() + 0.05 * span};
    FiniteRange(values, 0.08, panel.y);
    for (const double y : {summary.median, summary.median - limit, summary.median + limit})
        panel.traces.push_back({"", PlotColour::Grey, y == summary.median ? PlotLineStyle::Solid : PlotLineStyle::Dashed,
                                {panel.x.low, panel.x.high}, {y, y}});
    panel.legend.push_back({ratios.label, ratios.colour, PlotLineStyle::Solid});
    if (!summary.outliers.empty()) panel.legend.push_back({outliers.label, outliers.colour, PlotLineStyle::Dotted});
    panel.traces.push_back(ratios);
    panel.traces.push_back(outliers);
    panel.heading = "Whole-Sun flux: ours over the reference's";
    panel.xLabel = "Days since " + days.front().day;
    panel.yLabel = "Ratio";
    picture.title = "Comparison with " + PictureText(FileNameOfPath(referenceName));
    picture.caption.push_back("Median ratio " + FormattedNumber("%.4f", summary.median) + ", robust scatter " +
                              FormattedNumber("%.4f", summary.scatter) + " over " + std::to_string(summary.days) +
                              " days; dashed: the outlier limits (the larger of 3 scatters and 5 % of the median).");
    picture.panels.push_back(panel);
    return true;
}
