// vm-simobs: writes a synthetic drift scan of the Sun in the acquisition
// system's format: the observation header "<name>.<NN>h", the sample files
// al<N>/ar<N> (32-bit floats, little-endian), the marker file "<name>.<NN>p"
// (16-bit position/tag pairs) and, on request, a matching "vm-fits.cfg".
//
// The output depends on the options only: the random numbers come from our own
// generator and every mathematical function below is built from the basic IEEE
// operations, so a seed gives the same bytes on every build.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "inputs/observation_header.h"

namespace {

const char* const kUsage =
    "usage: vm-simobs --out FOLDER [options]\n"
    "Writes a synthetic drift scan of the Sun into FOLDER: the observation header\n"
    "NAME.NNh, the sample files al<N> and ar<N>, the marker file NAME.NNp and, with\n"
    "--cfg, a matching calibration table vm-fits.cfg. Sample files of channels that\n"
    "are not written are removed from FOLDER.\n"
    "  --out FOLDER       where to write (created when missing)\n"
    "  --seed N           random seed (default 1); a seed always gives the same bytes\n"
    "  --channels N       number of channels, 1 to 64 (default 12)\n"
    "  --samples N        samples per channel and polarisation, 1 to 50000 (default 2000);\n"
    "                     a recording holds at most 8191; more tests robustness\n"
    "  --jumps on|off     level jumps at the marker positions (default on)\n"
    "  --no-jumps         the same as --jumps off: no jumps and an empty marker file\n"
    "  --date YYYY-MM-DD  date of the observation (default 2003-11-05)\n"
    "  --scan NN          scan number, 0 to 999 (default 5)\n"
    "  --name NAME        header name before the dot (default sun)\n"
    "  --defects          add the awkward cases: a channel without its ar file, one\n"
    "                     with a short ar file, one at a frequency below the\n"
    "                     calibration table and one with calibration index 0\n"
    "  --cfg              also write vm-fits.cfg\n"
    "  --help             show this text\n";

// ---- numbers -------------------------------------------------------------

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

double Exp(double x) {
    if (x < -700.0) return 0.0;
    if (x > 700.0) x = 700.0;
    const double k = static_cast<double>(static_cast<long long>(x / kLn2 + (x < 0 ? -0.5 : 0.5)));
    const double r = x - k * kLn2;
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 16; ++i) {  // |r| <= ln 2 / 2
        term = term * r / i;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

double Log(double x) {
    int exponent = 0;
    double m = std::frexp(x, &exponent);  // x = m * 2^exponent, m in [0.5, 1)
    if (m < 0.70710678118654752) {
        m *= 2.0;
        --exponent;
    }
    const double z = (m - 1.0) / (m + 1.0), z2 = z * z;
    double power = z, sum = 0.0;
    for (int i = 1; i < 60; i += 2) {
        sum += power / i;
        power *= z2;
    }
    return 2.0 * sum + exponent * kLn2;
}

double Cos(double x) {
    x -= 2.0 * kPi * static_cast<double>(static_cast<long long>(x / (2.0 * kPi)));
    if (x > kPi) x -= 2.0 * kPi;
    if (x < -kPi) x += 2.0 * kPi;
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 30; ++i) {
        term = -term * x * x / ((2 * i - 1) * (2 * i));
        sum += term;
    }
    return sum;
}

double Pow(double x, double y) { return Exp(y * Log(x)); }

// splitmix64: one independent stream per purpose, channel and polarisation, so
// that switching the jumps off leaves every other number unchanged.
struct Random {
    uint64_t state;
};

uint64_t NextBits(Random& r) {
    uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Random Stream(uint64_t seed, uint64_t purpose, uint64_t channel = 0, uint64_t polarisation = 0) {
    Random r{seed};
    r.state = NextBits(r) ^ (purpose * 0x100000001B3ull);
    r.state = NextBits(r) ^ (channel * 0xD6E8FEB86659FD93ull);
    r.state = NextBits(r) ^ (polarisation * 0xA0761D6478BD642Full);
    return r;
}

double Uniform(Random& r) { return static_cast<double>(NextBits(r) >> 11) * 0x1.0p-53; }
double Uniform(Random& r, double lo, double hi) { return lo + (hi - lo) * Uniform(r); }
int UniformInt(Random& r, int lo, int hi) {  // lo..hi inclusive
    return lo + static_cast<int>(NextBits(r) % static_cast<uint64_t>(hi - lo + 1));
}

double Gaussian(Random& r) {
    const double u1 = 1.0 - Uniform(r);  // (0, 1]
    const double u2 = Uniform(r);
    return std::sqrt(-2.0 * Log(u1)) * Cos(2.0 * kPi * u2);
}

// ---- the instrument ------------------------------------------------------

enum Purpose : uint64_t { kLayout = 1, kSky, kGain, kNoise, kJumps };

// Antenna temperature of the quiet Sun [K], its flux [sfu] and the beam width
// [arcsec] of this (imaginary) fan-beam antenna.
double QuietSunTemperature(double ghz) { return 3000.0 + 450.0 * ghz; }
double QuietSunFlux(double ghz) { return 40.0 * Pow(ghz, 0.8); }
double BeamWidth(double ghz) { return 450.0 / ghz; }
double RadioRadius(double ghz, double opticalRadius) {
    return opticalRadius * (1.02 + 0.12 / ghz);
}

// Calibration table rows, highest frequency first; channels lie between 1 and 20 GHz.
const double kTableFrequencies[] = {24.0, 20.0, 17.0, 14.0, 12.0, 10.0, 8.5, 7.0, 6.0,
                                    5.0,  4.0,  3.2,  2.5,  2.0,  1.6,  1.3, 1.0, 0.8};
constexpr double kBelowTableFrequency = 0.5;

struct Source {
    double position;   // arcsec from the disk centre
    double size;       // Gaussian sigma, arcsec
    double amplitude;  // peak brightness relative to the quiet Sun at the turnover
    double turnover;   // GHz
    double polarisation;
};

struct Channel {
    double frequency = 0;
    bool enabled = false;
    int16_t calibrationIndex = 0;
    bool missingAr = false, shortAr = false;
    double temperature = 0, radius = 0, beamSigma = 0;
    double gain[2] = {1, 1}, offset[2] = {0, 0}, slope[2] = {0, 0}, noise[2] = {0, 0};
    double diskNorm = 1;
    std::vector<double> sourcePeak;  // per source, after the beam's dilution
    std::vector<double> sourceSigma;
};

struct Scan {
    int n = 0;
    double step = 0;    // arcsec per sample
    double centre = 0;  // sample index of the disk centre
    std::vector<Source> sources;
};

// The quiet-Sun disk seen by a fan beam: the chord length of the disk across
// the beam's long direction, smoothed by the Gaussian of its narrow direction.
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

// The noiseless, jump-free sample i of both polarisations (0 = al, 1 = ar).
void ModelSamples(const Scan& scan, const Channel& ch, int i, double out[2]) {
    const double x = (i - scan.centre) * scan.step;
    const double disk = ch.temperature * DiskProfile(x, ch.radius, ch.beamSigma) / ch.diskNorm;
    const double along = scan.n > 1 ? static_cast<double>(i) / (scan.n - 1) - 0.5 : 0.0;
    for (int pol = 0; pol < 2; ++pol) {
        const double sign = pol == 0 ? -1.0 : 1.0;
        double t = disk * (1.0 + sign * 0.002);
        for (std::size_t k = 0; k < scan.sources.size(); ++k) {
            const double d = (x - scan.sources[k].position) / ch.sourceSigma[k];
            t += ch.sourcePeak[k] * (1.0 + sign * scan.sources[k].polarisation) * Exp(-0.5 * d * d);
        }
        out[pol] = ch.gain[pol] * (t + ch.offset[pol] + ch.slope[pol] * along);
    }
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

struct Marker {
    int position;
    int16_t tag;
    std::vector<double> factor[2];  // per channel, per polarisation
};

// ---- files ---------------------------------------------------------------

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

void PutFloat(std::vector<uint8_t>& out, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(bits >> (8 * k)));
}

void PutInt16(std::vector<uint8_t>& out, int v) {
    const uint16_t bits = static_cast<uint16_t>(v);
    out.push_back(static_cast<uint8_t>(bits & 0xFF));
    out.push_back(static_cast<uint8_t>(bits >> 8));
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

// ---- options -------------------------------------------------------------

struct Options {
    uint64_t seed = 1;
    int channels = 12;
    int samples = 2000;
    bool jumps = true;
    int year = 2003, month = 11, day = 5;
    int scan = 5;
    std::string name = "sun";
    bool defects = false;
    bool cfg = false;
    std::string out;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "vm-simobs: %s\n(see vm-simobs --help)\n", message.c_str());
    std::exit(2);
}

long long ParseInteger(const std::string& option, const std::string& text, long long lo, long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi)
        Fail(option + " wants a whole number from " + std::to_string(lo) + " to " +
             std::to_string(hi) + ", not \"" + text + "\"");
    return v;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    bool haveOut = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        const std::size_t eq = arg.find('=');
        const bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        auto takeValue = [&]() {
            if (inlineValue) return value;
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return std::string(argv[++i]);
        };
        auto noValue = [&]() {
            if (inlineValue) Fail(arg + " takes no value");
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--seed") {
            const std::string v = takeValue();
            char* end = nullptr;
            errno = 0;
            o.seed = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0)
                Fail("--seed wants a whole number from 0 to 18446744073709551615, not \"" + v + "\"");
        } else if (arg == "--channels") {
            o.channels = static_cast<int>(ParseInteger(arg, takeValue(), 1, kChannelCount));
        } else if (arg == "--samples") {
            o.samples = static_cast<int>(ParseInteger(arg, takeValue(), 1, 50000));
        } else if (arg == "--jumps") {
            const std::string v = takeValue();
            if (v != "on" && v != "off") Fail("--jumps wants on or off, not \"" + v + "\"");
            o.jumps = v == "on";
        } else if (arg == "--no-jumps") {
            noValue();
            o.jumps = false;
        } else if (arg == "--date") {
            const std::string v = takeValue();
            int y = 0, m = 0, d = 0, used = 0;
            if (std::sscanf(v.c_str(), "%4d-%2d-%2d%n", &y, &m, &d, &used) != 3 ||
                used != static_cast<int>(v.size()) || v.size() != 10 || y < 1900 || y > 2099 ||
                m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m))
                Fail("--date wants a date YYYY-MM-DD between 1900 and 2099, not \"" + v + "\"");
            o.year = y;
            o.month = m;
            o.day = d;
        } else if (arg == "--scan") {
            o.scan = static_cast<int>(ParseInteger(arg, takeValue(), 0, 999));
        } else if (arg == "--name") {
            o.name = takeValue();
            bool ok = !o.name.empty() && o.name.size() <= 32;
            for (char c : o.name)
                ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '_' || c == '-');
            if (!ok) Fail("--name wants 1 to 32 letters, digits, '_' or '-', not \"" + o.name + "\"");
        } else if (arg == "--defects") {
            noValue();
            o.defects = true;
        } else if (arg == "--cfg") {
            noValue();
            o.cfg = true;
        } else if (arg == "--out") {
            o.out = takeValue();
            if (o.out.empty()) Fail("--out wants a folder");
            haveOut = true;
        } else {
            Fail("unknown argument \"" + std::string(argv[i]) + "\"");
        }
    }
    if (!haveOut) Fail("--out FOLDER is required");
    return o;
}

