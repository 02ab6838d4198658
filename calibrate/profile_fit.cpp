#include "calibrate/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "calibrate/disk_shape.h"
#include "calibrate/least_squares.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The points in bins of consecutive points of one group: each bin's mean
// offset and value, and how many points it holds.
struct Bins {
    std::vector<double> x, y, count;
    std::vector<int> group;
};

Bins MakeBins(const std::vector<double>& x, const std::vector<double>& y, const std::vector<int>* groups,
              std::size_t size) {
    Bins b;
    std::size_t i = 0;
    while (i < x.size()) {
        const int group = groups ? (*groups)[i] : 0;
        if (group < 0) {
            ++i;
            continue;
        }
        double sx = 0.0, sy = 0.0;
        std::size_t n = 0;
        for (; i < x.size() && n < size && (groups ? (*groups)[i] : 0) == group; ++i, ++n) {
            sx += x[i];
            sy += y[i];
        }
        b.x.push_back(sx / static_cast<double>(n));
        b.y.push_back(sy / static_cast<double>(n));
        b.count.push_back(static_cast<double>(n));
        b.group.push_back(group);
    }
    return b;
}

// The bounds of the fitted values, from what the scan file says.
struct Limits {
    double radiusLow, radiusHigh, centreReach, sigmaLow, sigmaHigh, widthLow, widthHigh, rimLow, rimHigh;
    double rimWidthLow, rimWidthHigh;
};

Limits LimitsOf(const ProfileGeometry& g, const ProfileSettings& s) {
    const double sigma = SigmaOfWidth(g.beamWidth);
    return {s.radiusLow * g.opticalRadius, s.radiusHigh * g.opticalRadius, s.centreReach * g.opticalRadius,
            s.beamLow * sigma, s.beamHigh * sigma, s.widthLow * sigma, s.widthHigh * g.opticalRadius + sigma,
            s.rimLow, s.rimHigh, s.rimWidths.front(), s.rimWidths.back()};
}

// Everything fitted so far, with the bins it is fitted to.
struct Work {
    const Bins& b;
    const ProfileSettings& settings;
    Limits limits;
    std::vector<double> d{};          // the values less the sky
    std::vector<std::size_t> disk{};  // the bins between the two sky regions
    ShapeCache cache{};
    DiskModel model{};
    double quietError = 0;
    // The share of the level that the choice of the rim leaves open (RimLevelShare).
    double rimLevelShare = 0.0;
    std::vector<ProfileSource> sources{};
    double noise = 0;           // of one point
    bool rimFree = false;       // the rim's brightness is fitted (else held at 0)
    bool rimWidthFree = false;  // and its width (where the beam resolves it)
    double threshold = 0.0;     // a source's least peak
    std::vector<double> steps{};  // offsets where a repair left a step: no source is sought there
    std::vector<bool> aside{};  // bins the disk's fit leaves aside (a fit of the disk alone only)
    // The last fit of disk and sources together: did the data determine it?
    FitStop stop = FitStop::Converged;
    std::string unconstrained{};
    // What the data leave undetermined: the rim's brightness or width, the sources (by index).
    bool rimUnconstrained = false, rimWidthUnconstrained = false;
    std::vector<std::size_t> sourcesUnconstrained{};
};

double DiskAt(Work& w, double x) { return DiskAt(w.model, w.cache, x); }

// What a fit moves: the disk's parameters, the sources' three each, or both.
enum class Moving { Disk, Sources, Both };

const char* const kDiskParameterNames[kDiskParameters] = {"the quiet level", "the disk's radius",
                                                          "the disk's centre", "the beam's width",
                                                          "the limb's rim", "the rim's width"};
const char* const kSourceParameterNames[kSourceParameters] = {"peak", "position", "width"};

