#include "calibrate/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <cstdio>

#include "calibrate/disk_shape.h"
#include "calibrate/least_squares.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

double SourceAt(const ProfileSource& s, double x) {
    const double d = (x - s.position) / s.width;
    return s.peak * std::exp(-0.5 * d * d);
}

double SourcesAt(const std::vector<ProfileSource>& sources, double x) {
    double sum = 0.0;
    for (const ProfileSource& s : sources) sum += SourceAt(s, x);
    return sum;
}

// The disk's parameters in the order the nonlinear fit uses.
enum DiskParameter { kQuiet = 0, kRadius, kCentre, kSigma, kDiskParameters };

// The last few shapes made, since the fit asks for the same ones again.
struct ShapeCache {
    std::vector<DiskShape> shapes;

    const DiskShape& Get(double radius, double sigma) {
        for (const DiskShape& s : shapes)
            if (s.radius == radius && s.sigma == sigma) return s;
        if (shapes.size() >= 6) shapes.erase(shapes.begin());
        shapes.push_back(MakeDiskShape(radius, sigma));
        return shapes.back();
    }
};

// The bounds of the fitted values, from what the scan file says.
struct Limits {
    double radiusLow, radiusHigh, centreReach, sigmaLow, sigmaHigh, widthLow, widthHigh;
};

Limits LimitsOf(const ProfileGeometry& g) {
    const double sigma = SigmaOfWidth(g.beamWidth);
    return {0.8 * g.opticalRadius, 1.6 * g.opticalRadius, 0.25 * g.opticalRadius, 0.5 * sigma, 2.0 * sigma,
            0.5 * sigma, 0.3 * g.opticalRadius + sigma};
}

// Everything fitted so far, with the points it is fitted to.
struct Work {
    const std::vector<double>& x;
    Limits limits;
    std::vector<double> d{};           // the values less the sky
    std::vector<std::size_t> disk{};  // the points between the two sky regions
    ShapeCache cache{};
    // The shapes the disk's derivatives by radius and beam were last taken
    // from: taken again only when the fit has moved on by more than a few
    // of their steps (the fit's trial values are always exact).
    DiskShape derivativeBase{}, wider{}, blurred{};
    double quiet = 0, radius = 0, centre = 0, sigma = 0;
    double quietError = 0;
    std::vector<ProfileSource> sources{};
    double noise = 0;
    std::vector<bool> aside{};  // points the disk's fit leaves aside (a fit of the disk alone only)
};

double DiskAt(Work& w, double x) { return w.quiet * DiskShapeAt(w.cache.Get(w.radius, w.sigma), x - w.centre); }

// What a fit moves: the disk's four parameters, the sources' three each, or both.
enum class Moving { Disk, Sources, Both };