int DayOfYear(int year, int month, int day) {
    int doy = day;
    for (int m = 1; m < month; ++m) doy += DaysInMonth(year, m);
    return doy;
}

// ---- the recording -------------------------------------------------------

// Where the Sun stands on the day of the observation.
struct Day {
    double declination = 0;  // degrees
    double angleP = 0;       // degrees
    int solarRadius = 960;   // optical, arcsec
};

Day SunOnDate(const Options& o) {
    const double doy = DayOfYear(o.year, o.month, o.day);
    Day day;
    day.declination = -23.44 * Cos(2.0 * kPi * (doy + 10.0) / 365.0);
    day.angleP = -26.3 * Cos(2.0 * kPi * (doy - 96.0) / 365.0);
    day.solarRadius = static_cast<int>(959.6 / (1.0 - 0.0167 * Cos(2.0 * kPi * (doy - 4.0) / 365.0)) + 0.5);
    return day;
}

// The scan spans 4.4 optical radii; the sampling factors give its step:
// step = factor1 * 120 * factor2 / 1192760 * cos(declination).
Scan MakeScan(const Options& o, const Day& day, Random& layout, int& factor1, int& factor2) {
    Scan scan;
    scan.n = o.samples;
    const double cosDec = Cos(day.declination * kPi / 180.0);
    const double product = 4.4 * day.solarRadius / scan.n * 1192760.0 / (120.0 * cosDec);
    factor1 = std::max(1, static_cast<int>(product / 30000.0) + 1);
    factor2 = std::max(1, std::min(32767, static_cast<int>(product / factor1 + 0.5)));
    scan.step = factor1 * 120.0 * factor2 / 1192760.0 * cosDec;
    scan.centre = (scan.n - 1) * 0.5 + scan.n * Uniform(layout, -0.04, 0.04);

    // One or two compact sources on the disk.
    Random sky = Stream(o.seed, kSky);
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
std::vector<Channel> MakeChannels(const Options& o, Random& layout) {
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

// Brightness, beam, receiver gain, baseline and noise of every channel.
void ModelChannels(const Options& o, const Day& day, const Scan& scan, std::vector<Channel>& channels) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
        Channel& ch = channels[c];
        const double f = ch.frequency;
        ch.temperature = QuietSunTemperature(f);
        ch.radius = RadioRadius(f, day.solarRadius);
        ch.beamSigma = BeamWidth(f) / 2.354820045;
        ch.diskNorm = DiskProfile(0.0, ch.radius, ch.beamSigma);
        for (const Source& s : scan.sources) {
            // A compact source is spread over the beam: its peak falls as the beam widens.
            const double sigma = std::sqrt(s.size * s.size + ch.beamSigma * ch.beamSigma);
            const double q = f / s.turnover;
            const double brightness = s.amplitude * ch.temperature * 2.0 * q * q / (1.0 + q * q * q * q);
            ch.sourcePeak.push_back(brightness * s.size / sigma);
            ch.sourceSigma.push_back(sigma);
        }
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
    }
}