// Fits what `moving` names to the values less what stays, over the disk's
// bins (the sources alone: over the bins within five widths of one), each
// bin weighted by its points. Errors come from the larger of the noise and
// the fit's own residual.
void Fit(Work& w, Moving moving, int iterations) {
    const bool disk = moving != Moving::Sources, sources = moving != Moving::Disk && !w.sources.empty();
    if (!disk && !sources) return;
    std::vector<std::size_t> points;
    for (const std::size_t i : w.disk) {
        bool near = disk && (sources || w.aside.empty() || !w.aside[i]);
        for (const ProfileSource& s : w.sources) near = near || std::fabs(w.b.x[i] - s.position) < 5.0 * s.width;
        if (near) points.push_back(i);
    }
    if (points.empty()) return;
    ProfileModelSetup setup;
    std::vector<double> x, y, root;
    for (const std::size_t i : points) {
        x.push_back(w.b.x[i]);
        root.push_back(std::sqrt(w.b.count[i]));
        y.push_back((w.d[i] - (disk ? 0.0 : DiskAt(w, w.b.x[i])) - (sources ? 0.0 : SourcesAt(w.sources, w.b.x[i]))) *
                    root.back());
    }
    setup.x = &x;
    setup.moveDisk = disk;
    setup.moveSources = sources;
    setup.moveRim = w.rimFree;
    setup.moveRimWidth = w.rimFree && w.rimWidthFree;
    setup.disk = w.model;
    setup.sources = sources ? w.sources : std::vector<ProfileSource>();
    if (!disk) setup.disk.quiet = 0.0;  // the disk is taken off the values
    const std::vector<double> start = ModelParameters(setup);
    const std::size_t first = FirstSourceParameter(setup);
    const ModelFunction model = [&](const std::vector<double>& p, std::vector<double>& values,
                                    std::vector<std::vector<double>>* jacobian) {
        EvaluateProfileModel(setup, w.cache, p, values, jacobian);
        for (std::size_t k = 0; k < values.size(); ++k) values[k] *= root[k];
        if (jacobian)
            for (std::vector<double>& column : *jacobian)
                for (std::size_t k = 0; k < column.size(); ++k) column[k] *= root[k];
    };
    std::vector<double> around;
    for (const ProfileSource& s : w.sources) around.push_back(s.position);
    const Limits& l = w.limits;
    const double reach = w.settings.positionReach;
    const ClampFunction clamp = [&](std::vector<double>& p) {
        if (disk) {
            p[kQuiet] = std::max(p[kQuiet], 0.0);
            p[kRadius] = std::clamp(p[kRadius], l.radiusLow, l.radiusHigh);
            p[kCentre] = std::clamp(p[kCentre], -l.centreReach, l.centreReach);
            p[kSigma] = std::clamp(p[kSigma], l.sigmaLow, l.sigmaHigh);
            if (w.rimFree) p[kRim] = std::clamp(p[kRim], l.rimLow, l.rimHigh);
            if (w.rimFree && w.rimWidthFree) p[kRimWidth] = std::clamp(p[kRimWidth], l.rimWidthLow, l.rimWidthHigh);
        }
        if (!sources) return;
        for (std::size_t k = first; k < p.size(); k += kSourceParameters) {
            const double was = around[(k - first) / kSourceParameters];
            p[k + kPeak] = std::max(p[k + kPeak], 0.0);
            p[k + kWidth] = std::clamp(p[k + kWidth], l.widthLow, l.widthHigh);
            p[k + kPosition] = std::clamp(p[k + kPosition], was - reach * p[k + kWidth], was + reach * p[k + kWidth]);
        }
    };
    const NonlinearFit fit = FitNonlinear(model, clamp, y, start, iterations);
    const double dof = std::max(1.0, static_cast<double>(y.size()) - static_cast<double>(start.size()));
    // The sum of squares of the weighted bins is one of points' values.
    const double sigma = std::max(w.noise, std::sqrt(fit.sumOfSquares / dof));
    const auto error = [&](std::size_t k) {
        const int at = static_cast<int>(k);
        return fit.covarianceKnown ? std::sqrt(std::max(0.0, fit.covariance.at(at, at))) * sigma : 0.0;
    };
    if (moving == Moving::Both) {
        w.stop = fit.covarianceKnown ? fit.stop : FitStop::Singular;
        w.unconstrained.clear();
        w.rimUnconstrained = w.rimWidthUnconstrained = false;
        w.sourcesUnconstrained.clear();
        for (const int k : fit.unconstrained) {
            const auto at = static_cast<std::size_t>(k);
            if (disk && at == kRim && w.rimFree) w.rimUnconstrained = true;
            if (disk && at == kRimWidth && w.rimFree && w.rimWidthFree) w.rimWidthUnconstrained = true;
            if (at >= first) w.sourcesUnconstrained.push_back((at - first) / kSourceParameters);
            const std::string name =
                at < first ? kDiskParameterNames[at]
                           : "the " + std::string(kSourceParameterNames[(at - first) % kSourceParameters]) +
                                 " of the source near " +
                                 Format("%.0f", fit.parameters[first + (at - first) / kSourceParameters * 3 + kPosition]) +
                                 " arcsec";
            w.unconstrained += (w.unconstrained.empty() ? "" : ", ") + name;
        }
    }
    const std::vector<double>& p = fit.parameters;
    if (disk) {
        w.model.quiet = p[kQuiet];
        w.model.radius = p[kRadius];
        w.model.centre = p[kCentre];
        w.model.sigma = p[kSigma];
        if (w.rimFree) w.model.rim = p[kRim];
        if (w.rimFree && w.rimWidthFree) w.model.rimWidth = p[kRimWidth];
        w.quietError = error(kQuiet);
    }
    if (!sources) return;
    for (std::size_t k = 0; k < w.sources.size(); ++k) {
        ProfileSource& s = w.sources[k];
        const std::size_t at = first + kSourceParameters * k;
        s.peak = p[at + kPeak];
        s.position = p[at + kPosition];
        s.width = p[at + kWidth];
        s.peakError = error(at + kPeak);
        s.positionError = error(at + kPosition);
        s.widthError = error(at + kWidth);
    }
}

// The noise of runs of points: the median absolute first difference within
// each run, pooled, scaled for Gaussian noise (a difference of two values of
// noise sigma has sigma sqrt(2), and its median absolute value is 0.6745 of that).
double PooledNoise(const std::vector<std::vector<double>>& runs) {
    std::vector<double> differences;
    for (const std::vector<double>& run : runs)
        for (std::size_t i = 1; i < run.size(); ++i) differences.push_back(std::fabs(run[i] - run[i - 1]));
    return Median(differences) / (0.67448975 * std::sqrt(2.0));
}

// The sky's polynomial through the bins `used` (weighted by their points);
// false when they do not determine it.
bool FitSkyOrder(const Bins& b, const std::vector<std::size_t>& used, const SkyModel& shape, int order,
                 std::vector<double>& terms) {
    std::vector<std::vector<double>> columns(static_cast<std::size_t>(order) + 1);
    std::vector<double> values;
    for (const std::size_t i : used) {
        const double t = (b.x[i] - shape.centre) / shape.scale, root = std::sqrt(b.count[i]);
        double power = root;
        for (std::vector<double>& column : columns) {
            column.push_back(power);
            power *= t;
        }
        values.push_back(b.y[i] * root);
    }
    return LinearFit(columns, values, terms);
}

double SkyOf(const SkyModel& sky, double x) {
    const double t = (x - sky.centre) / sky.scale;
    double value = 0.0;
    for (std::size_t k = sky.terms.size(); k-- > 0;) value = value * t + sky.terms[k];
    return value;
}

