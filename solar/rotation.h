// Where a point of the solar surface lies along a drift scan, and how the
// Sun's differential rotation carries it from day to day.
//
// The scan runs east-west across the disk; its offsets are those of the scan
// files (CDELT1 x (place - PMCSUN)), growing towards the west limb. A point at
// heliographic latitude B and at a distance phi from the central meridian
// (positive to the west) lies on the disk, seen from the Earth, at
//     x = R cos B sin phi   (to the solar west),  y = R sin B   (to the solar north),
// neglecting B0, the tilt of the solar axis towards the Earth (at most
// 7.25 degrees: y moves by at most R sin 7.25 deg x (1 - cos phi)). The solar
// north lies the position angle P (from the celestial north towards the
// east) off the celestial north, so the scan sees the point at
//     offset = x cos P - y sin P.
#pragma once

// The synodic rotation rate at latitude B [degrees per day]: the sidereal
// rate of sunspots 14.713 - 2.396 sin^2 B - 1.787 sin^4 B less the Earth's
// orbital motion, 0.9856.
double SynodicRotationRate(double latitudeDegrees);

// The offset along the scan [arcsec] of a point at `meridianDistance` from
// the central meridian and `latitude` [degrees], for the position angle
// `angleP` [degrees] and the disk's radius [arcsec]. A point behind the limb
// (|meridianDistance| > 90) is given as well: the caller decides.
double ScanOffsetOf(double meridianDistance, double latitude, double angleP, double radius);

// The meridian distances [degrees, within -90..90] at which a point of
// `latitude` lies at `offset` along the scan; false when no point of that
// latitude lies there (|offset| beyond what the latitude allows).
bool MeridianDistanceOf(double offset, double latitude, double angleP, double radius, double& meridianDistance);
