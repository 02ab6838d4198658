#include "calibrate/profile_model.h"

#include <cmath>

const DiskShape& ShapeCache::Get(double radius, double sigma) {
    for (auto s = shapes.begin(); s != shapes.end(); ++s)
        if (s->radius == radius && s->sigma == sigma) {
            shapes.splice(shapes.end(), shapes, s);  // moves no element in memory
            return shapes.back();
        }
    if (shapes.size() >= 12) shapes.pop_front();
    shapes.push_back(MakeDiskShape(radius, sigma));
    return shapes.back();
}

namespace {

// The derivatives' shapes are made again when the parameters have moved by
// this many of their differences.
constexpr double kRebase = 3.0;

// The annulus between r' = (1 - w) R and R seen through the beam, scaled as
// the disk of radius R (1 at the centre of the uniform disk): the chords of
// R less those of r'.
double Annulus(const DiskShape& outer, const DiskShape& inner, double u) {
    return DiskShapeAt(outer, u) - DiskShapeAt(inner, u) * inner.chordAtCentre / outer.chordAtCentre;
}

// The disk with its rim at u from its centre, for shapes of radius R and (1 - w) R.
double WithRim(const DiskShape& outer, const DiskShape& inner, double rim, double u) {
    const double uniform = DiskShapeAt(outer, u);
    return rim == 0.0 ? uniform : uniform + rim * Annulus(outer, inner, u);
}

}  // namespace

double RimShapeAt(const DiskModel& d, ShapeCache& cache, double x) {
    const DiskShape& outer = cache.Get(d.radius, d.sigma);
    const DiskShape& inner = cache.Get((1.0 - d.rimWidth) * d.radius, d.sigma);
    return Annulus(outer, inner, x - d.centre);
}

