#include "calibrate/calibration.h"

#include "calibrate/least_squares.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

const char* CalibratedPolarisationName(int polarisation) { return polarisation == kRR ? "RR" : "LL"; }

bool CheckCalibrationCards(const ScanFileContents& scan, const std::string& name, std::string& error) {
    const std::string where = name + ": ";
    if (scan.flagIv != 1) {
        error = where + "FLAG_IV is " + std::to_string(scan.flagIv) +
                "; calibration needs the R and L polarisations (FLAG_IV 1)";
        return false;
    }
    const int p0 = scan.blocks[0].polariz, p1 = scan.blocks[1].polariz;
    if (!((p0 == 1 && p1 == 0) || (p0 == 0 && p1 == 1))) {
        error = where + "POLARIZ is " + std::to_string(p0) + " and " + std::to_string(p1) +
                "; one block must be R (1), the other L (0)";
        return false;
    }
    if (scan.naxis1 < 3) {
        error = where + "the scan holds " + std::to_string(scan.naxis1) + " points, too few to calibrate";
        return false;
    }
    if (!std::isfinite(scan.cdelt1) || scan.cdelt1 == 0.0) {
        error = where + "CDELT1 is " + Number(scan.cdelt1) +
                ": the offset axis is degenerate (the points have no distinct offsets)";
        return false;
    }
    if (!std::isfinite(scan.pmcsun)) {
        error = where + "PMCSUN is not a finite number: the offsets of the points are unknown";
        return false;
    }
    if (scan.radius <= 0) {
        error = where + "RADIUS is " + std::to_string(scan.radius) +
                ": the optical radius, which places the disk and the sky, is missing";
        return false;
    }
    if (!(scan.thetaDg > 0.0) || !std::isfinite(scan.thetaDg)) {
        error = where + "THETA-DG is " + Number(scan.thetaDg) + ": the width of the beam is missing";
        return false;
    }
    if (scan.thetaDg > 4.0 * scan.radius) {
        error = where + "THETA-DG is " + Number(scan.thetaDg) + ", more than twice the solar diameter (RADIUS " +
                std::to_string(scan.radius) + "): the beam does not resolve the disk";
        return false;
    }
    if (scan.tqsun <= 0) {
        error = where + "TQSUN is " + std::to_string(scan.tqsun) +
                ": there is no quiet-Sun antenna temperature to calibrate to";
        return false;
    }
    for (int b = 0; b < 2; ++b) {
        const ScanBlock& block = scan.blocks[static_cast<std::size_t>(b)];
        if (!std::isfinite(block.bscale) || !std::isfinite(block.bzero)) {
            error = where + "BSCALE or BZERO of the " + (b == 0 ? "first" : "second") +
                    " block is not a finite number";
            return false;
        }
    }
    return true;
}

