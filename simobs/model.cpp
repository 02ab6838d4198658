#include "simobs/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double RadioRadius(double ghz, double opticalRadius) {
    return opticalRadius * (1.02 + 0.12 / ghz);
}

// Calibration table rows, highest frequency first; channels lie between 1 and 20 GHz.
const double kTableFrequencies[] = {24.0, 20.0, 17.0, 14.0, 12.0, 10.0, 8.5, 7.0, 6.0,
                                    5.0,  4.0,  3.2,  2.5,  2.0,  1.6,  1.3, 1.0, 0.8};


// The quiet-Sun disk seen by a fan beam: half the chord length of the disk
// across the beam's long direction, sqrt(R^2 - u^2), smoothed by the Gaussian
// of its narrow direction. Its integral over x is pi R^2 / 2.
double DiskProfile(double x, double radius, double sigma) {
    // Nodes at most half a beam sigma apart keep the sum as smooth as the beam.
    const int m = static_cast<int>(2.0 * radius / std::min(radius / 32.0, sigma * 0.5)) + 1;
    const double width = 2.0 * radius / m;
    const int lo = std::max(0, static_cast<int>((x - 6.0 * sigma + radius) / width));
    const int hi = std::min(m - 1, static_cast<int>((x + 6.0 * sigma + radius) / width) + 1);
    double sum = 0;
    for (int j = lo; j <= hi; ++j) {
        const double u = -radius + (j + 0.5) * width;
        const double d = (x - u) / sigma;
        sum += std::sqrt(std::max(0.0, radius * radius - u * u)) * Exp(-0.5 * d * d);
    }
    return sum * width / (sigma * std::sqrt(2.0 * kPi));
}

// DiskProfile of the rim alone, from (1 - kLimbRimWidth) R to R: the chord of
// the disk less that of the disk inside the rim. One set of nodes, eight times
// closer than DiskProfile's, serves both chords, and both radii fall midway
// between nodes, where the chords' slopes grow without bound: so the sum's error is
// a smooth function of x, and the rim's level is as smooth as the beam.
double RimProfile(double x, double radius, double sigma) {
    const int rimNodes = static_cast<int>(kLimbRimWidth * radius / (std::min(radius / 32.0, sigma * 0.5) / 8.0)) + 1;
    const int m = static_cast<int>(2.0 / kLimbRimWidth + 0.5) * rimNodes;
    const double width = 2.0 * radius / m, inner = (1.0 - kLimbRimWidth) * radius;
    const int lo = std::max(0, static_cast<int>((x - 6.0 * sigma + radius) / width));
    const int hi = std::min(m - 1, static_cast<int>((x + 6.0 * sigma + radius) / width) + 1);
    double sum = 0;
    for (int j = lo; j <= hi; ++j) {
        const double u = -radius + (j + 0.5) * width;
        const double d = (x - u) / sigma;
        const double chord =
            std::sqrt(std::max(0.0, radius * radius - u * u)) - std::sqrt(std::max(0.0, inner * inner - u * u));
        sum += chord * Exp(-0.5 * d * d);
    }
    return sum * width / (sigma * std::sqrt(2.0 * kPi));
}


// A jump at r is repairable when straight lines through the samples on either
// side meet the signal at r: the converter extrapolates from r-2, r-1 and from
// r+1 ... r+3.
bool SmoothAround(const Scan& scan, const Channel& ch, int r) {
    double both[6][2];
    for (int k = 0; k < 6; ++k) ModelSamples(scan, ch, r - 2 + k, both[k]);
    for (int pol = 0; pol < 2; ++pol) {
        double p[6];
        for (int k = 0; k < 6; ++k) p[k] = both[k][pol];
        const double limit = 2e-5 * ch.gain[pol] * ch.temperature;
        if (std::fabs(p[2] - (2 * p[1] - p[0])) > limit) return false;
        if (std::fabs(p[2] - (2 * p[3] - p[4])) > limit) return false;
        if (std::fabs(p[0] + p[1] - (4 * p[3] + p[4] - 3 * p[5])) > 2 * limit) return false;
    }
    return true;
}