// Fits what `moving` names to the values less what stays, over the disk's
// points (the sources alone: over the points within five widths of one).
// Errors come from the larger of the noise and the fit's own residual.
void Fit(Work& w, Moving moving, int iterations) {
    const bool disk = moving != Moving::Sources, sources = moving != Moving::Disk && !w.sources.empty();
    if (!disk && !sources) return;
    std::vector<std::size_t> points;
    for (const std::size_t i : w.disk) {
        bool near = disk && (sources || w.aside.empty() || !w.aside[i]);
        for (const ProfileSource& s : w.sources) near = near || std::fabs(w.x[i] - s.position) < 5.0 * s.width;
        if (near) points.push_back(i);
    }
    std::vector<double> y, start;
    for (const std::size_t i : points)
        y.push_back(w.d[i] - (disk ? 0.0 : DiskAt(w, w.x[i])) - (sources ? 0.0 : SourcesAt(w.sources, w.x[i])));
    const std::size_t first = disk ? kDiskParameters : 0;  // of the sources' parameters
    if (disk) start = {w.quiet, w.radius, w.centre, w.sigma};
    if (sources)
        for (const ProfileSource& s : w.sources) start.insert(start.end(), {s.peak, s.position, s.width});
    const ModelFunction model = [&](const std::vector<double>& p, std::vector<double>& values,
                                    std::vector<std::vector<double>>* jacobian) {
        const std::size_t n = points.size();
        values.assign(n, 0.0);
        if (jacobian) jacobian->assign(p.size(), std::vector<double>(n, 0.0));
        if (disk) {
            const DiskShape base = w.cache.Get(p[kRadius], p[kSigma]);
            for (std::size_t k = 0; k < n; ++k) values[k] = p[kQuiet] * DiskShapeAt(base, w.x[points[k]] - p[kCentre]);
            if (jacobian) {
                const double dr = 1e-3 * p[kRadius], ds = 1e-2 * p[kSigma], dc = 0.25 * base.step;
                DiskShape& from = w.derivativeBase;
                if (from.values.empty() || std::fabs(from.radius - p[kRadius]) > 3.0 * dr ||
                    std::fabs(from.sigma - p[kSigma]) > 3.0 * ds) {
                    from = base;
                    w.wider = MakeDiskShape(p[kRadius] + dr, p[kSigma]);
                    w.blurred = MakeDiskShape(p[kRadius], p[kSigma] + ds);
                }
                for (std::size_t k = 0; k < n; ++k) {
                    const double u = w.x[points[k]] - p[kCentre];
                    const double here = DiskShapeAt(base, u), there = DiskShapeAt(from, u);
                    (*jacobian)[kQuiet][k] = here;
                    (*jacobian)[kRadius][k] = p[kQuiet] * (DiskShapeAt(w.wider, u) - there) / dr;
                    (*jacobian)[kCentre][k] =
                        p[kQuiet] * (DiskShapeAt(base, u - dc) - DiskShapeAt(base, u + dc)) / (2 * dc);
                    (*jacobian)[kSigma][k] = p[kQuiet] * (DiskShapeAt(w.blurred, u) - there) / ds;
                }
            }
        }
        if (!sources) return;
        for (std::size_t k = first; k < p.size(); k += 3) {
            for (std::size_t j = 0; j < n; ++j) {
                const double u = (w.x[points[j]] - p[k + 1]) / p[k + 2];
                if (std::fabs(u) > 10.0) continue;
                const double g = std::exp(-0.5 * u * u);
                values[j] += p[k] * g;
                if (!jacobian) continue;
                (*jacobian)[k][j] = g;
                (*jacobian)[k + 1][j] = p[k] * g * u / p[k + 2];
                (*jacobian)[k + 2][j] = p[k] * g * u * u / p[k + 2];
            }
        }
    };
    std::vector<double> around;
    for (const ProfileSource& s : w.sources) around.push_back(s.position);
    const Limits& l = w.limits;
    const ClampFunction clamp = [&](std::vector<double>& p) {
        if (disk) {
            p[kQuiet] = std::max(p[kQuiet], 0.0);
            p[kRadius] = std::clamp(p[kRadius], l.radiusLow, l.radiusHigh);
            p[kCentre] = std::clamp(p[kCentre], -l.centreReach, l.centreReach);
            p[kSigma] = std::clamp(p[kSigma], l.sigmaLow, l.sigmaHigh);
        }
        if (!sources) return;
        for (std::size_t k = first; k < p.size(); k += 3) {
            const double was = around[(k - first) / 3];
            p[k] = std::max(p[k], 0.0);
            p[k + 2] = std::clamp(p[k + 2], l.widthLow, l.widthHigh);
            p[k + 1] = std::clamp(p[k + 1], was - 2.0 * p[k + 2], was + 2.0 * p[k + 2]);
        }
    };
    const NonlinearFit fit = FitNonlinear(model, clamp, y, start, iterations);
    const double dof = std::max(1.0, static_cast<double>(y.size()) - static_cast<double>(start.size()));
    const double sigma = std::max(w.noise, std::sqrt(fit.sumOfSquares / dof));
    const auto error = [&](std::size_t k) {
        const int at = static_cast<int>(k);
        return fit.covarianceKnown ? std::sqrt(std::max(0.0, fit.covariance.at(at, at))) * sigma : 0.0;
    };
    const std::vector<double>& p = fit.parameters;
    if (disk) {
        w.quiet = p[kQuiet];
        w.radius = p[kRadius];
        w.centre = p[kCentre];
        w.sigma = p[kSigma];
        w.quietError = error(kQuiet);
    }
    if (!sources) return;
    for (std::size_t k = 0; k < w.sources.size(); ++k) {
        ProfileSource& s = w.sources[k];
        const std::size_t at = first + 3 * k;
        s.peak = p[at];
        s.position = p[at + 1];
        s.width = p[at + 2];
        s.peakError = error(at);
        s.positionError = error(at + 1);
        s.widthError = error(at + 2);
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

// The straight sky line through the points farther than `from` from `centre`.
bool FitSky(const std::vector<double>& x, const std::vector<double>& y, double centre, double from,
            const ProfileSettings& settings, ProfileFit& fit, std::string& error) {
    std::vector<std::size_t> sky;
    std::vector<std::vector<double>> runs(2);
    int below = 0, above = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double u = x[i] - centre;
        if (std::fabs(u) <= from) continue;
        sky.push_back(i);
        (u < 0 ? below : above) += 1;
        runs[u < 0 ? 0 : 1].push_back(y[i]);
    }
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
    // A straight line, then again without the points more than five robust
    // deviations off it.
    std::vector<std::size_t> used = sky;
    std::vector<double> c;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::vector<double>> columns(2);
        std::vector<double> values;
        for (const std::size_t i : used) {
            columns[0].push_back(1.0);
            columns[1].push_back(x[i] - centre);
            values.push_back(y[i]);
        }
        if (!LinearFit(columns, values, c)) {
            error = "the sky points do not determine a straight line";
            return false;
        }
        std::vector<double> deviations;
        for (const std::size_t i : sky) deviations.push_back(std::fabs(y[i] - c[0] - c[1] * (x[i] - centre)));
        const double limit = 5.0 * 1.4826 * Median(deviations);
        std::vector<std::size_t> kept;
        for (std::size_t k = 0; k < sky.size(); ++k)
            if (deviations[k] <= limit) kept.push_back(sky[k]);
        if (kept.size() < 4 || kept.size() == used.size()) break;
        used = kept;
    }
    fit.skySlope = c[1];
    fit.skyLevel = c[0] - c[1] * centre;
    fit.noise = PooledNoise(runs);
    return true;
}

