// The daily whole-Sun flux at a chosen frequency, from the catalog's
// channels that bracket it (DailyFluxRows): interpolated linearly in
// log(flux) against log(frequency), or the nearest channel.
#pragma once

#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "scan/plot_picture.h"

enum class FluxMethod { Interpolated, Nearest, ExtrapolatedNearest };

// "interpolated", "nearest", "extrapolated-nearest".
const char* FluxMethodName(FluxMethod method);

// One recording's flux at one frequency.
struct DailyFlux {
    long long recordingId = 0;
    std::string header, observed, day;
    double frequency = 0.0;  // GHz, the one asked for
    double flux = 0.0, fluxError = 0.0;  // s.f.u.
    std::vector<double> from;  // the channels' frequencies used, GHz, ascending
    FluxMethod method = FluxMethod::Interpolated;
};

// The flux at `frequency` from one recording's channels (one or two rows of
// DailyFluxRows, ascending in frequency). Between two channels:
//     w = ln(f / f1) / ln(f2 / f1),   S = S1^(1-w) S2^w,
//     error = S sqrt(((1-w) e1 / S1)^2 + (w e2 / S2)^2);
// a channel at the frequency itself is used alone (interpolated, weight 1);
// a channel on one side only is used alone (extrapolated-nearest). With
// `nearest`, the channel nearest in frequency (the lower one on a tie) is
// used alone (nearest). False with a reason when the channels do not allow
// it (no channel, a flux not above 0 where a logarithm is needed).
bool FluxAtFrequency(const std::vector<DailyFluxRow>& channels, double frequency, bool nearest, DailyFlux& result,
                     std::string& reason);

// Every recording's flux at each frequency, in time order (observed, then
// header, then the frequencies in the order given). A recording whose
// channels do not allow an estimate is left out and named in `notes`.
bool ReadDailyFlux(Catalog& catalog, const std::vector<double>& frequencies, bool nearest,
                   std::vector<DailyFlux>& series, std::vector<std::string>& notes, std::string& error);

// The series as CSV with the header line
// observed,date,frequency_ghz,flux_sfu,flux_error_sfu,from_ghz,method.
std::string DailyFluxCsv(const std::vector<DailyFlux>& series);

// Flux against date, one curve per frequency, with error bars. False when
// there is nothing to draw.
bool DailyFluxPicture(const std::vector<DailyFlux>& series, const std::string& catalogName, PlotPicture& picture,
                      std::string& error);