DmsAngle ToDms(double degrees) {
    const double a = std::fabs(degrees);
    const int whole = static_cast<int>(a);
    const double minutes = (a - whole) * 60.0;
    DmsAngle dms;
    dms.degrees = static_cast<int16_t>(degrees < 0 ? -whole : whole);
    dms.minutes = static_cast<int16_t>(minutes);
    dms.seconds = static_cast<float>((minutes - dms.minutes) * 60.0);
    return dms;
}

}  // namespace

Day SunOnDate(int year, int month, int dayOfMonth) {
    const double doy = DayOfYear(year, month, dayOfMonth);
    Day day;
    day.declination = -23.44 * Cos(2.0 * kPi * (doy + 10.0) / 365.0);
    day.angleP = -26.3 * Cos(2.0 * kPi * (doy - 96.0) / 365.0);
    day.solarRadius = static_cast<int>(959.6 / (1.0 - 0.0167 * Cos(2.0 * kPi * (doy - 4.0) / 365.0)) + 0.5);
    return day;
}

namespace {

// The scan spans 4.4 optical radii; the sampling factors give its step:
// step = factor1 * 120 * factor2 / 1192760 * cos(declination).
Scan MakeScan(const SimulatorOptions& o, const Day& day, Random& layout, int& factor1, int& factor2) {
    Scan scan;
    scan.n = o.samples;
    const double cosDec = Cos(day.declination * kPi / 180.0);
    const double product = 4.4 * day.solarRadius / scan.n * 1192760.0 / (120.0 * cosDec);
    factor1 = std::max(1, static_cast<int>(product / 30000.0) + 1);
    factor2 = std::max(1, std::min(32767, static_cast<int>(product / factor1 + 0.5)));
    scan.step = factor1 * 120.0 * factor2 / 1192760.0 * cosDec;
    scan.centre = (scan.n - 1) * 0.5 + scan.n * Uniform(layout, -0.04, 0.04);

    // One or two compact sources on the disk; or, when asked, as many as
    // asked, from weak to bright, at least 120 arcsec apart where possible.
    Random sky = Stream(o.seed, kSky);
    if (o.sources > 0) {
        for (int k = 0; k < o.sources; ++k) {
            Source s;
            for (int attempt = 0; attempt < 50; ++attempt) {
                s.position = Uniform(sky, -0.8, 0.8) * day.solarRadius;
                bool apart = true;
                for (const Source& other : scan.sources) apart = apart && std::fabs(other.position - s.position) >= 120.0;
                if (apart) break;
            }
            s.size = Uniform(sky, 5.0, 40.0);
            s.amplitude = Exp(Uniform(sky, Log(0.02), Log(1.5)));
            s.turnover = Uniform(sky, 2.5, 15.0);
            s.polarisation = Uniform(sky, -0.6, 0.6);
            scan.sources.push_back(s);
        }
        return scan;
    }
    const int sourceCount = UniformInt(sky, 1, 2);
    for (int k = 0; k < sourceCount; ++k) {
        Source s;
        s.position = Uniform(sky, -0.75, 0.75) * day.solarRadius;
        s.size = Uniform(sky, 10.0, 40.0);
        s.amplitude = Uniform(sky, 0.3, 1.2);
        s.turnover = Uniform(sky, 4.0, 10.0);
        s.polarisation = Uniform(sky, 0.05, 0.3) * (Uniform(sky) < 0.5 ? -1.0 : 1.0);
        scan.sources.push_back(s);
    }
    return scan;
}

// Frequencies spread evenly in logarithm over 1 to 19.5 GHz, neighbours in
// groups of four sharing a calibration index, some channels switched off and,
// on request, the awkward cases.
std::vector<Channel> MakeChannels(const SimulatorOptions& o, Random& layout) {
    const int nc = o.channels;
    std::vector<Channel> channels(nc);
    for (int c = 0; c < nc; ++c) {
        const double f = Exp(Log(19.5) * (c + 0.5) / nc) * Uniform(layout, 0.99, 1.01);
        channels[c].frequency = static_cast<double>(static_cast<long long>(f * 1000.0 + 0.5)) / 1000.0;
        channels[c].enabled = true;
        channels[c].calibrationIndex = static_cast<int16_t>(1 + c / 4);
    }
    for (int k = 0; k < nc / 6;) {
        Channel& ch = channels[UniformInt(layout, 0, nc - 1)];
        if (ch.enabled) {
            ch.enabled = false;
            ++k;
        }
    }
    if (o.defects) {
        std::vector<int> enabled;
        for (int c = 0; c < nc; ++c)
            if (channels[c].enabled) enabled.push_back(c);
        for (int k = 0; k < 4 && !enabled.empty(); ++k) {
            const int pick = UniformInt(layout, 0, static_cast<int>(enabled.size()) - 1);
            Channel& ch = channels[enabled[pick]];
            enabled.erase(enabled.begin() + pick);
            if (k == 0) ch.missingAr = true;
            if (k == 1) ch.shortAr = true;
            if (k == 2) ch.frequency = kBelowTableFrequency;
            if (k == 3) ch.calibrationIndex = 0;
        }
    }
    return channels;
}

}  // namespace

