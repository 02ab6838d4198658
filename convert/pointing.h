// Pointing and sampling values carried by every scan header.
#pragma once

#include <cstdint>
#include <string>

#include "inputs/observation_header.h"
#include "output/scan_output.h"  // PointingValues

// Degrees, minutes and seconds to decimal degrees; only the sign of the
// degrees decides whether the fraction is added or subtracted.
float DecimalDegrees(int16_t degrees, int16_t minutes, float seconds);

// Derives azimuth, altitude, angle P and the step from the header.
PointingValues DerivePointingValues(const ObservationHeader& header);

// "A<number>" after the first capital A of the object name replaces the azimuth
// with that whole number of degrees; otherwise the azimuth stays as it is.
void AzimuthFromObjectName(const std::string& objectName, float& azimuth);


// Cosine of an angle in radians, as a double. Computed from exact basic
// operations only, so every build gives the same bits (the C libraries'
// cosines differ in the last bit between platforms). Accurate to about one
// unit of the 64-bit significand before the rounding to double. Defined for
// |radians| < 2^128 (every angle a single-precision declination gives);
// returns NaN outside that range and for NaN.
double CosineOfAngle(double radians);
