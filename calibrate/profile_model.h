// The model of a drift-scan profile over its sky: the quiet Sun, a disk seen
// through the fan beam whose brightness may rise in a rim just inside its
// limb, and compact sources, Gaussians along the scan. Values and their
// derivatives by the parameters; the solver that fits them is apart
// (calibrate/least_squares.h).
#pragma once

#include <cstddef>
#include <list>
#include <vector>

#include "calibrate/disk_shape.h"

// The disk's parameters, in the order of the model's parameter vector.
enum DiskParameter { kQuiet = 0, kRadius, kCentre, kSigma, kRim, kRimWidth, kDiskParameters };
// A source's parameters, three after the disk's (or from 0 when the disk is held).
enum SourceParameter { kPeak = 0, kPosition, kWidth, kSourceParameters };

struct DiskModel {
    double quiet = 0.0;   // the uniform disk's level at its centre
    double radius = 0.0;  // arcsec
    double centre = 0.0;  // offset of the centre, arcsec
    double sigma = 0.0;   // the beam's standard deviation, arcsec
    // The rim: an annulus from (1 - rimWidth) x radius to the radius whose
    // brightness is `rim` times the uniform disk's over it.
    double rim = 0.0;
    double rimWidth = 0.1;  // share of the radius
};

struct ProfileSource {
    double position = 0.0, positionError = 0.0;  // arcsec
    double width = 0.0, widthError = 0.0;        // the Gaussian's standard deviation, arcsec
    double peak = 0.0, peakError = 0.0;          // the excess over the quiet Sun at its centre
    bool atStep = false;  // lies at a level step the repair of a jump left (never reported)
};

// The last few disk shapes made, since a fit asks for the same ones again.
// A shape it gives stays in place until a dozen others have been asked for
// (the least recently asked goes first).
struct ShapeCache {
    std::list<DiskShape> shapes;
    const DiskShape& Get(double radius, double sigma);
    // The shapes the derivatives by radius and beam are taken from (outer
    // and inner edge of the rim: at the base, a radius further, a beam
    // wider): made again only when the fit has moved on by more than a few
    // of their steps (the model's values are always exact).
    struct Derivatives {
        double radius = 0.0, sigma = 0.0, rimWidth = 0.0, dr = 0.0, ds = 0.0;
        DiskShape base, baseInner, wider, widerInner, narrower, narrowerInner, blurred, blurredInner, sharper,
            sharperInner, thinner, thicker;
    } derivatives;
};

// The quiet disk (uniform part and rim) at offset x, and the rim alone for
// a rim of 1 (the annulus's shape, 0 outside the disk).
double DiskAt(const DiskModel& disk, ShapeCache& cache, double x);
double RimShapeAt(const DiskModel& disk, ShapeCache& cache, double x);
double SourceAt(const ProfileSource& source, double x);
double SourcesAt(const std::vector<ProfileSource>& sources, double x);

// What a model function moves: the disk's five parameters, the sources'
// three each, or both; what it holds comes from `disk` and `sources`.
struct ProfileModelSetup {
    const std::vector<double>* x = nullptr;  // offsets of the points
    bool moveDisk = true, moveSources = true;
    bool moveRim = true;  // the rim's brightness is one of the disk's parameters (else held)
    bool moveRimWidth = true;  // and its width (with the brightness only)
    DiskModel disk;                          // held values, and the rim's width
    std::vector<ProfileSource> sources;      // held values, or the number of sources that move
};

// The parameter vector of the moving part of `setup`, and where its
// sources' parameters begin.
std::vector<double> ModelParameters(const ProfileModelSetup& setup);
std::size_t FirstSourceParameter(const ProfileModelSetup& setup);

// The model at each offset for parameters `p` and, when `jacobian` is not
// null, its derivatives (jacobian[k][i] = d model[i] / d p[k]). The
// derivatives by radius and beam are central differences of tabulated shapes
// a thousandth of the radius and a hundredth of the beam apart (taken at
// the cache's base, within three such differences of `p`); those by the
// centre, central differences a quarter of the table's step apart.
void EvaluateProfileModel(const ProfileModelSetup& setup, ShapeCache& cache, const std::vector<double>& p,
                          std::vector<double>& values, std::vector<std::vector<double>>* jacobian);