namespace {

// The antenna temperatures of a profile for a sky and a quiet level.
std::vector<double> Temperatures(const std::vector<double>& x, const std::vector<double>& v, const ProfileFit& sky,
                                 double quiet, double quietTemperature) {
    std::vector<double> t;
    for (std::size_t i = 0; i < v.size(); ++i) t.push_back((v[i] - SkyAt(sky, x[i])) * quietTemperature / quiet);
    return t;
}

// An amplitude's error taken with the shapes held is too small: a narrower
// or wider shape (a larger disk with another rim) fits nearly as well with
// another amplitude. So it is at least the relative error of the amplitude
// in the fit that found the shapes, where they moved with it (and where the
// choice of the rim is in the quiet level's).
double HeldShapeError(double amplitude, double error, double shapeAmplitude, double shapeError) {
    const double relative = shapeAmplitude > 0.0 ? shapeError / shapeAmplitude : 0.0;
    return std::max(error, std::fabs(amplitude) * relative);
}

// A fit with the shapes of `shapes` and the amplitudes of `a`.
ProfileFit WithAmplitudes(const ProfileFit& shapes, const AmplitudeFit& a, const ProfileSettings& settings) {
    ProfileFit fit = shapes;
    fit.quiet = a.quiet;
    fit.quietError = std::hypot(HeldShapeError(a.quiet, a.quietError, shapes.quiet, shapes.quietError),
                                settings.quietFloor * a.quiet);
    for (std::size_t k = 0; k < fit.sources.size(); ++k) {
        const ProfileSource& shape = shapes.sources[k];
        fit.sources[k].peak = a.peaks[k];
        fit.sources[k].peakError =
            std::hypot(std::hypot(HeldShapeError(a.peaks[k], a.peakErrors[k], shape.peak, shape.peakError),
                                  settings.peakFloor * a.peaks[k]),
                       settings.peakQuietFloor * a.quiet);
        fit.sources[k].positionError = std::hypot(shape.positionError, settings.positionFloor * shapes.beamSigma);
    }
    fit.residual = a.residual;
    return fit;
}

// The group of each point of a polarisation: 0 for the points no repair
// scaled, 1, 2, ... for the ranges of the markers in turn, -1 for the
// samples the repair replaced.
std::vector<int> GroupsOf(const ScanRecordingFacts& facts, int polarisation, std::size_t n) {
    std::vector<int> groups(n, 0);
    const auto q = static_cast<std::size_t>(polarisation);
    int next = 1;
    for (const auto& [first, end] : facts.scaled[q]) {
        for (std::size_t i = first; i < std::min(end, n); ++i) groups[i] = next;
        ++next;
    }
    for (const std::size_t i : facts.replaced[q])
        if (i < n) groups[i] = -1;
    return groups;
}

// One polarisation fitted with the scale of each range that the repair
// scaled: the profile is fitted to the values with the scales of the
// ranges taken off, then the scales are fitted with the sky and a
// linearised step of the profile, in rounds until they settle. The repair
// scaled the samples before the baseline was taken off, so the scales apply
// to value + baseline. The values with the scales taken off replace
// `values`; `scaleError` receives the quiet level's relative error with the
// scales free.
bool FitWithScales(const std::vector<double>& x, std::vector<double>& values, const std::vector<int>& groups,
                   double baseline, const ProfileGeometry& geometry, const ProfileSettings& settings,
                   ProfileFit& fit, std::vector<double>& scales, double& scaleError, std::string& why) {
    scaleError = 0.0;
    const int count = groups.empty() ? 1 : *std::max_element(groups.begin(), groups.end()) + 1;
    scales.assign(static_cast<std::size_t>(std::max(count, 1)), 1.0);
    std::vector<double> raw(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) raw[i] = values[i] + baseline;
    std::vector<double> corrected = values;
    if (count <= 1) return FitProfile(x, corrected, geometry, settings, fit, why, &groups);
    // Until the scales are known, the values may hold steps and a residual
    // that the scales will take away: those refusals wait for the last fit.
    SquareMatrix covariance;
    // Where the disk's parameters begin among the coefficients of the last
    // fit of the scales.
    std::size_t firstShape = 0;
    ProfileSettings loose = settings;
    loose.stepSigmas = loose.worstResidual = std::numeric_limits<double>::infinity();
    // The first search sees the steps: coarser bins and no rim will do.
    ProfileSettings first = loose;
    first.seekRim = false;
    first.binBeams = 2.0 * settings.binBeams;
    // The points the scales are fitted to: all but those the repair replaced.
    std::vector<double> used;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (groups[i] >= 0) {
            used.push_back(x[i]);
            at.push_back(i);
        }
    // Twice: the sources and the disk sought afresh once the values are
    // nearly right, since the first search saw the steps.
    for (int round = 0; round < 2 * settings.scaleRounds; ++round) {
        const ProfileFit before = fit;
        const bool afresh = round == 0 || round == settings.scaleRounds;
        if (!FitProfile(x, corrected, geometry, round < settings.scaleRounds ? first : loose, fit, why, &groups,
                        afresh ? nullptr : &before))
            return false;
        // A step of the scales, the sky's terms and every parameter of the
        // disk and the sources together (the model linearised about the
        // fit), so that a scale cannot trade against the sky's slope or the
        // disk's shape, as it would fitted in turn. A range's values are
        // value + baseline = scale x (model + baseline) + noise: the noise
        // lies in the values, so the values stay on the left, as what is
        // fitted, and the change e of each scale multiplies the model,
        //     corrected - model = e x (model + baseline) + sky step + shape steps,
        // corrected = (value + baseline) / scale - baseline. A fit with the
        // noisy values among the columns would shrink the scales towards
        // zero, by as much as the noise is large against what tells the
        // ranges apart.
        ProfileModelSetup setup;
        setup.x = &used;
        setup.disk = DiskOf(fit);
        setup.moveRim = fit.rim != 0.0;
        setup.moveRimWidth = false;
        setup.sources = fit.sources;
        ShapeCache cache;
        std::vector<double> model;
        std::vector<std::vector<double>> jacobian;
        EvaluateProfileModel(setup, cache, ModelParameters(setup), model, &jacobian);
        const std::size_t skyTerms = fit.sky.terms.size();
        const std::size_t shapes = jacobian.size();
        const std::size_t groupsFitted = scales.size() - 1;
        firstShape = skyTerms;
        std::vector<std::vector<double>> columns(skyTerms + shapes + groupsFitted);
        std::vector<double> targets;
        for (std::size_t k = 0; k < at.size(); ++k) {
            const std::size_t i = at[k];
            const double t = (x[i] - fit.sky.centre) / fit.sky.scale;
            const double whole = SkyAt(fit, x[i]) + model[k];
            double power = 1.0;
            for (std::size_t j = 0; j < skyTerms; ++j, power *= t) columns[j].push_back(power);
            for (std::size_t j = 0; j < shapes; ++j) columns[skyTerms + j].push_back(jacobian[j][k]);
            for (std::size_t g = 1; g <= groupsFitted; ++g)
                columns[skyTerms + shapes + g - 1].push_back(groups[i] == static_cast<int>(g) ? whole + baseline : 0.0);
            targets.push_back(corrected[i] - whole);
        }
        std::vector<double> solution;
        if (!LinearFit(columns, targets, solution, &covariance)) {
            why = "the scales of the ranges that the repair of level jumps scaled are not determined by the data";
            return false;
        }
        double moved = 0.0;
        for (std::size_t g = 1; g <= groupsFitted; ++g) {
            const double change = 1.0 + solution[skyTerms + shapes + g - 1];
            if (!(change > 0.0)) {
                why = "the scales of the ranges that the repair of level jumps scaled are not determined by the data";
                return false;
            }
            moved = std::max(moved, std::fabs(change - 1.0));
            scales[g] *= change;
        }
        for (std::size_t i = 0; i < x.size(); ++i)
            if (groups[i] > 0) corrected[i] = raw[i] / scales[static_cast<std::size_t>(groups[i])] - baseline;
        if (moved < settings.scaleTolerance) {
            if (round >= settings.scaleRounds) break;
            round = settings.scaleRounds - 1;
        }
    }
    const ProfileFit before = fit;
    if (!FitProfile(x, corrected, geometry, settings, fit, why, &groups, &before)) return false;
    values = corrected;
    // How well the quiet level is known with the scales free (the error of
    // its coefficient in the last fit of the scales): the jumps may leave
    // too few points before them to hold the level.
    const auto a = static_cast<int>(firstShape + kQuiet);
    scaleError = std::sqrt(std::max(0.0, covariance.at(a, a))) * fit.noise / fit.quiet;
    fit.quietError = std::hypot(fit.quietError, fit.quiet * scaleError);
    if (!(scaleError <= settings.mostScaleError)) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "with the scales of the ranges that the repair of level jumps scaled fitted, the quiet level "
                      "is determined to %.2g %% only (at most %.2g %%): too few points before the jumps hold the level",
                      100.0 * scaleError, 100.0 * settings.mostScaleError);
        why = text;
        return false;
    }
    return true;
}

}  // namespace