// The sky through the bins farther than `from` from `centre`: a polynomial
// whose order the data choose, each order fitted again without the bins
// far off it. The noise comes from the points themselves.
bool FitSky(const std::vector<double>& x, const std::vector<double>& y, const std::vector<int>* groups, const Bins& b,
            double centre, double from, const ProfileSettings& settings, ProfileFit& fit, std::string& error) {
    std::vector<std::size_t> sky;
    std::vector<std::vector<double>> runs;
    int below = 0, above = 0, lastGroup = -2, lastSide = -1;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double u = x[i] - centre;
        const int group = groups ? (*groups)[i] : 0;
        if (std::fabs(u) <= from || group < 0) {
            lastGroup = -2;
            continue;
        }
        const int side = u < 0 ? 0 : 1;
        (side == 0 ? below : above) += 1;
        if (group != lastGroup || side != lastSide) runs.emplace_back();
        runs.back().push_back(y[i]);
        lastGroup = group;
        lastSide = side;
    }
    for (std::size_t i = 0; i < b.x.size(); ++i)
        if (std::fabs(b.x[i] - centre) > from) sky.push_back(i);
    fit.skyPointsBelow = below;
    fit.skyPointsAbove = above;
    fit.skyFrom = from;
    for (const int side : {0, 1}) {
        const int count = side == 0 ? below : above;
        if (count >= settings.fewestSkyPoints) continue;
        error = std::string("no sky at ") + (side == 0 ? "negative" : "positive") + " offsets: " +
                std::to_string(count) + (count == 1 ? " point lies" : " points lie") + " beyond " +
                Format("%.0f", side == 0 ? centre - from : centre + from) + " arcsec (" +
                Format("%.4g", settings.skyRadii) + " RADIUS + " + Format("%.4g", settings.skyBeams) +
                " THETA-DG from the centre), at least " + std::to_string(settings.fewestSkyPoints) + " are needed";
        return false;
    }
    fit.noise = PooledNoise(runs);
    SkyModel shape;
    shape.centre = centre;
    for (const std::size_t i : sky) shape.scale = std::max(shape.scale, std::fabs(b.x[i] - centre));
    const double variance = std::max(fit.noise * fit.noise, 1e-300);
    double lastSquares = -1.0;
    std::vector<double> chosen;
    for (int order = 1; order <= settings.mostSkyOrder; ++order) {
        if (sky.size() < static_cast<std::size_t>(order) + 4) break;
        // The fit, then again without the bins more than skyOutliers robust
        // deviations (of a point) off it.
        std::vector<std::size_t> used = sky;
        std::vector<double> c;
        bool ok = false;
        for (int round = 0; round < 2; ++round) {
            if (!FitSkyOrder(b, used, shape, order, c)) break;
            ok = true;
            shape.terms = c;
            std::vector<double> deviations;
            for (const std::size_t i : sky) deviations.push_back(std::fabs(b.y[i] - SkyOf(shape, b.x[i])) * std::sqrt(b.count[i]));
            const double limit = settings.skyOutliers * 1.4826 * Median(deviations);
            std::vector<std::size_t> kept;
            for (std::size_t k = 0; k < sky.size(); ++k)
                if (deviations[k] <= limit) kept.push_back(sky[k]);
            if (kept.size() < static_cast<std::size_t>(order) + 4 || kept.size() == used.size()) break;
            used = kept;
        }
        if (!ok) break;
        double squares = 0.0;
        for (const std::size_t i : used) {
            const double r = b.y[i] - SkyOf(shape, b.x[i]);
            squares += b.count[i] * r * r;
        }
        if (lastSquares >= 0.0 && !(lastSquares - squares > settings.skyOrderGain * variance)) break;
        chosen = c;
        lastSquares = squares;
    }
    if (chosen.empty()) {
        error = "the sky points do not determine a straight line";
        return false;
    }
    shape.terms = chosen;
    fit.sky = shape;
    fit.skyLevel = SkyOf(shape, 0.0);
    double slope = 0.0;
    for (std::size_t k = chosen.size(); k-- > 1;)
        slope = slope * ((0.0 - centre) / shape.scale) + static_cast<double>(k) * chosen[k];
    fit.skySlope = slope / shape.scale;
    return true;
}

// The residual smoothed by a Gaussian of `bins` bins, at each bin.
std::vector<double> Smoothed(const std::vector<double>& r, double bins) {
    const int reach = static_cast<int>(std::ceil(3.0 * bins));
    std::vector<double> kernel;
    for (int k = -reach; k <= reach; ++k) kernel.push_back(std::exp(-0.5 * (k / bins) * (k / bins)));
    std::vector<double> s(r.size(), 0.0);
    for (std::size_t i = 0; i < r.size(); ++i) {
        double sum = 0.0, weight = 0.0;
        for (int k = -reach; k <= reach; ++k) {
            const auto j = static_cast<std::ptrdiff_t>(i) + k;
            if (j < 0 || j >= static_cast<std::ptrdiff_t>(r.size())) continue;
            sum += kernel[static_cast<std::size_t>(k + reach)] * r[static_cast<std::size_t>(j)];
            weight += kernel[static_cast<std::size_t>(k + reach)];
        }
        s[i] = sum / weight;
    }
    return s;
}