void ModelBrightness(const Day& day, const Scan& scan, Channel& ch) {
    const double f = ch.frequency;
    ch.temperature = QuietSunTemperature(f);
    ch.radius = RadioRadius(f, day.solarRadius);
    ch.beamSigma = BeamWidth(f) / 2.354820045;
    ch.diskNorm = DiskProfile(0.0, ch.radius, ch.beamSigma);
    ch.sourcePeak.clear();
    ch.sourceSigma.clear();
    for (const Source& s : scan.sources) {
        // A compact source is spread over the beam: its peak falls as the beam widens.
        const double sigma = std::sqrt(s.size * s.size + ch.beamSigma * ch.beamSigma);
        const double q = f / s.turnover;
        const double brightness = s.amplitude * ch.temperature * 2.0 * q * q / (1.0 + q * q * q * q);
        ch.sourcePeak.push_back(brightness * s.size / sigma);
        ch.sourceSigma.push_back(sigma);
    }
}

namespace {

// Brightness, beam, receiver gain, baseline and noise of every channel.
void ModelChannels(const SimulatorOptions& o, const Day& day, const Scan& scan, std::vector<Channel>& channels) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
        Channel& ch = channels[c];
        ModelBrightness(day, scan, ch);
        Random gain = Stream(o.seed, kGain, c);
        const double offset = ch.temperature * Uniform(gain, 0.3, 0.6);
        const double slope = ch.temperature * Uniform(gain, -0.08, 0.08);
        const double noise = ch.temperature * Uniform(gain, 0.5e-4, 1.0e-4);
        for (int pol = 0; pol < 2; ++pol) {
            ch.gain[pol] = Uniform(gain, 0.8, 1.25);
            ch.offset[pol] = offset * Uniform(gain, 0.98, 1.02);
            ch.slope[pol] = slope * Uniform(gain, 0.9, 1.1);
            ch.noise[pol] = noise;
        }
        // Other noise and gains only when asked, from a stream of their own.
        if (o.noise > 0.0) ch.noise[0] = ch.noise[1] = ch.temperature * o.noise;
        if (o.gainLow > 0.0) {
            Random range = Stream(o.seed, kGainRange, c);
            for (double& g : ch.gain) g = Exp(Uniform(range, Log(o.gainLow), Log(o.gainHigh)));
        }
    }
}