// For each calibration index in use, one to three positions where every
// channel of that index is smooth enough to be repaired; each polarisation of
// each channel steps by its own factor. In time order, as the acquisition
// system logs them.
std::vector<Marker> ChooseJumps(const Options& o, const Scan& scan, const std::vector<Channel>& channels) {
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

ObservationHeader MakeHeader(const Options& o, const Day& day, const Scan& scan, int factor1, int factor2,
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

// The al<N> and ar<N> files: the model times the gain in force at each sample,
// plus noise. Sample files of channels that are not written are removed.
void WriteSamples(const Options& o, const Scan& scan, const std::vector<Channel>& channels,
                  const std::vector<Marker>& markers) {
    const int nc = static_cast<int>(channels.size());
    std::error_code error;
    for (int c = 0; c < kChannelCount; ++c) {
        if (c >= nc) std::filesystem::remove(o.out + "/al" + std::to_string(c), error);
        if (c >= nc || channels[c].missingAr) std::filesystem::remove(o.out + "/ar" + std::to_string(c), error);
    }
    for (int c = 0; c < nc; ++c) {
        const Channel& ch = channels[c];
        Random noise[2] = {Stream(o.seed, kNoise, static_cast<uint64_t>(c), 0),
                           Stream(o.seed, kNoise, static_cast<uint64_t>(c), 1)};
        std::vector<uint8_t> bytes[2];
        double level[2] = {1.0, 1.0};
        std::size_t next = 0;
        for (int i = 0; i < scan.n; ++i) {
            double value[2];
            ModelSamples(scan, ch, i, value);
            double g[2] = {level[0], level[1]};
            for (; next < markers.size() && markers[next].position == i; ++next) {
                for (int pol = 0; pol < 2; ++pol) {
                    const double after = level[pol] * markers[next].factor[pol][c];
                    g[pol] = 0.5 * (level[pol] + after);  // the marked sample catches the switch
                    level[pol] = after;
                }
            }
            for (int pol = 0; pol < 2; ++pol) {
                const double noisy = value[pol] + ch.gain[pol] * ch.noise[pol] * Gaussian(noise[pol]);
                PutFloat(bytes[pol], static_cast<float>(g[pol] * noisy));
            }
        }
        if (ch.shortAr) bytes[1].resize(4 * static_cast<std::size_t>(scan.n / 2));
        for (int pol = 0; pol < 2; ++pol) {
            if (pol == 1 && ch.missingAr) continue;
            const std::string path = o.out + (pol == 0 ? "/al" : "/ar") + std::to_string(c);
            if (!WriteBytes(path, bytes[pol])) Fail("cannot write " + path);
        }
    }
}

std::vector<uint8_t> CalibrationTable() {
    std::string text;
    for (double f : kTableFrequencies) {
        char row[96];
        std::snprintf(row, sizeof row, "%.2f %.6f %d %.2f\n", f, QuietSunFlux(f) / QuietSunTemperature(f),
                      static_cast<int>(QuietSunTemperature(f)), BeamWidth(f));
        text += row;
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    const Day day = SunOnDate(o);
    Random layout = Stream(o.seed, kLayout);
    int factor1 = 0, factor2 = 0;
    Scan scan = MakeScan(o, day, layout, factor1, factor2);
    std::vector<Channel> channels = MakeChannels(o, layout);
    ModelChannels(o, day, scan, channels);
    const std::vector<Marker> markers = ChooseJumps(o, scan, channels);
    const ObservationHeader header = MakeHeader(o, day, scan, factor1, factor2, channels, layout);

    std::error_code error;
    std::filesystem::create_directories(o.out, error);
    if (!std::filesystem::is_directory(o.out, error)) Fail("cannot create the folder " + o.out);
    char stem[64];
    std::snprintf(stem, sizeof stem, "%s.%02d", o.name.c_str(), o.scan);
    const std::string base = o.out + "/" + stem;
    if (!WriteBytes(base + "h", EncodeObservationHeader(header))) Fail("cannot write " + base + "h");
    std::vector<uint8_t> markerBytes;
    for (const Marker& m : markers) {
        PutInt16(markerBytes, m.position);
        PutInt16(markerBytes, m.tag);
    }
    if (!WriteBytes(base + "p", markerBytes)) Fail("cannot write " + base + "p");
    WriteSamples(o, scan, channels, markers);
    if (o.cfg && !WriteBytes(o.out + "/vm-fits.cfg", CalibrationTable()))
        Fail("cannot write " + o.out + "/vm-fits.cfg");

    std::printf("%sh: %d channels of %d samples, %zu markers\n", base.c_str(), o.channels, o.samples,
                markers.size());
    for (const Source& src : scan.sources)
        std::printf("  source at %+.0f arcsec from the disk centre, turnover %.1f GHz\n", src.position, src.turnover);
    for (int c = 0; c < o.channels; ++c) {
        const Channel& ch = channels[c];
        std::printf("  channel %2d  %7.3f GHz  index %2d%s%s%s%s\n", c, ch.frequency, ch.calibrationIndex,
                    ch.enabled ? "" : "  disabled", ch.missingAr ? "  no ar file" : "",
                    ch.shortAr ? "  short ar file" : "",
                    ch.frequency == kBelowTableFrequency ? "  below the calibration table" : "");
    }
    return 0;
}
