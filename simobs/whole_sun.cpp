#include "simobs/whole_sun.h"

#include <algorithm>
#include <cmath>

#include "convert/channel_plan.h"
#include "inputs/calibration.h"

bool TableFluxFactor(double ghz, double& fluxFactor) {
    const CalibrationLookup lookup = FindCalibrationInText(CalibrationTableText(), NarrowFrequency(ghz));
    if (lookup.result != CalibrationResult::Found) return false;
    fluxFactor = lookup.values.fluxFactor;
    return true;
}

double ScanIntegral(const Scan& scan, const Channel& ch) {
    const double from = (0 - scan.centre) * scan.step, to = (scan.n - 1 - scan.centre) * scan.step;
    // Nodes a quarter of the narrowest Gaussian apart: the trapezoid rule
    // integrates the smooth profiles far below 1e-4 there.
    double narrowest = ch.beamSigma;
    for (double sigma : ch.sourceSigma) narrowest = std::min(narrowest, sigma);
    const int intervals = std::max(1, static_cast<int>(std::ceil((to - from) / (0.25 * narrowest))));
    const double h = (to - from) / intervals;
    double sum = 0.5 * (SkyFreeIntensity(scan, ch, from) + SkyFreeIntensity(scan, ch, to));
    for (int k = 1; k < intervals; ++k) sum += SkyFreeIntensity(scan, ch, from + k * h);
    return sum * h;
}

bool WholeSunFlux(const Scan& scan, const Channel& ch, double& flux) {
    double fluxFactor = 0;
    if (!TableFluxFactor(ch.frequency, fluxFactor)) return false;
    flux = fluxFactor * ScanIntegral(scan, ch) / (ch.beamSigma * std::sqrt(2.0 * kPi));
    return true;
}