// The disk alone, fitted again without the bins that stand out above it
// (by quietOutliers robust deviations of the residual, and a beam's width
// around them), so that the sources do not lift it.
void FitQuietDisk(Work& w, double binWidth) {
    const ProfileSettings& settings = w.settings;
    Fit(w, Moving::Disk, settings.fitIterations);
    const auto reach = static_cast<std::ptrdiff_t>(std::ceil(w.model.sigma / binWidth));
    for (int round = 0; round < settings.quietRounds; ++round) {
        std::vector<double> r, deviations;
        for (const std::size_t i : w.disk) r.push_back((w.d[i] - DiskAt(w, w.b.x[i])) * std::sqrt(w.b.count[i]));
        const double middle = Median(r);
        for (const double v : r) deviations.push_back(std::fabs(v - middle));
        const double limit = middle + settings.quietOutliers * 1.4826 * Median(deviations);
        std::vector<bool> aside(w.b.x.size(), false);
        std::size_t count = 0;
        for (std::size_t k = 0; k < r.size(); ++k) {
            if (!(r[k] > limit)) continue;
            const auto at = static_cast<std::ptrdiff_t>(w.disk[k]);
            for (std::ptrdiff_t j = std::max<std::ptrdiff_t>(0, at - reach);
                 j <= std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(aside.size()) - 1, at + reach); ++j)
                aside[static_cast<std::size_t>(j)] = true;
        }
        for (const std::size_t i : w.disk) count += aside[i] ? 1 : 0;
        if (count == 0 || 2 * count > w.disk.size() || aside == w.aside) break;
        w.aside = aside;
        Fit(w, Moving::Disk, settings.fitIterations);
    }
    w.aside.clear();
}

// Two sources too close together: one source fitted twice.
bool Degenerate(const std::vector<ProfileSource>& sources, double widths) {
    for (std::size_t a = 0; a < sources.size(); ++a)
        for (std::size_t b = a + 1; b < sources.size(); ++b)
            if (std::fabs(sources[a].position - sources[b].position) <
                widths * std::max(sources[a].width, sources[b].width))
                return true;
    return false;
}

double SumOfSquaresOnDisk(Work& w) {
    double sum = 0.0;
    for (const std::size_t i : w.disk) {
        const double r = w.d[i] - DiskAt(w, w.b.x[i]) - SourcesAt(w.sources, w.b.x[i]);
        sum += w.b.count[i] * r * r;
    }
    return sum;
}

// Two sources closer than about two widths look like one wider than the
// beam. Each source that much wider is tried as two, kept when both stand
// above the threshold, lie apart and fit clearly better.
void SplitBlends(Work& w, double threshold) {
    const ProfileSettings& settings = w.settings;
    for (std::size_t k = 0; k < w.sources.size() && static_cast<int>(w.sources.size()) < settings.mostSources; ++k) {
        const ProfileSource one = w.sources[k];
        if (one.width < settings.splitWidth * w.model.sigma) continue;
        const double before = SumOfSquaresOnDisk(w);
        const DiskModel keptModel = w.model;
        const double keptError = w.quietError;
        const std::vector<ProfileSource> keptSources = w.sources;
        const double half = 0.6 * one.width;
        ProfileSource a = one, b = one;
        a.position -= half;
        b.position += half;
        a.width = b.width = std::max(0.75 * one.width, w.limits.widthLow);
        a.peak = b.peak = 0.6 * one.peak;
        w.sources[k] = a;
        w.sources.insert(w.sources.begin() + static_cast<std::ptrdiff_t>(k) + 1, b);
        // Tried with the disk held, then, when the two are kept, fitted with it.
        Fit(w, Moving::Sources, settings.splitIterations);
        const auto split = [&]() {
            const ProfileSource& first = w.sources[k];
            const ProfileSource& second = w.sources[k + 1];
            const double apart = std::fabs(first.position - second.position);
            return SumOfSquaresOnDisk(w) < before - settings.splitGain * w.noise * w.noise && first.peak >= threshold &&
                   second.peak >= threshold && apart >= settings.splitApart * w.model.sigma &&
                   apart >= settings.splitErrors * std::hypot(first.positionError, second.positionError) &&
                   !Degenerate(w.sources, settings.degenerateWidths);
        };
        if (split()) Fit(w, Moving::Both, settings.splitIterations);
        if (split()) {
            ++k;  // the second of the two is not tried again
            continue;
        }
        // Not split: the fit as it was.
        w.model = keptModel;
        w.quietError = keptError;
        w.sources = keptSources;
    }
}

std::vector<double> GroupChanges(const std::vector<double>& x, const std::vector<int>* groups);

// Sources one by one: the highest peak of the smoothed residual on the disk,
// while it stands above the threshold, each fitted and then everything
// again. A peak whose fit falls below the threshold (a wrinkle of the disk's
// fit rather than a source) is passed over, and the search goes on beside it.
void FindSources(Work& w, double step, double binWidth) {
    const ProfileSettings& settings = w.settings;
    const double sigma0 = w.model.sigma;
    std::vector<std::pair<double, double>> passedOver;  // ranges of offsets
    for (const double at : w.steps)
        passedOver.push_back({at - settings.stepReach * sigma0, at + settings.stepReach * sigma0});
    double& threshold = w.threshold;
    for (int round = 0; round < settings.mostSources + 3 && static_cast<int>(w.sources.size()) < settings.mostSources;
         ++round) {
        std::vector<double> r;
        for (const std::size_t i : w.disk) r.push_back(w.d[i] - DiskAt(w, w.b.x[i]) - SourcesAt(w.sources, w.b.x[i]));
        const double kernel = std::max(1.0, settings.sourceSmoothing * sigma0 / binWidth);
        const std::vector<double> s = Smoothed(r, kernel);
        std::size_t best = r.size();
        for (std::size_t k = 0; k < r.size(); ++k) {
            const double x = w.b.x[w.disk[k]];
            if (std::fabs(x - w.model.centre) > w.model.radius + sigma0) continue;
            bool passed = false;
            for (const auto& [low, high] : passedOver) passed = passed || (x >= low && x <= high);
            if (!passed && (best == r.size() || s[k] > s[best])) best = k;
        }
        // The noise of the smoothed residual: a Gaussian kernel of k points
        // takes the noise down by the square root of 2 sqrt(pi) k.
        const double points = std::max(1.0, settings.sourceSmoothing * sigma0 / step);
        const double smoothedNoise = w.noise / std::sqrt(2.0 * std::sqrt(kPi) * points);
        threshold = std::max(settings.sourceSigmas * smoothedNoise, settings.sourceShare * w.model.quiet);
        if (best == r.size() || !(s[best] >= threshold)) break;
        std::size_t left = best, right = best;
        while (left > 0 && s[left - 1] > 0.5 * s[best]) --left;
        while (right + 1 < s.size() && s[right + 1] > 0.5 * s[best]) ++right;
        const double halfWidth = 0.5 * std::fabs(w.b.x[w.disk[right]] - w.b.x[w.disk[left]]) + 0.5 * binWidth;
        ProfileSource found;
        found.position = w.b.x[w.disk[best]];
        found.peak = s[best];
        found.width = std::clamp(halfWidth / 1.1774100225154747, w.limits.widthLow, w.limits.widthHigh);
        const std::vector<ProfileSource> before = w.sources;
        w.sources.push_back(found);
        Fit(w, Moving::Sources, settings.fitIterations);
        if (!(w.sources.back().peak >= threshold) || Degenerate(w.sources, settings.degenerateWidths)) {
            w.sources = before;
            passedOver.push_back({found.position - 2.0 * found.width, found.position + 2.0 * found.width});
            continue;
        }
        Fit(w, Moving::Both, settings.fitIterations);
    }
    SplitBlends(w, threshold);
}

