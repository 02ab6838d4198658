// The quiet Sun as a transit telescope's fan beam sees it: a uniform disk of
// radius R summed along the beam's long direction, which gives its chord
// length 2 sqrt(R^2 - u^2) at the offset u, smoothed by the narrow direction
// of the beam, a Gaussian of standard deviation s. Scaled to 1 at the centre.
#pragma once

#include <vector>

struct DiskShape {
    double radius = 0.0;  // arcsec
    double sigma = 0.0;   // of the beam, arcsec
    double step = 0.0;    // between the tabulated offsets
    std::vector<double> values;  // at the offsets 0, step, 2 step, ... (the shape is symmetric)
    // The chord length at the centre as the beam sees it (about 2 radius),
    // by which the values were divided: shapes of other radii compare by it.
    double chordAtCentre = 0.0;
};

// The shape of a disk of `radius` through a beam of `sigma` (both > 0).
DiskShape MakeDiskShape(double radius, double sigma);

// The shape at `offset` arcsec from the disk centre: 1 at the centre, 0 far
// outside the disk.
double DiskShapeAt(const DiskShape& shape, double offset);

// A beam's full width at half maximum and its standard deviation.
double SigmaOfWidth(double fullWidthHalfMaximum);