// The residual smoothed by a Gaussian of `points` samples, at the disk's points.
std::vector<double> Smoothed(const std::vector<double>& r, double points) {
    const int reach = static_cast<int>(std::ceil(3.0 * points));
    std::vector<double> kernel;
    for (int k = -reach; k <= reach; ++k) kernel.push_back(std::exp(-0.5 * (k / points) * (k / points)));
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

// The disk alone, fitted again without the points that stand out above it
// (by more than three robust deviations of the residual, and a beam's width
// around them), so that the sources do not lift it.
void FitQuietDisk(Work& w, double step) {
    Fit(w, Moving::Disk, 30);
    const auto reach = static_cast<std::ptrdiff_t>(std::ceil(w.sigma / step));
    for (int round = 0; round < 3; ++round) {
        std::vector<double> r, deviations;
        for (const std::size_t i : w.disk) r.push_back(w.d[i] - DiskAt(w, w.x[i]));
        const double middle = Median(r);
        for (const double v : r) deviations.push_back(std::fabs(v - middle));
        const double limit = middle + 3.0 * 1.4826 * Median(deviations);
        std::vector<bool> aside(w.x.size(), false);
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
        Fit(w, Moving::Disk, 30);
    }
    w.aside.clear();
}

// Two sources closer than half the wider one's width: one source fitted twice.
bool Degenerate(const std::vector<ProfileSource>& sources) {
    for (std::size_t a = 0; a < sources.size(); ++a)
        for (std::size_t b = a + 1; b < sources.size(); ++b)
            if (std::fabs(sources[a].position - sources[b].position) < 0.5 * std::max(sources[a].width, sources[b].width))
                return true;
    return false;
}

double SumOfSquaresOnDisk(Work& w) {
    double sum = 0.0;
    for (const std::size_t i : w.disk) {
        const double r = w.d[i] - DiskAt(w, w.x[i]) - SourcesAt(w.sources, w.x[i]);
        sum += r * r;
    }
    return sum;
}

// Two sources closer than about two widths look like one wider than the
// beam. Each source that much wider is tried as two, kept when both stand
// above the threshold, lie apart by half a beam and fit clearly better (by
// 50 times the noise variance).
void SplitBlends(Work& w, const ProfileSettings& settings, double threshold) {
    for (std::size_t k = 0; k < w.sources.size() && static_cast<int>(w.sources.size()) < settings.mostSources; ++k) {
        const ProfileSource one = w.sources[k];
        if (one.width < 1.25 * w.sigma) continue;
        const double before = SumOfSquaresOnDisk(w);
        const Work kept = w;
        const double half = 0.6 * one.width;
        ProfileSource a = one, b = one;
        a.position -= half;
        b.position += half;
        a.width = b.width = std::max(0.75 * one.width, w.limits.widthLow);
        a.peak = b.peak = 0.6 * one.peak;
        w.sources[k] = a;
        w.sources.insert(w.sources.begin() + static_cast<std::ptrdiff_t>(k) + 1, b);
        // Tried with the disk held, then, when the two are kept, fitted with it.
        Fit(w, Moving::Sources, 40);
        const auto split = [&]() {
            const ProfileSource& first = w.sources[k];
            const ProfileSource& second = w.sources[k + 1];
            const double apart = std::fabs(first.position - second.position);
            return SumOfSquaresOnDisk(w) < before - 50.0 * w.noise * w.noise && first.peak >= threshold &&
                   second.peak >= threshold && apart >= 0.5 * w.sigma &&
                   apart >= 3.0 * std::hypot(first.positionError, second.positionError) && !Degenerate(w.sources);
        };
        if (split()) Fit(w, Moving::Both, 40);
        if (split()) {
            ++k;  // the second of the two is not tried again
            continue;
        }
        // Not split: the fit as it was.
        std::tie(w.quiet, w.radius, w.centre, w.sigma, w.quietError, w.sources) =
            std::tie(kept.quiet, kept.radius, kept.centre, kept.sigma, kept.quietError, kept.sources);
    }
}

// Sources one by one: the highest peak of the smoothed residual on the disk,
// while it stands above the threshold, each fitted and then everything
// again. A peak whose fit falls below the threshold (a wrinkle of the disk's
// fit rather than a source) is passed over, and the search goes on beside it.
void FindSources(Work& w, const ProfileSettings& settings, double step) {
    const double sigma0 = w.sigma;
    std::vector<std::pair<double, double>> passedOver;  // ranges of offsets
    double threshold = 0.0;
    for (int round = 0; round < settings.mostSources + 3 && static_cast<int>(w.sources.size()) < settings.mostSources;
         ++round) {
        std::vector<double> r;
        for (const std::size_t i : w.disk) r.push_back(w.d[i] - DiskAt(w, w.x[i]) - SourcesAt(w.sources, w.x[i]));
        const double kernel = std::max(1.0, 0.5 * sigma0 / step);
        const std::vector<double> s = Smoothed(r, kernel);
        std::size_t best = r.size();
        for (std::size_t k = 0; k < r.size(); ++k) {
            const double x = w.x[w.disk[k]];
            if (std::fabs(x - w.centre) > w.radius + sigma0) continue;
            bool passed = false;
            for (const auto& [low, high] : passedOver) passed = passed || (x >= low && x <= high);
            if (!passed && (best == r.size() || s[k] > s[best])) best = k;
        }
        // The noise of the smoothed residual: a Gaussian kernel of k points
        // takes the noise down by the square root of 2 sqrt(pi) k.
        const double smoothedNoise = w.noise / std::sqrt(2.0 * std::sqrt(kPi) * kernel);
        threshold = std::max(settings.sourceSigmas * smoothedNoise, settings.sourceShare * w.quiet);
        if (best == r.size() || !(s[best] >= threshold)) break;
        std::size_t left = best, right = best;
        while (left > 0 && s[left - 1] > 0.5 * s[best]) --left;
        while (right + 1 < s.size() && s[right + 1] > 0.5 * s[best]) ++right;
        const double halfWidth = 0.5 * std::fabs(w.x[w.disk[right]] - w.x[w.disk[left]]) + 0.5 * step;
        ProfileSource found;
        found.position = w.x[w.disk[best]];
        found.peak = s[best];
        found.width = std::clamp(halfWidth / 1.1774100225154747, w.limits.widthLow, w.limits.widthHigh);
        const std::vector<ProfileSource> before = w.sources;
        w.sources.push_back(found);
        Fit(w, Moving::Sources, 30);
        if (!(w.sources.back().peak >= threshold) || Degenerate(w.sources)) {
            w.sources = before;
            passedOver.push_back({found.position - 2.0 * found.width, found.position + 2.0 * found.width});
            continue;
        }
        Fit(w, Moving::Both, 30);
    }
    SplitBlends(w, settings, threshold);
}

}  // namespace