// For each calibration index in use, one to three positions where every
// channel of that index is smooth enough to be repaired; each polarisation of
// each channel steps by its own factor. In time order, as the acquisition
// system logs them.
std::vector<Marker> ChooseJumps(const SimulatorOptions& o, const Scan& scan, const std::vector<Channel>& channels) {
    std::vector<Marker> markers;
    if (!o.jumps) return markers;
    const int nc = static_cast<int>(channels.size());
    Random jumps = Stream(o.seed, kJumps);
    const int first = 12, last = std::min(scan.n - 14, 32767);
    for (int index = 0; index <= 57; ++index) {
        std::vector<int> members;
        for (int c = 0; c < nc; ++c)
            if (channels[c].calibrationIndex == index) members.push_back(c);
        if (members.empty() || last - first < 40) continue;
        const int wanted = UniformInt(jumps, 1, 3);
        std::vector<int> positions;
        for (int attempt = 0; attempt < 300 && static_cast<int>(positions.size()) < wanted; ++attempt) {
            const int r = UniformInt(jumps, first, last);
            bool ok = true;
            for (int p : positions) ok = ok && std::abs(p - r) >= 12;
            for (int c : members) ok = ok && SmoothAround(scan, channels[c], r);
            if (ok) positions.push_back(r);
        }
        for (int r : positions) {
            Marker m;
            m.position = r;
            m.tag = static_cast<int16_t>(8 * index + UniformInt(jumps, 0, 7));
            for (int pol = 0; pol < 2; ++pol) {
                m.factor[pol].assign(nc, 1.0);
                for (int c : members) {
                    const double size = Uniform(jumps, 0.1, 0.35);
                    m.factor[pol][c] = Exp(Uniform(jumps) < 0.5 ? -size : size);
                }
            }
            markers.push_back(m);
        }
    }
    for (std::size_t i = 1; i < markers.size(); ++i)
        for (std::size_t j = i; j > 0 && markers[j].position < markers[j - 1].position; --j)
            std::swap(markers[j], markers[j - 1]);
    return markers;
}

ObservationHeader MakeHeader(const SimulatorOptions& o, const Day& day, const Scan& scan, int factor1, int factor2,
                             const std::vector<Channel>& channels, Random& layout) {
    ObservationHeader header;
    SetupBlock& s = header.setup;
    s.year = static_cast<int16_t>(o.year);
    s.month = static_cast<int16_t>(o.month);
    s.day = static_cast<int16_t>(o.day);
    const int azimuth = 5 * UniformInt(layout, -4, 4);
    s.objectName = "SUN A" + std::to_string(azimuth);
    for (int k = 0; k < kCalibrationLevelCount; ++k)  // rising, so every step is positive
        s.calibrationLevels[k] = static_cast<int16_t>(200 * k + UniformInt(layout, 0, 50));
    ReceiverBlock& rb = header.receiver;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        s.channelEnabled[c] = channels[c].enabled ? 1 : 0;
        s.calibrationIndex[c] = channels[c].calibrationIndex;
        rb.channelFrequency[c] = channels[c].frequency;
    }
    rb.samplingFactor1 = static_cast<int16_t>(factor1);
    rb.samplingFactor2 = static_cast<int16_t>(factor2);
    rb.angleP = static_cast<float>(day.angleP);
    rb.pmc = static_cast<float>(scan.centre + 1.0);  // counted from 1
    PointingBlock& pb = header.pointing;
    pb.azimuthDms = ToDms(azimuth);
    // Transit near 09:12 UT, four minutes later for every degree of azimuth.
    const double transit = 9.0 * 3600.0 + 12.0 * 60.0 + azimuth * 240.0 + Uniform(layout, -120.0, 120.0);
    const int hour = static_cast<int>(transit / 3600.0);
    const int minute = static_cast<int>((transit - hour * 3600.0) / 60.0);
    pb.observationTime.hour = static_cast<int16_t>(hour);
    pb.observationTime.minute = static_cast<int16_t>(minute);
    pb.observationTime.second = static_cast<float>(
        static_cast<long long>((transit - hour * 3600.0 - minute * 60.0) * 100.0) / 100.0);
    pb.altitudeDms = ToDms(90.0 - 43.65 + day.declination - 0.002 * azimuth * azimuth);
    pb.declinationDms = ToDms(day.declination);
    pb.solarRadius = static_cast<int16_t>(day.solarRadius);
    return header;
}

}  // namespace

