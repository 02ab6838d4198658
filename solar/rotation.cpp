#include "solar/rotation.h"

#include <cmath>

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

}  // namespace

double SynodicRotationRate(double latitudeDegrees) {
    const double s = std::sin(latitudeDegrees * kDegree);
    const double s2 = s * s;
    return 14.713 - 2.396 * s2 - 1.787 * s2 * s2 - 0.9856;
}

double ScanOffsetOf(double meridianDistance, double latitude, double angleP, double radius) {
    const double x = radius * std::cos(latitude * kDegree) * std::sin(meridianDistance * kDegree);
    const double y = radius * std::sin(latitude * kDegree);
    return x * std::cos(angleP * kDegree) - y * std::sin(angleP * kDegree);
}

bool MeridianDistanceOf(double offset, double latitude, double angleP, double radius, double& meridianDistance) {
    // offset = R cos B cos P sin phi - R sin B sin P
    const double along = radius * std::cos(latitude * kDegree) * std::cos(angleP * kDegree);
    if (!(radius > 0.0) || std::fabs(along) < 1e-9 * radius) return false;
    const double s = (offset + radius * std::sin(latitude * kDegree) * std::sin(angleP * kDegree)) / along;
    if (!(std::fabs(s) <= 1.0)) return false;
    meridianDistance = std::asin(s) / kDegree;
    return true;
}