bool CalibrateScan(const ScanFileContents& scan, const std::string& name, const ProfileSettings& settings,
                   ScanCalibration& calibration, std::string& error) {
    return CalibrateScan(scan, name, settings, ScanRecordingFacts(), calibration, error);
}

int RrBlock(const ScanFileContents& scan) { return scan.blocks[0].polariz == 1 ? 0 : 1; }

bool CalibrateScan(const ScanFileContents& scan, const std::string& name, const ProfileSettings& settings,
                   const ScanRecordingFacts& facts, ScanCalibration& c, std::string& error) {
    c = ScanCalibration();
    if (!CheckCalibrationCards(scan, name, error)) return false;
    for (int64_t place = 1; place <= scan.naxis1; ++place) c.offsets.push_back(PlaceOffset(scan, place));
    c.block[kRR] = RrBlock(scan);
    c.block[kLL] = 1 - c.block[kRR];
    c.quietTemperature = scan.tqsun;
    const ProfileGeometry geometry{static_cast<double>(scan.radius), scan.thetaDg};
    const std::size_t n = c.offsets.size();

    // Each polarisation on its own (with the scales of the repaired ranges
    // when the recording gives them), then I of the first temperatures.
    std::array<ProfileFit, 2> alone;
    std::array<std::vector<double>, 2> first;
    std::array<std::vector<int>, 2> groups;
    std::string why;
    for (const int p : {kRR, kLL}) {
        const auto q = static_cast<std::size_t>(p);
        const ScanBlock& block = scan.blocks[static_cast<std::size_t>(c.block[q])];
        for (const int16_t stored : block.values) c.values[q].push_back(static_cast<double>(PhysicalValue(block, stored)));
        groups[q] = facts.known ? GroupsOf(facts, p, n) : std::vector<int>(n, 0);
        if (!FitWithScales(c.offsets, c.values[q], groups[q], facts.baseline[q], geometry, settings, alone[q],
                           c.scales[q], c.scaleError[q], why)) {
            error = name + ": " + CalibratedPolarisationName(p) + ": " + why;
            return false;
        }
        first[q] = Temperatures(c.offsets, c.values[q], alone[q], alone[q].quiet, c.quietTemperature);
    }
    // I's groups: each pair of the two polarisations' groups.
    std::vector<int> both(n);
    {
        std::vector<std::pair<int, int>> seen;
        for (std::size_t i = 0; i < n; ++i) {
            const std::pair<int, int> pair{groups[kRR][i], groups[kLL][i]};
            if (pair.first < 0 || pair.second < 0) {
                both[i] = -1;
                continue;
            }
            const auto at = std::find(seen.begin(), seen.end(), pair);
            both[i] = static_cast<int>(at - seen.begin());
            if (at == seen.end()) seen.push_back(pair);
        }
    }
    std::vector<double> firstI(n);
    for (std::size_t i = 0; i < n; ++i) firstI[i] = 0.5 * (first[kRR][i] + first[kLL][i]);
    ProfileFit shapes;
    if (!FitProfile(c.offsets, firstI, geometry, settings, shapes, why, &both)) {
        error = name + ": I: " + why;
        return false;
    }

    // Both polarisations again with the shapes of I: their quiet levels.
    for (const int p : {kRR, kLL}) {
        const auto q = static_cast<std::size_t>(p);
        std::vector<double> overSky(n);
        for (std::size_t i = 0; i < n; ++i) overSky[i] = c.values[q][i] - SkyAt(alone[q], c.offsets[i]);
        AmplitudeFit a;
        if (!FitAmplitudes(c.offsets, overSky, shapes, a, &both)) {
            error = name + ": " + CalibratedPolarisationName(p) + ": the shapes of the disk and the sources are not independent";
            return false;
        }
        why = ResidualRefusal(a.residual, a.quiet, alone[q].noise, settings);
        if (!(a.quiet > settings.diskSigmas * alone[q].noise)) why = "the disk is not above the sky with the shapes of I";
        if (!why.empty()) {
            error = name + ": " + CalibratedPolarisationName(p) + ": " + why;
            return false;
        }
        ProfileFit& fit = c.fits[q];
        fit = WithAmplitudes(shapes, a, settings);
        fit.quietError = std::hypot(fit.quietError, fit.quiet * c.scaleError[q]);
        fit.sky = alone[q].sky;
        fit.skyLevel = alone[q].skyLevel;
        fit.skySlope = alone[q].skySlope;
        fit.skyPointsBelow = alone[q].skyPointsBelow;
        fit.skyPointsAbove = alone[q].skyPointsAbove;
        fit.noise = alone[q].noise;
        c.gain[q] = fit.quiet / c.quietTemperature;
        c.temperature[q] = Temperatures(c.offsets, c.values[q], fit, fit.quiet, c.quietTemperature);
    }
    for (std::size_t i = 0; i < n; ++i) {
        c.stokesI.push_back(0.5 * (c.temperature[kRR][i] + c.temperature[kLL][i]));
        c.stokesV.push_back(0.5 * (c.temperature[kRR][i] - c.temperature[kLL][i]));
    }
    // I and V in their final kelvin, with the same shapes.
    AmplitudeFit i;
    if (!FitAmplitudes(c.offsets, c.stokesI, shapes, i, &both) ||
        !FitAmplitudes(c.offsets, c.stokesV, shapes, c.stokesVFit, &both)) {
        error = name + ": the shapes of the disk and the sources are not independent";
        return false;
    }
    c.stokesIFit = WithAmplitudes(shapes, i, settings);
    c.stokesIFit.sky = SkyModel();
    c.stokesIFit.skyLevel = c.stokesIFit.skySlope = 0.0;
    c.stokesIFit.noise = i.noise;
    return true;
}