// Where the beam resolves the rim, its width is fitted too.
bool RimResolved(const Work& w) {
    return w.model.sigma < w.settings.rimResolved * w.model.rimWidth * w.model.radius;
}

// A rim the beam does not resolve trades against the disk's radius and
// level, and its width, held at one of the settings', is not determined:
// no rim and the rims of other widths can fit nearly as well with another
// level. The share of the chosen level that they leave open: the largest
// difference from it of the level of an alternative (`measures` and
// `levels`, one each) whose measure lies within rimGain times the noise
// variance of the chosen one's.
double RimLevelShare(const Work& w, const std::vector<double>& measures, const std::vector<double>& levels,
                     double chosenMeasure) {
    if (!(std::fabs(w.model.quiet) > 0.0)) return 0.0;
    double spread = 0.0;
    for (std::size_t k = 0; k < measures.size(); ++k)
        if (std::fabs(measures[k] - chosenMeasure) <= w.settings.rimGain * w.noise * w.noise)
            spread = std::max(spread, std::fabs(levels[k] - w.model.quiet));
    return spread / std::fabs(w.model.quiet);
}

// The limb's rim: each width of the settings tried with the disk refitted,
// the best kept when it fits better than no rim by rimGain times the noise
// variance.
void ChooseRim(Work& w, Moving moving = Moving::Disk) {
    DiskModel start = w.model;
    start.rim = 0.0;
    const std::vector<ProfileSource> startSources = w.sources;
    // Without a rim, as the measure of what a rim must better.
    w.rimFree = w.rimWidthFree = false;
    w.model = start;
    Fit(w, moving, w.settings.fitIterations);
    std::vector<double> measures = {SumOfSquaresOnDisk(w)}, levels = {w.model.quiet};
    double best = measures[0] - w.settings.rimGain * w.noise * w.noise, chosenMeasure = measures[0];
    DiskModel chosen = w.model;
    double chosenError = w.quietError;
    std::vector<ProfileSource> noRimSources = w.sources;
    bool free = false;
    w.rimFree = true;
    w.rimWidthFree = false;
    std::vector<ProfileSource> chosenSources = noRimSources;
    for (const double width : w.settings.rimWidths) {
        w.model = start;
        w.model.rimWidth = width;
        w.model.rim = 0.0;
        w.sources = startSources;
        Fit(w, moving, w.settings.fitIterations);
        const double squares = SumOfSquaresOnDisk(w);
        measures.push_back(squares);
        levels.push_back(w.model.quiet);
        if (squares < best) {
            best = chosenMeasure = squares;
            chosen = w.model;
            chosenError = w.quietError;
            chosenSources = w.sources;
            free = true;
        }
    }
    w.model = chosen;
    w.sources = chosenSources;
    w.quietError = chosenError;
    w.rimFree = free;
    w.rimLevelShare = RimLevelShare(w, measures, levels, chosenMeasure);
    if (!free) {
        w.model.rim = 0.0;
        return;
    }
    w.rimWidthFree = RimResolved(w);
    if (w.rimWidthFree) Fit(w, moving, w.settings.fitIterations);
}