double QuietSunTemperature(double ghz) { return 3000.0 + 450.0 * ghz; }
double QuietSunFlux(double ghz) { return 40.0 * Pow(ghz, 0.8); }
double BeamWidth(double ghz) { return 450.0 / ghz; }

double LimbRimShare(const Channel& ch, double x) { return RimProfile(x, ch.radius, ch.beamSigma) / ch.diskNorm; }

void ModelSamples(const Scan& scan, const Channel& ch, int i, double out[2]) {
    const double x = (i - scan.centre) * scan.step;
    double disk = ch.temperature * DiskProfile(x, ch.radius, ch.beamSigma) / ch.diskNorm;
    if (scan.limbRim > 0) disk += scan.limbRim * ch.temperature * LimbRimShare(ch, x);
    const double along = scan.n > 1 ? static_cast<double>(i) / (scan.n - 1) - 0.5 : 0.0;
    for (int pol = 0; pol < 2; ++pol) {
        const double sign = pol == 0 ? -1.0 : 1.0;
        double t = disk * (1.0 + sign * kQuietSunPolarisation);
        for (std::size_t k = 0; k < scan.sources.size(); ++k) {
            const double d = (x - scan.sources[k].position) / ch.sourceSigma[k];
            t += ch.sourcePeak[k] * (1.0 + sign * scan.sources[k].polarisation) * Exp(-0.5 * d * d);
        }
        double level = t + ch.offset[pol] + ch.slope[pol] * along;
        if (scan.skyCurve > 0) level += scan.skyCurve * ch.temperature * 4.0 * along * along;
        out[pol] = ch.gain[pol] * level;
    }
}

double SkyFreeIntensity(const Scan& scan, const Channel& ch, double x) {
    double t = ch.temperature * DiskProfile(x, ch.radius, ch.beamSigma) / ch.diskNorm;
    if (scan.limbRim > 0) t += scan.limbRim * ch.temperature * LimbRimShare(ch, x);
    for (std::size_t k = 0; k < scan.sources.size(); ++k) {
        const double d = (x - scan.sources[k].position) / ch.sourceSigma[k];
        t += ch.sourcePeak[k] * Exp(-0.5 * d * d);
    }
    return t;
}

double ObservationHours(const ObservationHeader& header) {
    const TimeOfDay& t = header.pointing.observationTime;
    return t.hour + t.minute / 60.0 + t.second / 3600.0;
}

SimulatedRecording SimulateRecording(const SimulatorOptions& o, const RunDayPlan* plan) {
    SimulatedRecording r;
    r.day = SunOnDate(o.year, o.month, o.day);
    Random layout = Stream(o.seed, kLayout);
    int factor1 = 0, factor2 = 0;
    r.scan = MakeScan(o, r.day, layout, factor1, factor2);
    r.scan.limbRim = o.limb;
    r.scan.skyCurve = o.skyCurve;
    if (plan) {
        // A day of a run: its regions in place of the random sources, and the
        // run's channels, from the layout stream of the run's seed.
        r.scan.sources = plan->sources;
        r.sourceRegions = plan->regions;
        r.runDay = plan->dayIndex;
        r.runSeed = plan->runSeed;
        Random runLayout = Stream(plan->runSeed, kLayout);
        r.channels = MakeChannels(o, runLayout);
    } else {
        r.channels = MakeChannels(o, layout);
    }
    ModelChannels(o, r.day, r.scan, r.channels);
    r.markers = ChooseJumps(o, r.scan, r.channels);
    r.header = MakeHeader(o, r.day, r.scan, factor1, factor2, r.channels, layout);
    return r;
}

std::string CalibrationTableText() {
    std::string text;
    for (double f : kTableFrequencies) {
        char row[96];
        std::snprintf(row, sizeof row, "%.2f %.6f %d %.2f\n", f, QuietSunFlux(f) / QuietSunTemperature(f),
                      static_cast<int>(QuietSunTemperature(f)), BeamWidth(f));
        text += row;
    }
    return text;
}
