// The archive's daily flux against a published series (vm-archive compare).
#pragma once

#include <string>
#include <vector>

#include "archive/flux_series.h"
#include "archive/reference_flux.h"
#include "scan/plot_picture.h"

// A ratio is an outlier when it lies more than kOutlierScatters robust
// scatters from the median ratio and more than kOutlierShare of the median
// from it: the second keeps a very quiet series from flagging ordinary days.
constexpr double kOutlierScatters = 3.0;
constexpr double kOutlierShare = 0.05;

struct ComparedDay {
    std::string day;       // "YYYY-MM-DD"
    std::string observed;  // our recording's
    double frequency = 0.0;  // the reference's, GHz
    double flux = 0.0, fluxError = 0.0;  // ours at that frequency, s.f.u.
    double reference = 0.0;  // s.f.u.
    int referenceLine = 0;
    double ratio = 0.0;    // ours / reference
    bool outlier = false;
};

struct ComparisonSummary {
    std::size_t days = 0;
    double median = 0.0;
    double scatter = 0.0;  // 1.4826 x the median absolute deviation from the median
    std::vector<std::string> outliers;  // their dates
};

// For each day with both: of our recordings that day and the reference's
// rows that day at the frequency `ours` was taken at, the pair nearest in
// time. `ours` holds one entry per recording at each reference frequency
// (ReadDailyFlux); a reference value not above 0 gives no ratio and is left out.
std::vector<ComparedDay> PairDays(const std::vector<DailyFlux>& ours, const std::vector<ReferenceFlux>& reference);

// The median, the robust scatter, and the outliers (marked in `days` too).
ComparisonSummary SummariseComparison(std::vector<ComparedDay>& days);

// The median of the values (the mean of the middle two for an even count; 0 for none).
double MedianOf(std::vector<double> values);

// CSV: date,observed,frequency_ghz,flux_sfu,flux_error_sfu,reference_sfu,ratio,outlier
std::string ComparisonCsv(const std::vector<ComparedDay>& days);

// The summary's lines for the terminal.
std::string ComparisonReport(const ComparisonSummary& summary);

// The ratio over time, the median and the outlier limits as lines.
bool ComparisonPicture(const std::vector<ComparedDay>& days, const ComparisonSummary& summary,
                       const std::string& referenceName, PlotPicture& picture, std::string& error);