// The limb's rim while the sources are not known yet: for no rim and each
// width of the settings, the disk with the rim free is fitted without what
// stands above it; the measure is the median of the squared residuals over
// the disk (which the sources, covering less than half of it, do not move).
// A rim is kept when it betters that of no rim by rimGain times the noise
// variance over the disk's bins.
void ChooseRimAlone(Work& w, double binWidth) {
    DiskModel start = w.model;
    start.rim = 0.0;
    const auto score = [&]() {
        std::vector<double> squares;
        for (const std::size_t i : w.disk) {
            const double r = w.d[i] - DiskAt(w, w.b.x[i]);
            squares.push_back(w.b.count[i] * r * r);
        }
        return Median(squares) / 0.4549364 * static_cast<double>(squares.size());
    };
    w.rimFree = w.rimWidthFree = false;
    w.model = start;
    FitQuietDisk(w, binWidth);
    // No rim is sought where the disk alone leaves no more than the noise
    // near the limbs.
    double excess = 0.0;
    for (const std::size_t i : w.disk) {
        const double u = std::fabs(w.b.x[i] - w.model.centre);
        if (u < (1.0 - w.settings.rimWidths.back()) * w.model.radius || u > w.model.radius + 2.0 * w.model.sigma) continue;
        const double r = w.d[i] - DiskAt(w, w.b.x[i]);
        excess += w.b.count[i] * r * r / (w.noise * w.noise) - 1.0;
    }
    if (!w.settings.seekRim || !(excess > w.settings.rimGain)) return;
    std::vector<double> measures = {score()}, levels = {w.model.quiet};
    double best = measures[0] - w.settings.rimGain * w.noise * w.noise, chosenMeasure = measures[0];
    DiskModel chosen = w.model;
    double chosenError = w.quietError;
    bool free = false;
    for (const double width : w.settings.rimWidths) {
        w.model = start;
        w.model.rimWidth = width;
        w.rimFree = true;
        FitQuietDisk(w, binWidth);
        const double measure = score();
        measures.push_back(measure);
        levels.push_back(w.model.quiet);
        if (measure < best) {
            best = chosenMeasure = measure;
            chosen = w.model;
            chosenError = w.quietError;
            free = true;
        }
    }
    w.model = chosen;
    w.quietError = chosenError;
    w.rimFree = free;
    w.rimWidthFree = free && RimResolved(w);
    if (!free) w.model.rim = 0.0;
    w.rimLevelShare = RimLevelShare(w, measures, levels, chosenMeasure);
}

// The largest level step of the residual: at each change from one bin to
// the next (other than a change of group), the mean of the points within
// `reach` arcsec after it less that of those before it, in standard errors
// of the difference. `at` receives its offset and `size` the step.
double LargestStep(const Work& w, const std::vector<double>& residual, double reach, double& at, double& size) {
    double largest = 0.0;
    const std::size_t n = w.b.x.size();
    for (std::size_t j = 1; j < n; ++j) {
        if (w.b.group[j] != w.b.group[j - 1]) continue;
        double sums[2] = {0.0, 0.0}, counts[2] = {0.0, 0.0};
        for (std::size_t i = j; i-- > 0 && w.b.x[j] - w.b.x[i] <= reach + 1e-9 && w.b.group[i] == w.b.group[j];) {
            sums[0] += w.b.count[i] * residual[i];
            counts[0] += w.b.count[i];
        }
        for (std::size_t i = j; i < n && w.b.x[i] - w.b.x[j - 1] <= reach + 1e-9 && w.b.group[i] == w.b.group[j]; ++i) {
            sums[1] += w.b.count[i] * residual[i];
            counts[1] += w.b.count[i];
        }
        if (counts[0] < 3.0 || counts[1] < 3.0) continue;
        // The limbs drop steeply by nature: a step there is the disk's.
        const double u = std::fabs(0.5 * (w.b.x[j] + w.b.x[j - 1]) - w.model.centre);
        if (std::fabs(u - w.model.radius) < 2.0 * w.model.sigma + reach) continue;
        const double step = sums[1] / counts[1] - sums[0] / counts[0];
        const double sigmas = std::fabs(step) / (w.noise * std::sqrt(1.0 / counts[0] + 1.0 / counts[1]));
        if (sigmas > largest) {
            largest = sigmas;
            at = 0.5 * (w.b.x[j] + w.b.x[j - 1]);
            size = step;
        }
    }
    return largest;
}

// The offsets where the group changes (steps that a repair left).
std::vector<double> GroupChanges(const std::vector<double>& x, const std::vector<int>* groups) {
    std::vector<double> at;
    if (!groups) return at;
    for (std::size_t i = 1; i < x.size(); ++i)
        if ((*groups)[i] != (*groups)[i - 1]) at.push_back(0.5 * (x[i] + x[i - 1]));
    return at;
}

}  // namespace

DiskModel DiskOf(const ProfileFit& fit) {
    DiskModel d;
    d.quiet = fit.quiet;
    d.radius = fit.radius;
    d.centre = fit.centre;
    d.sigma = fit.beamSigma;
    d.rim = fit.rim;
    d.rimWidth = fit.rimWidth > 0.0 ? fit.rimWidth : 0.1;
    return d;
}

double SkyAt(const ProfileFit& fit, double offset) {
    if (fit.sky.terms.empty()) return fit.skyLevel + fit.skySlope * offset;
    return SkyOf(fit.sky, offset);
}

std::vector<double> QuietValues(const ProfileFit& fit, const std::vector<double>& offsets) {
    ShapeCache cache;
    const DiskModel disk = DiskOf(fit);
    std::vector<double> values;
    for (const double x : offsets) values.push_back(DiskAt(disk, cache, x));
    return values;
}

std::vector<double> ModelValues(const ProfileFit& fit, const std::vector<double>& offsets) {
    std::vector<double> values = QuietValues(fit, offsets);
    for (std::size_t i = 0; i < offsets.size(); ++i) values[i] += SkyAt(fit, offsets[i]) + SourcesAt(fit.sources, offsets[i]);
    return values;
}

