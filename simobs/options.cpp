#include "simobs/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "inputs/observation_header.h"

const char* const kSimulatorUsage =
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
    "  --sources N        N compact sources, 1 to 12, of a wider range of peaks (some\n"
    "                     near the noise), sizes, spectra and polarisations (default:\n"
    "                     one or two bright ones)\n"
    "  --noise SHARE      noise rms as a share of the quiet-Sun temperature, above 0 and\n"
    "                     at most 0.1 (default: 0.5e-4 to 1e-4, drawn per channel)\n"
    "  --gains LOW:HIGH   gains of each channel and polarisation drawn between LOW and\n"
    "                     HIGH recorder units per kelvin, above 0, at most 1000\n"
    "                     (default 0.8:1.25)\n"
    "  --limb RIM         limb brightening: a rim from 0.9 to 1 of the radio radius\n"
    "                     brighter by RIM of the quiet Sun, 0 to 1 (default 0: a\n"
    "                     uniform disk)\n"
    "  --sky-curve C      a curved sky baseline: at the scan's ends it has risen by C\n"
    "                     of the quiet Sun over a straight line, 0 to 1 (default 0)\n"
    "  --days N           a run of N days, 1 to 366: one recording a day from the\n"
    "                     date on, each in FOLDER/YYYY-MM-DD, with the same channels\n"
    "                     and the gains, noise and jumps of its day; active regions\n"
    "                     rotate across the disk in place of the random sources, and\n"
    "                     FOLDER gets the run's truth: run-truth.json,\n"
    "                     whole-sun-truth.csv, regions-truth.csv and a reference flux\n"
    "                     file at 2.8 GHz (reference-flux.txt, reference-flux.csv)\n"
    "  --regions K        active regions of a run of days, 0 to 40 (default 5)\n"
    "  --reference-scale E  the reference flux file's scale error: it gives the true\n"
    "                     whole-Sun flux at 2.8 GHz times (1 + E), E from -0.5 to\n"
    "                     0.5 (default 0.06)\n"
    "  --help             show this text\n"
    "  --version          print the program's name and version\n"
    "Beside the recording goes NAME.NN-truth.json: what it holds (gains, quiet Sun,\n"
    "sources, rim, sky curve; in a run of days also each source's region and each\n"
    "channel's whole-Sun flux), to test an analysis against.\n";

namespace {

// What is wrong with an option; ends the parse.
struct OptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};


std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

long long ParseInteger(const std::string& option, const std::string& text, long long lo, long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi)
        throw OptionError(option + " wants a whole number from " + std::to_string(lo) + " to " +
             std::to_string(hi) + ", not \"" + text + "\"");
    return v;
}

// A number above lo, or with `withLo` from lo on, and at most hi.
double ParseReal(const std::string& option, const std::string& text, double lo, double hi, bool withLo = false) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !((withLo ? v >= lo : v > lo) && v <= hi))
        throw OptionError(option + " wants a number " +
                          (withLo ? "from " + Number(lo) + " to " : "above " + Number(lo) + " and at most ") +
                          Number(hi) + ", not \"" + text + "\"");
    return v;
}

}  // namespace

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

