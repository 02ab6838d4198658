#include "calibrate/disk_shape.h"

#include <algorithm>
#include <cmath>

namespace {

// The beam's Gaussian is cut off beyond this many standard deviations.
constexpr double kBeamReach = 6.0;

// The integral of the chord length 2 sqrt(R^2 - u^2) from 0 to u (|u| <= R).
double ChordIntegral(double u, double radius) {
    u = std::clamp(u, -radius, radius);
    return u * std::sqrt(std::max(0.0, radius * radius - u * u)) + radius * radius * std::asin(u / radius);
}

}  // namespace

double SigmaOfWidth(double fullWidthHalfMaximum) { return fullWidthHalfMaximum / 2.3548200450309493; }

DiskShape MakeDiskShape(double radius, double sigma) {
    DiskShape shape;
    shape.radius = radius;
    shape.sigma = sigma;
    // The disk is cut into an odd number of cells, fine enough for the beam
    // and for the curve of the disk, each cell's share of the chord integral
    // exact and placed at its middle. The shape is tabulated at the same
    // spacing, so that every tabulated offset lies a whole number of cells
    // from every cell's middle and the beam is one table of weights.
    // (A beam far narrower than the disk's curve needs no finer cells than
    // 1/10000 of the radius: the shape is then the chord itself.)
    int cells = static_cast<int>(std::ceil(2.0 * radius / std::max(std::min(sigma / 6.0, radius / 150.0), radius / 10000.0)));
    cells += cells % 2 == 0 ? 1 : 0;
    const double width = 2.0 * radius / cells;
    shape.step = width;
    std::vector<double> mass(static_cast<std::size_t>(cells));
    double below = ChordIntegral(-radius, radius);
    for (int c = 0; c < cells; ++c) {
        const double above = ChordIntegral(-radius + (c + 1) * width, radius);
        mass[static_cast<std::size_t>(c)] = above - below;
        below = above;
    }
    const int reach = static_cast<int>(std::ceil(kBeamReach * sigma / width));
    std::vector<double> weight(static_cast<std::size_t>(reach) + 1);
    for (int k = 0; k <= reach; ++k) weight[static_cast<std::size_t>(k)] = std::exp(-0.5 * (k * width / sigma) * (k * width / sigma));
    // The cell of index c lies (j - c + half) cells from the tabulated offset j.
    const int half = (cells - 1) / 2;
    const int points = half + reach + 4;
    shape.values.assign(static_cast<std::size_t>(points), 0.0);
    for (int j = 0; j < points; ++j) {
        const int first = std::max(0, j + half - reach), last = std::min(cells - 1, j + half + reach);
        double sum = 0.0;
        for (int c = first; c <= last; ++c) sum += mass[static_cast<std::size_t>(c)] * weight[static_cast<std::size_t>(std::abs(j - c + half))];
        shape.values[static_cast<std::size_t>(j)] = sum;
    }
    const double centre = shape.values[0];
    double weights = weight[0];
    for (int k = 1; k <= reach; ++k) weights += 2.0 * weight[static_cast<std::size_t>(k)];
    shape.chordAtCentre = centre / (weights * width);  // each cell holds its chord times its width
    if (centre > 0.0)
        for (double& v : shape.values) v /= centre;
    return shape;
}

double DiskShapeAt(const DiskShape& shape, double offset) {
    const double position = std::fabs(offset) / shape.step;
    const auto count = static_cast<double>(shape.values.size());
    if (!(position < count - 2.0)) return 0.0;
    // Cubic interpolation through the four nearest tabulated values (the
    // table is mirrored about the centre).
    const int j = static_cast<int>(position);
    const double t = position - j;
    const auto value = [&](int k) { return shape.values[static_cast<std::size_t>(std::abs(k))]; };
    const double p0 = value(j - 1), p1 = value(j), p2 = value(j + 1), p3 = value(j + 2);
    return p1 + 0.5 * t * (p2 - p0 + t * (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3 + t * (3.0 * (p1 - p2) + p3 - p0)));
}