bool FitProfile(const std::vector<double>& x, const std::vector<double>& y, const ProfileGeometry& geometry,
                const ProfileSettings& settings, ProfileFit& fit, std::string& error, const std::vector<int>* groups,
                const ProfileFit* start) {
    fit = ProfileFit();
    if (x.size() != y.size() || x.size() < 3 || (groups && groups->size() != x.size())) {
        error = "the scan holds " + std::to_string(x.size()) + " points, too few to fit";
        return false;
    }
    const double step = std::fabs(x[1] - x[0]);
    const double from = settings.skyRadii * geometry.opticalRadius + settings.skyBeams * geometry.beamWidth;
    const double beam = SigmaOfWidth(geometry.beamWidth);
    const auto perBin = static_cast<std::size_t>(std::max(1.0, std::floor(settings.binBeams * beam / step)));
    const Bins b = MakeBins(x, y, groups, perBin);
    const double binWidth = step * static_cast<double>(perBin);
    Work w{b, settings, LimitsOf(geometry, settings)};
    w.steps = GroupChanges(x, groups);
    w.model.sigma = beam;
    w.model.rimWidth = settings.rimWidths.empty() ? 0.1 : settings.rimWidths[settings.rimWidths.size() / 2];
    if (start) {
        w.model = DiskOf(*start);
        w.rimFree = start->rim != 0.0;
        w.rimLevelShare = start->rimLevelShare;
        w.sources = start->sources;
    }
    for (int pass = 0; pass < 2; ++pass) {
        if (!FitSky(x, y, groups, b, w.model.centre, from, settings, fit, error)) return false;
        w.noise = fit.noise;
        w.d.resize(b.x.size());
        w.disk.clear();
        std::size_t diskPoints = 0;
        for (std::size_t i = 0; i < b.x.size(); ++i) {
            w.d[i] = b.y[i] - SkyAt(fit, b.x[i]);
            if (std::fabs(b.x[i] - w.model.centre) > from) continue;
            w.disk.push_back(i);
            diskPoints += static_cast<std::size_t>(b.count[i]);
        }
        if (diskPoints < 20 || w.disk.size() < kDiskParameters + 4) {
            error = "only " + std::to_string(diskPoints) + " points lie between the sky regions, too few for the disk";
            return false;
        }
        if (pass == 0 && !start) {
            // The radio disk is somewhat larger than the optical one: start
            // from the radius that fits best with the level fitted alone.
            double bestSum = -1.0;
            for (int k = 0; k < 5; ++k) {
                const double share = 1.0 + (settings.startRadiusHigh - 1.0) * k / 4.0;
                const DiskShape& shape = w.cache.Get(share * geometry.opticalRadius, w.model.sigma);
                std::vector<std::vector<double>> column(1);
                std::vector<double> values, c;
                for (const std::size_t i : w.disk) {
                    const double root = std::sqrt(b.count[i]);
                    column[0].push_back(DiskShapeAt(shape, b.x[i]) * root);
                    values.push_back(w.d[i] * root);
                }
                if (!LinearFit(column, values, c)) continue;
                double sum = 0.0;
                for (std::size_t k2 = 0; k2 < values.size(); ++k2)
                    sum += (values[k2] - c[0] * column[0][k2]) * (values[k2] - c[0] * column[0][k2]);
                if (bestSum < 0 || sum < bestSum) {
                    bestSum = sum;
                    w.model.quiet = c[0];
                    w.model.radius = share * geometry.opticalRadius;
                }
            }
            w.model.quiet = std::max(w.model.quiet, 0.0);
            // The disk without what stands above it, then its rim, which
            // spans both limbs alike and would otherwise be taken for
            // sources there.
            ChooseRimAlone(w, binWidth);
            FindSources(w, step, binWidth);
            // Sources found at the limbs may be the rim's: the rim again
            // with them, and those it leaves below the threshold dropped.
            bool atLimb = false;
            for (const ProfileSource& source : w.sources)
                atLimb = atLimb || std::fabs(source.position - w.model.centre) >
                                       (1.0 - settings.rimWidths.back()) * w.model.radius - source.width;
            if (settings.seekRim && atLimb) {
                ChooseRim(w, Moving::Both);
                std::vector<ProfileSource> kept;
                for (const ProfileSource& source : w.sources)
                    if (source.peak >= w.threshold) kept.push_back(source);
                w.sources = kept;
            }
        }
        Fit(w, Moving::Both, settings.fitIterations);
        // A source the fit took down below the threshold (to no peak at
        // all, where its position and width mean nothing) is dropped.
        // So is a rim the fit took down to nothing, whose width then means
        // nothing; a rim's width the data do not determine is held, and a
        // rim or a source they do not determine is dropped.
        for (int round = 0; round < 3; ++round) {
            std::vector<ProfileSource> kept;
            for (std::size_t k = 0; k < w.sources.size(); ++k) {
                const ProfileSource& source = w.sources[k];
                const bool undetermined = w.stop == FitStop::Singular &&
                                          std::find(w.sourcesUnconstrained.begin(), w.sourcesUnconstrained.end(), k) !=
                                              w.sourcesUnconstrained.end();
                if (source.peak >= w.threshold && source.peak > 0.0 && !undetermined) kept.push_back(source);
            }
            const bool singular = w.stop == FitStop::Singular;
            const bool noRim = w.rimFree && (!(w.model.rim > 0.0) || (singular && w.rimUnconstrained));
            const bool holdWidth = w.rimWidthFree && singular && w.rimWidthUnconstrained;
            if (kept.size() == w.sources.size() && !noRim && !holdWidth) break;
            w.sources = kept;
            if (noRim) w.rimFree = w.rimWidthFree = false;
            if (holdWidth) w.rimWidthFree = false;
            if (!w.rimFree) w.model.rim = 0.0;
            Fit(w, Moving::Both, settings.fitIterations);
        }
        // The sky again, around the centre found, when it moved noticeably.
        if (std::fabs(w.model.centre) < 2.0 * step) break;
    }

    fit.quiet = w.model.quiet;
    fit.rimLevelShare = w.rimLevelShare;
    fit.quietError = std::hypot(w.quietError, w.rimLevelShare * w.model.quiet);
    fit.radius = w.model.radius;
    fit.centre = w.model.centre;
    fit.beamSigma = w.model.sigma;
    fit.rim = w.model.rim;
    fit.rimWidth = w.model.rimWidth;
    fit.sources = w.sources;
    std::sort(fit.sources.begin(), fit.sources.end(),
              [](const ProfileSource& a, const ProfileSource& b) { return a.position < b.position; });
    for (const double at : GroupChanges(x, groups))
        for (ProfileSource& s : fit.sources)
            s.atStep = s.atStep || std::fabs(s.position - at) < settings.stepReach * fit.beamSigma;
    if (!(w.model.quiet > settings.diskSigmas * w.noise) || !(w.model.quiet > 0.0)) {
        error = "the disk is not above the sky: its level is " + Format("%.6g", w.model.quiet) +
                " against a noise of " + Format("%.3g", w.noise);
        return false;
    }
    if (w.stop == FitStop::Singular) {
        error = "the fit of the disk and the sources is singular: the data do not determine " +
                (w.unconstrained.empty() ? std::string("all of its parameters") : w.unconstrained);
        return false;
    }
    double squares = 0.0, points = 0.0;
    int onDisk = 0, covered = 0;
    for (const std::size_t i : w.disk) {
        const double r = w.d[i] - DiskAt(w, b.x[i]) - SourcesAt(w.sources, b.x[i]);
        squares += b.count[i] * r * r;
        points += b.count[i];
        if (std::fabs(b.x[i] - w.model.centre) > w.model.radius) continue;
        ++onDisk;
        covered += SourcesAt(w.sources, b.x[i]) > settings.coverLevel * w.model.quiet ? 1 : 0;
    }
    fit.residual = std::sqrt(squares / points);
    fit.covered = onDisk > 0 ? static_cast<double>(covered) / onDisk : 0.0;
    if (fit.covered > settings.mostCovered) {
        error = "compact sources cover " + Format("%.0f", 100.0 * fit.covered) + " % of the disk (more than " +
                Format("%.0f", 100.0 * settings.mostCovered) +
                " %): too little quiet Sun is left to calibrate on, as when a flare fills the disk or the scan is damaged";
        return false;
    }
    error = ResidualRefusal(fit.residual, w.model.quiet, w.noise, settings);
    if (!error.empty()) return false;
    // A level step the model cannot follow: a jump left unrepaired, or
    // repaired with the wrong ratio.
    std::vector<double> residual(b.x.size());
    for (std::size_t i = 0; i < b.x.size(); ++i)
        residual[i] = w.d[i] - DiskAt(w, b.x[i]) - SourcesAt(w.sources, b.x[i]);
    double at = 0.0, size = 0.0;
    const double sigmas = LargestStep(w, residual, settings.stepBeams * fit.beamSigma, at, size);
    if (sigmas > settings.stepSigmas && std::fabs(size) > settings.stepShare * w.model.quiet) {
        error = "a level step of " + Format("%+.2g", 100.0 * size / w.model.quiet) + " % of the quiet level (" +
                Format("%.0f", sigmas) + " standard errors) at " + Format("%.0f", at) +
                " arcsec, which neither the sky nor the Sun makes: a level jump left unrepaired or repaired with the "
                "wrong ratio (with --recording the repaired ranges are fitted)";
        return false;
    }
    return true;
}