double DiskAt(const DiskModel& d, ShapeCache& cache, double x) {
    const DiskShape& outer = cache.Get(d.radius, d.sigma);
    if (d.rim == 0.0) return d.quiet * DiskShapeAt(outer, x - d.centre);
    const DiskShape& inner = cache.Get((1.0 - d.rimWidth) * d.radius, d.sigma);
    return d.quiet * WithRim(outer, inner, d.rim, x - d.centre);
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

std::size_t FirstSourceParameter(const ProfileModelSetup& setup) {
    if (!setup.moveDisk) return 0;
    return setup.moveRim ? (setup.moveRimWidth ? kDiskParameters : kRimWidth) : kRim;
}

std::vector<double> ModelParameters(const ProfileModelSetup& setup) {
    std::vector<double> p;
    if (setup.moveDisk) p = {setup.disk.quiet, setup.disk.radius, setup.disk.centre, setup.disk.sigma};
    if (setup.moveDisk && setup.moveRim) p.push_back(setup.disk.rim);
    if (setup.moveDisk && setup.moveRim && setup.moveRimWidth) p.push_back(setup.disk.rimWidth);
    if (setup.moveSources)
        for (const ProfileSource& s : setup.sources) p.insert(p.end(), {s.peak, s.position, s.width});
    return p;
}

void EvaluateProfileModel(const ProfileModelSetup& setup, ShapeCache& cache, const std::vector<double>& p,
                          std::vector<double>& values, std::vector<std::vector<double>>* jacobian) {
    const std::vector<double>& x = *setup.x;
    const std::size_t n = x.size();
    values.assign(n, 0.0);
    if (jacobian) {
        jacobian->resize(p.size());
        for (std::vector<double>& column : *jacobian) column.assign(n, 0.0);
    }
    DiskModel disk = setup.disk;
    if (setup.moveDisk) {
        disk.quiet = p[kQuiet];
        disk.radius = p[kRadius];
        disk.centre = p[kCentre];
        disk.sigma = p[kSigma];
        if (setup.moveRim) disk.rim = p[kRim];
        if (setup.moveRim && setup.moveRimWidth) disk.rimWidth = p[kRimWidth];
    }
    const double w = disk.rimWidth;
    const bool rim = disk.rim != 0.0 || (setup.moveDisk && setup.moveRim);
    const DiskShape& outer = cache.Get(disk.radius, disk.sigma);
    const DiskShape& inner = rim ? cache.Get((1.0 - w) * disk.radius, disk.sigma) : outer;
    for (std::size_t k = 0; k < n; ++k) values[k] = disk.quiet * WithRim(outer, inner, disk.rim, x[k] - disk.centre);
    if (setup.moveDisk && jacobian) {
        ShapeCache::Derivatives& d = cache.derivatives;
        const double dr = 1e-3 * disk.radius, ds = 1e-2 * disk.sigma, dw = 1e-3;
        if (d.base.values.empty() || std::fabs(d.radius - disk.radius) > kRebase * d.dr ||
            std::fabs(d.sigma - disk.sigma) > kRebase * d.ds || std::fabs(d.rimWidth - w) > kRebase * dw ||
            (rim && d.baseInner.radius == d.base.radius)) {
            d.radius = disk.radius;
            d.sigma = disk.sigma;
            d.rimWidth = w;
            d.dr = dr;
            d.ds = ds;
            d.base = outer;
            d.wider = MakeDiskShape(disk.radius + 0.5 * dr, disk.sigma);
            d.narrower = MakeDiskShape(disk.radius - 0.5 * dr, disk.sigma);
            d.blurred = MakeDiskShape(disk.radius, disk.sigma + 0.5 * ds);
            d.sharper = MakeDiskShape(disk.radius, disk.sigma - 0.5 * ds);
            d.baseInner = rim ? inner : d.base;
            d.widerInner = rim ? MakeDiskShape((1.0 - w) * (disk.radius + 0.5 * dr), disk.sigma) : d.wider;
            d.narrowerInner = rim ? MakeDiskShape((1.0 - w) * (disk.radius - 0.5 * dr), disk.sigma) : d.narrower;
            d.blurredInner = rim ? MakeDiskShape((1.0 - w) * disk.radius, disk.sigma + 0.5 * ds) : d.blurred;
            d.sharperInner = rim ? MakeDiskShape((1.0 - w) * disk.radius, disk.sigma - 0.5 * ds) : d.sharper;
            if (setup.moveRim && setup.moveRimWidth) {
                d.thinner = MakeDiskShape((1.0 - w + 0.5 * dw) * disk.radius, disk.sigma);
                d.thicker = MakeDiskShape((1.0 - w - 0.5 * dw) * disk.radius, disk.sigma);
            }
        }
        const double dc = 0.25 * outer.step;
        std::vector<std::vector<double>>& j = *jacobian;
        for (std::size_t k = 0; k < n; ++k) {
            const double u = x[k] - disk.centre;
            const double here = WithRim(outer, inner, disk.rim, u);
            j[kQuiet][k] = here;
            j[kRadius][k] =
                disk.quiet * (WithRim(d.wider, d.widerInner, disk.rim, u) - WithRim(d.narrower, d.narrowerInner, disk.rim, u)) / d.dr;
            j[kCentre][k] = disk.quiet *
                            (WithRim(outer, inner, disk.rim, u - dc) - WithRim(outer, inner, disk.rim, u + dc)) /
                            (2.0 * dc);
            j[kSigma][k] =
                disk.quiet * (WithRim(d.blurred, d.blurredInner, disk.rim, u) - WithRim(d.sharper, d.sharperInner, disk.rim, u)) / d.ds;
            if (setup.moveRim) j[kRim][k] = disk.quiet * Annulus(outer, inner, u);
            if (setup.moveRim && setup.moveRimWidth)
                j[kRimWidth][k] = disk.quiet * disk.rim *
                                  (DiskShapeAt(d.thinner, u) * d.thinner.chordAtCentre -
                                   DiskShapeAt(d.thicker, u) * d.thicker.chordAtCentre) /
                                  (outer.chordAtCentre * dw);
        }
    }
    if (!setup.moveSources) {
        for (std::size_t k = 0; k < n; ++k) values[k] += SourcesAt(setup.sources, x[k]);
        return;
    }
    const std::size_t first = FirstSourceParameter(setup);
    for (std::size_t k = first; k + 2 < p.size(); k += kSourceParameters) {
        for (std::size_t i = 0; i < n; ++i) {
            const double u = (x[i] - p[k + kPosition]) / p[k + kWidth];
            if (std::fabs(u) > 10.0) continue;
            const double g = std::exp(-0.5 * u * u);
            values[i] += p[k] * g;
            if (!jacobian) continue;
            (*jacobian)[k + kPeak][i] = g;
            (*jacobian)[k + kPosition][i] = p[k] * g * u / p[k + kWidth];
            (*jacobian)[k + kWidth][i] = p[k] * g * u * u / p[k + kWidth];
        }
    }
}