namespace {

SimulatorOptions ParseOrThrow(int argc, char** argv, OptionsOutcome& asked) {
    SimulatorOptions o;
    bool haveOut = false;
    std::string askedRegions;  // an option of a run of days, when given
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
            if (i + 1 >= argc) throw OptionError(arg + " needs a value");
            return std::string(argv[++i]);
        };
        auto noValue = [&]() {
            if (inlineValue) throw OptionError(arg + " takes no value");
        };
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            asked = arg == "--version" ? OptionsOutcome::Version : OptionsOutcome::Help;
            return o;
        } else if (arg == "--seed") {
            const std::string v = takeValue();
            char* end = nullptr;
            errno = 0;
            o.seed = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0)
                throw OptionError("--seed wants a whole number from 0 to 18446744073709551615, not \"" + v + "\"");
        } else if (arg == "--channels") {
            o.channels = static_cast<int>(ParseInteger(arg, takeValue(), 1, kChannelCount));
        } else if (arg == "--samples") {
            o.samples = static_cast<int>(ParseInteger(arg, takeValue(), 1, 50000));
        } else if (arg == "--jumps") {
            const std::string v = takeValue();
            if (v != "on" && v != "off") throw OptionError("--jumps wants on or off, not \"" + v + "\"");
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
                throw OptionError("--date wants a date YYYY-MM-DD between 1900 and 2099, not \"" + v + "\"");
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
            if (!ok) throw OptionError("--name wants 1 to 32 letters, digits, '_' or '-', not \"" + o.name + "\"");
        } else if (arg == "--defects") {
            noValue();
            o.defects = true;
        } else if (arg == "--cfg") {
            noValue();
            o.cfg = true;
        } else if (arg == "--sources") {
            o.sources = static_cast<int>(ParseInteger(arg, takeValue(), 1, 12));
        } else if (arg == "--noise") {
            o.noise = ParseReal(arg, takeValue(), 0.0, 0.1);
        } else if (arg == "--gains") {
            const std::string v = takeValue();
            const std::size_t colon = v.find(':');
            if (colon == std::string::npos) throw OptionError("--gains wants LOW:HIGH, not \"" + v + "\"");
            o.gainLow = ParseReal(arg + " LOW", v.substr(0, colon), 0.0, 1000.0);
            o.gainHigh = ParseReal(arg + " HIGH", v.substr(colon + 1), 0.0, 1000.0);
            if (o.gainHigh < o.gainLow) throw OptionError("--gains wants LOW at most HIGH, not \"" + v + "\"");
        } else if (arg == "--limb") {
            o.limb = ParseReal(arg, takeValue(), 0.0, 1.0, true);
        } else if (arg == "--sky-curve") {
            o.skyCurve = ParseReal(arg, takeValue(), 0.0, 1.0, true);
        } else if (arg == "--days") {
            o.days = static_cast<int>(ParseInteger(arg, takeValue(), 1, 366));
        } else if (arg == "--regions") {
            o.regions = static_cast<int>(ParseInteger(arg, takeValue(), 0, 40));
            askedRegions = arg;
        } else if (arg == "--reference-scale") {
            o.referenceScale = ParseReal(arg, takeValue(), -0.5, 0.5, true);
            askedRegions = arg;
        } else if (arg == "--out") {
            o.out = takeValue();
            if (o.out.empty()) throw OptionError("--out wants a folder");
            haveOut = true;
        } else {
            throw OptionError("unknown argument \"" + std::string(argv[i]) + "\"");
        }
    }
    if (!haveOut) throw OptionError("--out FOLDER is required");
    if (o.days == 0 && !askedRegions.empty()) throw OptionError(askedRegions + " belongs to a run of days: give --days N");
    if (o.days > 0 && o.sources > 0)
        throw OptionError("--sources does not go with --days: a run of days has its regions (--regions)");
    return o;
}

}  // namespace

int DayOfYear(int year, int month, int day) {
    int doy = day;
    for (int m = 1; m < month; ++m) doy += DaysInMonth(year, m);
    return doy;
}

void AddDays(int& year, int& month, int& day, int days) {
    for (int k = 0; k < days; ++k) {
        if (++day <= DaysInMonth(year, month)) continue;
        day = 1;
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
}

OptionsOutcome ParseSimulatorOptions(int argc, char** argv, SimulatorOptions& options,
                                     std::string& error) {
    try {
        OptionsOutcome asked = OptionsOutcome::Run;
        options = ParseOrThrow(argc, argv, asked);
        return asked;
    } catch (const OptionError& e) {
        error = e.what();
        return OptionsOutcome::Error;
    }
}