std::string ResidualRefusal(double residual, double quiet, double noise, const ProfileSettings& settings) {
    if (!(residual > settings.worstResidual * quiet) || !(residual > 2.0 * noise)) return std::string();
    return "the scan does not follow a quiet disk seen through the beam: the fit leaves " +
           Format("%.2g", 100.0 * residual / quiet) + " % of the quiet level (at most " +
           Format("%.2g", 100.0 * settings.worstResidual) + " %), as when a flare fills the disk or the scan is damaged";
}

bool FitAmplitudes(const std::vector<double>& x, const std::vector<double>& y, const ProfileFit& shapes,
                   AmplitudeFit& a, const std::vector<int>* groups) {
    a = AmplitudeFit();
    ShapeCache cache;
    DiskModel disk = DiskOf(shapes);
    disk.quiet = 1.0;
    std::vector<std::vector<double>> columns(1 + shapes.sources.size());
    std::vector<double> values;
    std::vector<std::vector<double>> runs(2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (groups && (*groups)[i] < 0) continue;
        const double u = x[i] - shapes.centre;
        if (std::fabs(u) > shapes.skyFrom) {
            runs[u < 0 ? 0 : 1].push_back(y[i]);
            continue;
        }
        values.push_back(y[i]);
        columns[0].push_back(DiskAt(disk, cache, x[i]));
        for (std::size_t k = 0; k < shapes.sources.size(); ++k) {
            ProfileSource unit = shapes.sources[k];
            unit.peak = 1.0;
            columns[k + 1].push_back(SourceAt(unit, x[i]));
        }
    }
    std::vector<double> c;
    SquareMatrix covariance;
    if (values.size() <= columns.size() || !LinearFit(columns, values, c, &covariance)) return false;
    double squares = 0.0;
    for (std::size_t j = 0; j < values.size(); ++j) {
        double m = 0.0;
        for (std::size_t k = 0; k < columns.size(); ++k) m += c[k] * columns[k][j];
        squares += (values[j] - m) * (values[j] - m);
    }
    a.residual = std::sqrt(squares / static_cast<double>(values.size()));
    a.noise = PooledNoise(runs);
    const double sigma = std::max(a.noise, std::sqrt(squares / static_cast<double>(values.size() - columns.size())));
    const auto error = [&](std::size_t k) {
        return std::sqrt(std::max(0.0, covariance.at(static_cast<int>(k), static_cast<int>(k)))) * sigma;
    };
    a.quiet = c[0];
    a.quietError = error(0);
    for (std::size_t k = 1; k < columns.size(); ++k) {
        a.peaks.push_back(c[k]);
        a.peakErrors.push_back(error(k));
    }
    return true;
}
