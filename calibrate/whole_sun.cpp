#include "calibrate/whole_sun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The integral of a Gaussian of unit peak over its full width at half
// maximum: sqrt(pi / (4 ln 2)).
constexpr double kGaussianAreaPerWidth = 1.0644670194312262;

// How well the beam's width at a frequency between two rows of the
// calibration table is known (a share): THETA-DG interpolates the rows
// linearly, which overestimates a width falling as 1 / frequency by up to
// 1.5 % midway between rows 25 % apart; the rows interpolated in logarithms
// meet such a width, and are left a third of that for a beam that falls
// otherwise.
constexpr double kCardBeamWidthShare = 0.015;
constexpr double kRowsBeamWidthShare = 0.005;

// The disk and its beam reach this many beam sigmas past the fitted radius.
constexpr double kReachBeams = 4.0;

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

bool MeasureWholeSunFlux(const ScanFileContents& scan, const std::string& name, const ScanCalibration& c,
                         const ScanRecordingFacts& facts, WholeSunFlux& flux, std::string& error) {
    flux = WholeSunFlux();
    flux.name = name;
    flux.frequency = scan.obsFreq;
    flux.fluxFactor = scan.fluxL;
    // The FLUX_L card has three decimals: half the last of them is its error.
    double factorShare = 0.0005 / std::fabs(scan.fluxL);
    if (facts.fluxFactor > 0.0 && std::isfinite(facts.fluxFactor)) {
        flux.fluxFactor = facts.fluxFactor;
        factorShare = 0.0;
    }
    if (!(flux.fluxFactor > 0.0) || !std::isfinite(flux.fluxFactor)) {
        error = name + ": FLUX_L is " + Number(flux.fluxFactor) + ": there is no factor from antenna temperature to flux";
        return false;
    }
    // The beam along the scan: a Gaussian as wide as the recording's table
    // gives it between its rows, else THETA-DG.
    const ProfileFit& fit = c.stokesIFit;
    const bool fromRows = facts.beamWidth > 0.0 && std::isfinite(facts.beamWidth);
    flux.beamWidth = fromRows ? facts.beamWidth : scan.thetaDg;
    flux.beamIntegral = kGaussianAreaPerWidth * flux.beamWidth;
    if (!(flux.beamIntegral > 0.0) || !std::isfinite(flux.beamIntegral)) {
        error = name + ": THETA-DG is " + Number(flux.beamWidth) + ": the beam's width along the scan is not known";
        return false;
    }
    const double beamShare = fromRows ? kRowsBeamWidthShare : kCardBeamWidthShare;
    const std::vector<double>& x = c.offsets;
    const std::vector<double>& t = c.stokesI;
    const double reach = fit.radius + kReachBeams * fit.beamSigma;
    const double low = fit.centre - reach, high = fit.centre + reach;
    const auto [first, last] = std::minmax_element(x.begin(), x.end());
    if (x.size() < 2 || *first > low || *last < high) {
        error = name + ": the scan does not reach " + Number(kReachBeams) +
                " beams past the disk's limbs, where the whole Sun's flux is summed";
        return false;
    }
    // The trapezoid rule over the points within reach, their spacing being
    // the scan's step.
    double integral = 0.0;
    std::size_t inside = 0;
    for (std::size_t i = 0; i + 1 < x.size(); ++i) {
        const double a = x[i], b = x[i + 1];
        if (std::min(a, b) < low || std::max(a, b) > high) continue;
        integral += 0.5 * (t[i] + t[i + 1]) * std::fabs(b - a);
        ++inside;
    }
    const double step = std::fabs(scan.cdelt1);
    flux.integral = integral;
    flux.flux = flux.fluxFactor * integral / flux.beamIntegral;

    // Errors: the noise summed over the points; the sky's level under the
    // disk, known to the noise over the sky points (both polarisations'
    // skies, I their mean); and the quiet level that set the gain.
    const double width = high - low;
    const double noise = fit.noise * step * std::sqrt(static_cast<double>(inside));
    int skyPoints = 0;
    double quietShare = 0.0;
    for (int q = 0; q < 2; ++q) {
        skyPoints += c.fits[q].skyPointsBelow + c.fits[q].skyPointsAbove;
        const double share = c.fits[q].quiet > 0.0 ? c.fits[q].quietError / c.fits[q].quiet : 0.0;
        quietShare += 0.25 * share * share;
    }
    const double sky = skyPoints > 0 ? fit.noise * width / std::sqrt(0.5 * skyPoints) : 0.0;
    const double kelvinArcsec = std::sqrt(noise * noise + sky * sky);
    const double statistical = flux.fluxFactor * kelvinArcsec / flux.beamIntegral;
    const double shares = quietShare + beamShare * beamShare + factorShare * factorShare;
    flux.fluxError = std::sqrt(statistical * statistical + shares * flux.flux * flux.flux);
    return true;
}