double SkyAt(const ProfileFit& fit, double offset) { return fit.skyLevel + fit.skySlope * offset; }

std::vector<double> QuietValues(const ProfileFit& fit, const std::vector<double>& offsets) {
    const DiskShape shape = MakeDiskShape(fit.radius, fit.beamSigma);
    std::vector<double> values;
    for (const double x : offsets) values.push_back(fit.quiet * DiskShapeAt(shape, x - fit.centre));
    return values;
}

std::vector<double> ModelValues(const ProfileFit& fit, const std::vector<double>& offsets) {
    std::vector<double> values = QuietValues(fit, offsets);
    for (std::size_t i = 0; i < offsets.size(); ++i) values[i] += SkyAt(fit, offsets[i]) + SourcesAt(fit.sources, offsets[i]);
    return values;
}

bool FitProfile(const std::vector<double>& x, const std::vector<double>& y, const ProfileGeometry& geometry,
                const ProfileSettings& settings, ProfileFit& fit, std::string& error) {
    fit = ProfileFit();
    if (x.size() != y.size() || x.size() < 3) {
        error = "the scan holds " + std::to_string(x.size()) + " points, too few to fit";
        return false;
    }
    const double step = std::fabs(x[1] - x[0]);
    const double from = settings.skyRadii * geometry.opticalRadius + settings.skyBeams * geometry.beamWidth;
    Work w{x, LimitsOf(geometry)};
    w.sigma = SigmaOfWidth(geometry.beamWidth);
    for (int pass = 0; pass < 2; ++pass) {
        if (!FitSky(x, y, w.centre, from, settings, fit, error)) return false;
        w.noise = fit.noise;
        w.d.resize(x.size());
        w.disk.clear();
        for (std::size_t i = 0; i < x.size(); ++i) {
            w.d[i] = y[i] - SkyAt(fit, x[i]);
            if (std::fabs(x[i] - w.centre) <= from) w.disk.push_back(i);
        }
        if (w.disk.size() < 20) {
            error = "only " + std::to_string(w.disk.size()) + " points lie between the sky regions, too few for the disk";
            return false;
        }
        if (pass == 0) {
            // The radio disk is somewhat larger than the optical one: start
            // from the radius that fits best with the level fitted alone.
            double bestSum = -1.0;
            for (const double share : {1.0, 1.05, 1.1, 1.15, 1.2}) {
                const DiskShape& shape = w.cache.Get(share * geometry.opticalRadius, w.sigma);
                std::vector<std::vector<double>> column(1);
                std::vector<double> values, c;
                for (const std::size_t i : w.disk) {
                    column[0].push_back(DiskShapeAt(shape, x[i]));
                    values.push_back(w.d[i]);
                }
                if (!LinearFit(column, values, c)) continue;
                double sum = 0.0;
                for (std::size_t k = 0; k < values.size(); ++k)
                    sum += (values[k] - c[0] * column[0][k]) * (values[k] - c[0] * column[0][k]);
                if (bestSum < 0 || sum < bestSum) {
                    bestSum = sum;
                    w.quiet = c[0];
                    w.radius = share * geometry.opticalRadius;
                }
            }
            w.quiet = std::max(w.quiet, 0.0);
            FitQuietDisk(w, step);
            FindSources(w, settings, step);
        }
        Fit(w, Moving::Both, 30);
        // The sky again, around the centre found, when it moved noticeably.
        if (std::fabs(w.centre) < 2.0 * step) break;
    }

    fit.quiet = w.quiet;
    fit.quietError = w.quietError;
    fit.radius = w.radius;
    fit.centre = w.centre;
    fit.beamSigma = w.sigma;
    fit.sources = w.sources;
    std::sort(fit.sources.begin(), fit.sources.end(),
              [](const ProfileSource& a, const ProfileSource& b) { return a.position < b.position; });
    if (!(w.quiet > 10.0 * w.noise) || !(w.quiet > 0.0)) {
        error = "the disk is not above the sky: its level is " + Format("%.6g", w.quiet) + " against a noise of " +
                Format("%.3g", w.noise);
        return false;
    }
    double squares = 0.0;
    int onDisk = 0, covered = 0;
    for (const std::size_t i : w.disk) {
        const double r = w.d[i] - DiskAt(w, x[i]) - SourcesAt(w.sources, x[i]);
        squares += r * r;
        if (std::fabs(x[i] - w.centre) > w.radius) continue;
        ++onDisk;
        covered += SourcesAt(w.sources, x[i]) > settings.coverLevel * w.quiet ? 1 : 0;
    }
    fit.residual = std::sqrt(squares / static_cast<double>(w.disk.size()));
    fit.covered = onDisk > 0 ? static_cast<double>(covered) / onDisk : 0.0;
    if (fit.covered > settings.mostCovered) {
        error = "compact sources cover " + Format("%.0f", 100.0 * fit.covered) + " % of the disk (more than " +
                Format("%.0f", 100.0 * settings.mostCovered) +
                " %): too little quiet Sun is left to calibrate on, as when a flare fills the disk or the scan is damaged";
        return false;
    }
    error = ResidualRefusal(fit.residual, w.quiet, w.noise, settings);
    return error.empty();
}

std::string ResidualRefusal(double residual, double quiet, double noise, const ProfileSettings& settings) {
    if (!(residual > settings.worstResidual * quiet) || !(residual > 2.0 * noise)) return std::string();
    return "the scan does not follow a quiet disk seen through the beam: the fit leaves " +
           Format("%.2g", 100.0 * residual / quiet) + " % of the quiet level (at most " +
           Format("%.2g", 100.0 * settings.worstResidual) + " %), as when a flare fills the disk or the scan is damaged";
}

bool FitAmplitudes(const std::vector<double>& x, const std::vector<double>& y, const ProfileFit& shapes,
                   AmplitudeFit& a) {
    a = AmplitudeFit();
    const DiskShape shape = MakeDiskShape(shapes.radius, shapes.beamSigma);
    std::vector<std::vector<double>> columns(1 + shapes.sources.size());
    std::vector<double> values;
    std::vector<std::vector<double>> runs(2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double u = x[i] - shapes.centre;
        if (std::fabs(u) > shapes.skyFrom) {
            runs[u < 0 ? 0 : 1].push_back(y[i]);
            continue;
        }
        values.push_back(y[i]);
        columns[0].push_back(DiskShapeAt(shape, u));
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
