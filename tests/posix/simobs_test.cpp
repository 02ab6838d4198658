// The observation simulator vm-simobs, and the jump repair seen end to end:
// recordings with level jumps converted by vm-fits come out as the same
// recordings without jumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>

#include "convert/channel_plan.h"
#include "inputs/calibration.h"
#include "inputs/observation_header.h"
#include "simobs/model.h"
#include "simobs/whole_sun.h"
#include "solar/rotation.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kSimulator = VMFITS_TOOLS_DIR "/vm-simobs";

// Agreement of converted levels, as a fraction of the channel's data range
// (max - min of the jump-free conversion of that polarisation). The simulator
// puts jumps only where the signal is smooth and keeps its noise near 1e-4 of
// the quiet-Sun level, so a repaired ratio is off by a few 1e-4 at most.
constexpr double kTolerance = 0.01;

ProcessResult Simulate(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{kSimulator};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv);
}

std::map<std::string, std::string> FolderContents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return contents;
}

std::vector<int16_t> Int16Values(const std::string& bytes) {
    std::vector<int16_t> values(bytes.size() / 2);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return values;
}

std::vector<float> FloatValues(const std::string& bytes) {
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), 4 * values.size());  // little-endian host
    return values;
}

// One converted channel: both polarisations in recording order, in the units
// of the sample files (value * BSCALE + BZERO).
struct ScanData {
    double frequency = 0;
    std::vector<double> samples[2];
};

ScanData DecodeScanFile(const std::string& bytes) {
    ScanData scan;
    auto valueAfter = [&](const std::string& key, std::size_t from, std::size_t& at) {
        at = bytes.find(key, from);
        if (at == std::string::npos) throw std::runtime_error("no " + key);
        at += key.size();
        return std::strtod(bytes.c_str() + at, nullptr);
    };
    std::size_t at = 0;
    const int n = static_cast<int>(valueAfter("NAXIS1  = ", 0, at));
    scan.frequency = valueAfter("OBS-FREQ= ", 0, at);
    for (int pol = 0; pol < 2; ++pol) {
        const double bscale = valueAfter("BSCALE  = ", at, at);
        const double bzero = valueAfter("BZERO   = ", at, at);
        at = bytes.find("END\r\n", at);
        if (at == std::string::npos || at + 5 + 2 * static_cast<std::size_t>(n) > bytes.size())
            throw std::runtime_error("data block cut short");
        at += 5;
        const std::vector<int16_t> v = Int16Values(bytes.substr(at, 2 * static_cast<std::size_t>(n)));
        scan.samples[pol].resize(n);
        for (int i = 0; i < n; ++i) scan.samples[pol][n - 1 - i] = v[i] * bscale + bzero;  // last sample first
        at += 2 * static_cast<std::size_t>(n);
    }
    return scan;
}

// A converter of our own in `folder`: vm-fits with the recording's calibration table beside it.
std::string InstallConverter(const std::string& folder, const std::string& table) {
    fs::create_directories(folder);
    const std::string binary = folder + "/vm-fits";
    fs::copy_file(VMFITS_BINARY, binary, fs::copy_options::overwrite_existing);
    fs::permissions(binary, fs::perms::owner_all, fs::perm_options::add);
    fs::copy_file(table, folder + "/vm-fits.cfg", fs::copy_options::overwrite_existing);
    return binary;
}

// Converts and returns the scan files in index order, keyed by frequency.
std::map<double, ScanData> Convert(const std::string& converter, const std::string& header,
                                   const std::string& output, bool back, const TempFolder& home) {
    std::vector<std::string> argv{converter, header, output};
    if (back) argv.push_back("back");
    ProcessOptions options;
    options.setEnv["XDG_CONFIG_HOME"] = home / "config";
    options.setEnv["HOME"] = home.path();
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    const ProcessResult r = RunProcess(argv, options);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::map<double, ScanData> scans;
    for (const auto& [name, bytes] : FolderContents(output)) {
        if (name.size() < 4 || name.substr(name.size() - 4) == ".0hd") continue;
        const ScanData scan = DecodeScanFile(bytes);
        scans[scan.frequency] = scan;
    }
    return scans;
}

double Range(const std::vector<double>& v) {
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return *hi - *lo;
}

// The straight line through p[from], ..., p[from + 3], evaluated at `at`.
double LineAt(const std::vector<double>& p, int from, int at) {
    double mean = 0, slope = 0;
    for (int k = 0; k < 4; ++k) mean += p[from + k] / 4;
    for (int k = 0; k < 4; ++k) slope += (k - 1.5) * p[from + k] / 5;  // sum (k - 1.5)^2 = 5
    return mean + slope * (at - from - 1.5);
}

TEST(Simobs, SameSeedWritesSameBytesAndAnotherSeedDiffers) {
    TempFolder home;
    for (const std::string folder : {"a", "b", "c"}) {
        const std::string seed = folder == "c" ? "8" : "7";
        const ProcessResult r = Simulate({"--out", home / folder, "--seed", seed, "--channels", "9",
                                          "--samples", "700", "--defects", "--cfg"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const auto a = FolderContents(home / "a");
    EXPECT_EQ(a.size(), 2 + 9 + 9 - 1 + 1 + 1u);  // header, marker file, al, ar less one, table, truth
    EXPECT_EQ(a, FolderContents(home / "b"));
    const auto c = FolderContents(home / "c");
    EXPECT_NE(a.at("sun.05h"), c.at("sun.05h"));
    EXPECT_NE(a.at("al4"), c.at("al4"));
}

// The sources it prints are those of the truth file beside the recording,
// with the sign of the offsets the scan files give (the recording's order reversed).
TEST(Simobs, PrintedSourcesAreThoseOfTheTruthFile) {
    TempFolder home;
    const ProcessResult r = Simulate({"--out", home.path(), "--seed", "21", "--sources", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string truth = ReadFileBytes(home / "sun.05-truth.json");
    for (const auto& [printed, exact] : {std::pair{"+590", "589.61"}, {"+375", "375.47"}, {"-747", "-746.92"}}) {
        EXPECT_NE(r.out.find(std::string("  source at ") + printed + " arcsec"), std::string::npos) << r.out;
        EXPECT_NE(truth.find(std::string("\"offset_arcsec\": ") + exact), std::string::npos) << exact;
    }
}

TEST(Simobs, HeaderMarkersAndDefectsAreWhatTheConverterExpects) {
    TempFolder home;
    const ProcessResult r = Simulate({"--out", home.path(), "--seed", "3", "--channels", "16", "--samples",
                                      "1500", "--date", "1998-12-05", "--scan", "123", "--name", "obs",
                                      "--defects"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = ReadFileBytes(home / "obs.123h");
    ASSERT_EQ(bytes.size(), kObservationHeaderSize);
    const ObservationHeader h = DecodeObservationHeader(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(h.setup.year, 1998);
    EXPECT_EQ(h.setup.month, 12);
    EXPECT_EQ(h.setup.day, 5);
    EXPECT_EQ(h.setup.objectName.rfind("SUN A", 0), 0u);
    EXPECT_NEAR(h.pointing.solarRadius, 960, 20);

    int enabled = 0, missingAr = 0, shortAr = 0, belowTable = 0, zeroIndex = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const bool present = FileExists(home / ("al" + std::to_string(c)));
        EXPECT_EQ(present, c < 16) << c;
        if (c >= 16) {
            EXPECT_EQ(h.setup.channelEnabled[c], 0);
            continue;
        }
        enabled += h.setup.channelEnabled[c] != 0;
        const double f = h.receiver.channelFrequency[c];
        if (f == 0.5) ++belowTable;
        else EXPECT_TRUE(f > 0.9 && f < 20.0) << f;
        const int16_t d = h.setup.calibrationIndex[c];
        if (d == 0) ++zeroIndex;
        else EXPECT_TRUE(d >= 1 && d <= 57) << d;
        EXPECT_EQ(ReadFileBytes(home / ("al" + std::to_string(c))).size(), 6000u);
        const std::string ar = home / ("ar" + std::to_string(c));
        if (!FileExists(ar)) ++missingAr;
        else if (ReadFileBytes(ar).size() == 3000u) ++shortAr;
        else EXPECT_EQ(ReadFileBytes(ar).size(), 6000u);
    }
    EXPECT_EQ(enabled, 16 - 16 / 6);
    EXPECT_EQ(missingAr, 1);
    EXPECT_EQ(shortAr, 1);
    EXPECT_EQ(belowTable, 1);
    EXPECT_EQ(zeroIndex, 1);

    // Position/tag pairs in time order, within 2 ... n - 4; for each calibration
    // index ascending and at most 19.
    const std::vector<int16_t> markers = Int16Values(ReadFileBytes(home / "obs.123p"));
    ASSERT_EQ(markers.size() % 2, 0u);
    ASSERT_GT(markers.size(), 0u);
    std::map<int, int> perIndex, lastPosition;
    for (std::size_t k = 0; k < markers.size(); k += 2) {
        EXPECT_GE(markers[k], 2);
        EXPECT_LE(markers[k], 1500 - 4);
        if (k > 0) {
            EXPECT_GE(markers[k], markers[k - 2]);
        }
        const int index = markers[k + 1] >> 3;
        EXPECT_LE(++perIndex[index], 19);
        EXPECT_GT(markers[k], lastPosition[index]);
        lastPosition[index] = markers[k];
        bool used = false;
        for (int c = 0; c < 16; ++c) used = used || h.setup.calibrationIndex[c] == index;
        EXPECT_TRUE(used) << "tag " << markers[k + 1];
    }
}

TEST(Simobs, LongScansAndBadOptions) {
    TempFolder home;
    ProcessResult r = Simulate({"--out=" + (home / "long"), "--samples=9000", "--channels=2", "--no-jumps"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(home / "long/ar1").size(), 36000u);
    EXPECT_EQ(ReadFileBytes(home / "long/sun.05p").size(), 0u);

    const std::vector<std::vector<std::string>> bad = {
        {"--channels", "0"},         {"--channels", "65"},   {"--samples", "12x"},
        {"--samples", "0"},          {"--seed", "-1"},       {"--date", "2003-02-29"},
        {"--date", "2003-1-05"},     {"--scan", "1000"},     {"--jumps", "maybe"},
        {"--name", "a.b"},           {"--no-jumps=1"},       {"--frobnicate"},
        {"--seed"},                  {"--sources", "13"},    {"--noise", "0"},
        {"--noise", "nan"},          {"--gains", "2:1"},     {"--gains", "1"},
        {"--limb", "-0.1"},          {"--limb", "1.5"},      {"--sky-curve", "2"},
        {"--sky-curve", "0.1x"},     {"--days", "0"},        {"--days", "367"},
        {"--regions", "41"},         {"--reference-scale", "0.6"},
    };
    for (std::vector<std::string> arguments : bad) {
        arguments.insert(arguments.begin(), {"--out", home / "bad"});
        r = Simulate(arguments);
        EXPECT_EQ(r.exitCode, 2) << arguments[2];
        EXPECT_NE(r.err.find("vm-simobs: "), std::string::npos) << r.err;
        // The message names the option and the value it refuses.
        EXPECT_NE(r.err.find(arguments[2].substr(0, arguments[2].find('='))), std::string::npos) << r.err;
        if (arguments.size() > 3) {
            EXPECT_NE(r.err.find('"' + arguments[3] + '"'), std::string::npos) << r.err;
        }
    }
    // The options of a run of days want --days, and its regions replace --sources.
    for (const auto& [arguments, named] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--regions", "3"}, "--days N"}, {{"--reference-scale", "0.1"}, "--days N"},
             {{"--days", "2", "--sources", "3"}, "--sources"}}) {
        std::vector<std::string> argv{"--out", home / "bad"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        r = Simulate(argv);
        EXPECT_EQ(r.exitCode, 2) << arguments[0];
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    }
    r = Simulate({"--seed", "4"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--out"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(home / "bad"));
    r = Simulate({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--defects"), std::string::npos);
    EXPECT_NE(r.out.find("--reference-scale"), std::string::npos);
}

// The rim and the curved sky add to the plain recording what they should and
// nothing else: the noise stream is the same, so the differences of the raw
// samples are the model's up to float rounding. Asked for as 0 they change no
// byte.
TEST(Simobs, LimbRimAndSkyCurveAddTheirLevelsOnly) {
    TempFolder home;
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"plain", {}}, {"zero", {"--limb", "0", "--sky-curve", "0"}}, {"limb", {"--limb", "0.1"}},
        {"curve", {"--sky-curve", "0.02"}}};
    for (const auto& [name, extra] : runs) {
        std::vector<std::string> arguments{"--out", home / name, "--seed", "5", "--channels", "6", "--no-jumps"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const ProcessResult r = Simulate(arguments);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    EXPECT_EQ(FolderContents(home / "plain"), FolderContents(home / "zero"));
    const nlohmann::json truth = nlohmann::json::parse(ReadFileBytes(home / "limb/sun.05-truth.json"));
    EXPECT_EQ(truth["limb_rim"], 0.1);
    EXPECT_EQ(truth["limb_rim_width"], 0.1);
    EXPECT_EQ(nlohmann::json::parse(ReadFileBytes(home / "curve/sun.05-truth.json"))["sky_curve"], 0.02);
    const double centre = truth["centre_sample"], step = truth["step_arcsec"];
    const int n = truth["samples"];
    int rimSamples = 0;
    for (const nlohmann::json& ch : truth["channels"]) {
        const int c = ch["channel"];
        const double radius = ch["radio_radius_arcsec"], sigma = ch["beam_sigma_arcsec"];
        for (int pol = 0; pol < 2; ++pol) {
            SCOPED_TRACE("channel " + std::to_string(c) + " pol " + std::to_string(pol));
            const std::string file = (pol == 0 ? "/al" : "/ar") + std::to_string(c);
            const std::vector<float> plain = FloatValues(ReadFileBytes(home / ("plain" + file)));
            const std::vector<float> limb = FloatValues(ReadFileBytes(home / ("limb" + file)));
            const std::vector<float> curve = FloatValues(ReadFileBytes(home / ("curve" + file)));
            ASSERT_EQ(plain.size(), static_cast<std::size_t>(n));
            const nlohmann::json& p = ch["polarisations"][pol];
            const double quiet = p["quiet_sun_level"], rimLevel = p["limb_rim_level"];
            const double gain = p["gain_per_k"], kelvin = ch["quiet_sun_k"];
            const double rounding = 1e-6 * quiet;
            // At the centre the beam sees the rim across the whole chord: about
            // RIM x width of the quiet Sun (more where the beam is wide).
            EXPECT_NEAR(rimLevel, 0.1 * 0.1 * quiet, 0.05 * 0.1 * 0.1 * quiet);
            const int middle = static_cast<int>(centre + 0.5);
            EXPECT_NEAR(limb[middle] - plain[middle], rimLevel, 1e-3 * rimLevel + rounding);
            for (int i = 0; i < n; ++i) {
                const double x = std::fabs(i - centre) * step, difference = limb[i] - plain[i];
                if (x > radius + 6 * sigma) {
                    ASSERT_NEAR(difference, 0.0, rounding) << i;
                } else if (sigma < 0.015 * radius && x > 0.94 * radius && x < 0.97 * radius) {
                    // Outside the rim's inner edge the beam sees the rim's chord alone,
                    // which is the disk's: the level rises by RIM.
                    const double disk = quiet * std::sqrt(1.0 - (x / radius) * (x / radius));
                    ASSERT_NEAR(difference, 0.1 * disk, 0.01 * disk) << i;
                    ++rimSamples;
                }
            }
            // The sky rises by 4 C along^2 of the quiet Sun, through the gain.
            for (const int i : {0, n / 4, n / 2, n - 1}) {
                const double along = static_cast<double>(i) / (n - 1) - 0.5;
                EXPECT_NEAR(curve[i] - plain[i], 0.02 * gain * kelvin * 4 * along * along, rounding) << i;
            }
        }
    }
    EXPECT_GT(rimSamples, 40);
}

// Under both rules: the repaired levels meet at every jump, and the whole
// conversion matches that of the same recording made without jumps.
TEST(Simobs, RepairBringsTheJumpedLevelsBack) {
    TempFolder home;
    for (const std::string jumps : {"on", "off"}) {
        const ProcessResult r = Simulate({"--out", home / ("rec-" + jumps), "--seed", "11", "--channels", "12",
                                          "--samples", "2000", "--jumps", jumps, "--cfg"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const std::string converter = InstallConverter(home / "bin", home / "rec-on/vm-fits.cfg");
    const std::string headerBytes = ReadFileBytes(home / "rec-on/sun.05h");
    const ObservationHeader header =
        DecodeObservationHeader(std::vector<uint8_t>(headerBytes.begin(), headerBytes.end()));
    const std::vector<int16_t> markers = Int16Values(ReadFileBytes(home / "rec-on/sun.05p"));
    ASSERT_GE(markers.size(), 8u);

    // Without the marker file's pairs the jumps stay: the comparison notices them.
    fs::create_directories(home / "unmarked");
    for (const auto& [name, bytes] : FolderContents(home / "rec-on"))
        WriteFileBytes(home / ("unmarked/" + name), name == "sun.05p" ? std::string() : bytes);

    for (const bool back : {false, true}) {
        SCOPED_TRACE(back ? "back extrapolation" : "two-sided extrapolation");
        const std::string rule = back ? "back" : "two";
        const auto jumped = Convert(converter, home / "rec-on/sun.05h", home / ("out-on-" + rule), back, home);
        const auto smooth = Convert(converter, home / "rec-off/sun.05h", home / ("out-off-" + rule), back, home);
        const auto unrepaired =
            Convert(converter, home / "unmarked/sun.05h", home / ("out-unmarked-" + rule), back, home);
        ASSERT_EQ(jumped.size(), 10u);  // 12 channels, 2 of them disabled
        ASSERT_EQ(smooth.size(), jumped.size());

        int checkedJumps = 0;
        double worst = 0, worstUnrepaired = 0;
        for (int c = 0; c < 12; ++c) {
            if (!header.setup.channelEnabled[c]) continue;
            const double f = header.receiver.channelFrequency[c];
            ASSERT_EQ(jumped.count(f), 1u) << f;
            const std::vector<float> raw = FloatValues(ReadFileBytes(home / ("rec-on/al" + std::to_string(c))));
            for (int pol = 0; pol < 2; ++pol) {
                const std::vector<double>& a = jumped.at(f).samples[pol];
                const std::vector<double>& b = smooth.at(f).samples[pol];
                const std::vector<double>& u = unrepaired.at(f).samples[pol];
                ASSERT_EQ(a.size(), b.size());
                const double range = Range(b), limit = kTolerance * range;
                for (std::size_t i = 0; i < a.size(); ++i) {
                    worst = std::max(worst, std::fabs(a[i] - b[i]) / range);
                    worstUnrepaired = std::max(worstUnrepaired, std::fabs(u[i] - b[i]) / range);
                    ASSERT_NEAR(a[i], b[i], limit) << "channel " << c << " pol " << pol << " sample " << i;
                }
                for (std::size_t k = 0; k < markers.size(); k += 2) {
                    if (markers[k + 1] >> 3 != header.setup.calibrationIndex[c]) continue;
                    const int r = markers[k];
                    EXPECT_NEAR(LineAt(a, r - 4, r), LineAt(a, r + 1, r), limit)
                        << "channel " << c << " pol " << pol << " jump at " << r;
                    if (pol == 0) {  // the recording itself does jump there
                        const double before = (raw[r - 2] + raw[r - 1]) / 2.0, after = (raw[r + 1] + raw[r + 2]) / 2.0;
                        EXPECT_GT(std::fabs(after - before), 0.05 * std::fabs(before)) << r;
                    }
                    ++checkedJumps;
                }
            }
        }
        EXPECT_GE(checkedJumps, 20);
        EXPECT_GT(worstUnrepaired, 5 * kTolerance);
        std::printf("largest difference from the jump-free conversion: %.2e of the range (%.2e unrepaired)\n",
                    worst, worstUnrepaired);
    }
}

// The rows of a CSV file after its header line, which must be `header`.
std::vector<std::vector<std::string>> CsvRows(const std::string& path, const std::string& header) {
    std::istringstream text(ReadFileBytes(path));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, header) << path;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(text, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

// A run of days across the new year: the same channels every day and gains of
// each day's own; the regions where the rotation carries them, apart on every
// day and in the day's truth; the run's files agreeing with the days' truth.
TEST(Simobs, RunOfDaysKeepsItsChannelsAndCarriesItsRegions) {
    TempFolder home;
    const int days = 12;
    const ProcessResult r = Simulate({"--out", home.path(), "--days", std::to_string(days), "--date", "2003-12-26",
                                      "--seed", "9", "--channels", "8", "--samples", "400", "--regions", "6",
                                      "--reference-scale", "0.1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("scale error +0.1"), std::string::npos) << r.out;
    const nlohmann::json run = nlohmann::json::parse(ReadFileBytes(home / "run-truth.json"));
    EXPECT_EQ(run["reference_scale"], 0.1);
    ASSERT_EQ(run["daily"].size(), static_cast<std::size_t>(days));

    std::vector<std::string> dates;
    std::vector<ObservationHeader> headers;
    std::map<std::pair<std::string, int>, double> sourceOffsets, fluxes;
    std::set<double> gains;
    for (int d = 0; d < days; ++d) {
        const std::string date = d < 6 ? "2003-12-" + std::to_string(26 + d) : "2004-01-0" + std::to_string(d - 5);
        dates.push_back(date);
        const std::string bytes = ReadFileBytes(home / (date + "/sun.05h"));
        headers.push_back(DecodeObservationHeader(std::vector<uint8_t>(bytes.begin(), bytes.end())));
        const ObservationHeader& h = headers.back();
        EXPECT_EQ(h.setup.day, d < 6 ? 26 + d : d - 5) << date;
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(h.receiver.channelFrequency[c], headers[0].receiver.channelFrequency[c]) << date;
            EXPECT_EQ(h.setup.channelEnabled[c], headers[0].setup.channelEnabled[c]) << date;
            EXPECT_EQ(h.setup.calibrationIndex[c], headers[0].setup.calibrationIndex[c]) << date;
        }
        const nlohmann::json truth = nlohmann::json::parse(ReadFileBytes(home / (date + "/sun.05-truth.json")));
        EXPECT_EQ(truth["run_day"], d);
        gains.insert(truth["channels"][0]["polarisations"][0]["gain_per_k"].get<double>());
        for (const nlohmann::json& source : truth["sources"])
            sourceOffsets[{date, source["region"]}] = source["offset_arcsec"];
        for (const nlohmann::json& ch : truth["channels"])
            if (ch["enabled"]) fluxes[{date, ch["channel"]}] = ch["whole_sun_flux_sfu"];
    }
    EXPECT_EQ(gains.size(), static_cast<std::size_t>(days));

    // Each region's meridian distance advances by the synodic rate of its
    // latitude from one recording's time to the next; its offset is where
    // the day's P angle and radius put it.
    std::map<int, double> firstDistance;
    std::map<std::string, std::vector<double>> visibleOffsets;
    int visibleRows = 0;
    for (const std::vector<std::string>& row :
         CsvRows(home / "regions-truth.csv", "date,region,latitude,meridian_distance,offset_arcsec,visible,amplitude")) {
        ASSERT_EQ(row.size(), 7u);
        const int d = static_cast<int>(std::find(dates.begin(), dates.end(), row[0]) - dates.begin());
        ASSERT_LT(d, days) << row[0];
        const int region = std::stoi(row[1]);
        const double latitude = std::stod(row[2]), distance = std::stod(row[3]), offset = std::stod(row[4]);
        if (d == 0) firstDistance[region] = distance;
        const double elapsed = d + (ObservationHours(headers[d]) - ObservationHours(headers[0])) / 24.0;
        const double turned =
            std::remainder(distance - firstDistance.at(region) - SynodicRotationRate(latitude) * elapsed, 360.0);
        EXPECT_NEAR(turned, 0.0, 2e-4) << row[0] << " region " << region;
        const ObservationHeader& h = headers[d];
        EXPECT_NEAR(offset, ScanOffsetOf(distance, latitude, h.receiver.angleP, h.pointing.solarRadius), 0.01);
        const bool visible = row[5] == "1";
        EXPECT_EQ(visible, std::stod(row[6]) > 0 && std::fabs(distance) <= 75.0) << row[0] << " region " << region;
        EXPECT_EQ(sourceOffsets.count({row[0], region}), visible ? 1u : 0u) << row[0] << " region " << region;
        if (!visible) continue;
        EXPECT_NEAR(sourceOffsets.at({row[0], region}), offset, 0.01);
        for (double other : visibleOffsets[row[0]]) EXPECT_GE(std::fabs(other - offset), 150.0) << row[0];
        visibleOffsets[row[0]].push_back(offset);
        ++visibleRows;
    }
    EXPECT_GE(visibleRows, days);

    const auto wholeSun = CsvRows(home / "whole-sun-truth.csv", "date,channel,frequency_ghz,flux_sfu");
    EXPECT_EQ(wholeSun.size(), fluxes.size());
    for (const std::vector<std::string>& row : wholeSun)
        EXPECT_NEAR(std::stod(row[3]), fluxes.at({row[0], std::stoi(row[1])}), 1e-4) << row[0] << " " << row[1];

    // The reference: the 2.8 GHz truth times 1 + E; adjusted to 1 AU; URSI 0.9 of that.
    const auto reference = CsvRows(home / "reference-flux.csv", "date,frequency_ghz,flux_sfu");
    std::istringstream text(ReadFileBytes(home / "reference-flux.txt"));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi");
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(days));
    for (int d = 0; d < days; ++d) {
        const nlohmann::json& daily = run["daily"][d];
        const double expected = daily["whole_sun_flux_sfu"].get<double>() * 1.1;
        EXPECT_EQ(reference[d][0], dates[d]);
        EXPECT_NEAR(std::stod(reference[d][2]), expected, 1e-4);
        std::string date, time;
        double julian = 0, carrington = 0, observed = 0, adjusted = 0, ursi = 0;
        ASSERT_TRUE(std::getline(text, line));
        std::istringstream(line) >> date >> time >> julian >> carrington >> observed >> adjusted >> ursi;
        EXPECT_EQ(date, dates[d].substr(0, 4) + dates[d].substr(5, 2) + dates[d].substr(8, 2));
        EXPECT_EQ(time.size(), 6u);
        EXPECT_NEAR(julian, 2452999.5 + d + 0.4, 0.1);  // 2003-12-26 0 UT is JD 2452999.5; about 8-11 UT
        EXPECT_NEAR(carrington, 2011.338 + d / 27.2753, 0.01);  // rotation 2011 begins at JD 2452990.7
        EXPECT_NEAR(observed, expected, 1e-3);
        const double distance = daily["distance_au"];
        EXPECT_NEAR(adjusted, observed * distance * distance, 1e-3);
        EXPECT_NEAR(ursi, 0.9 * adjusted, 1e-3);
    }
}

// The whole-Sun flux is FLUX_L x the scan's integral / the beam's: for the
// disk, the rim and a source each the integral known in closed form (half the
// chord has the integral pi R^2 / 2). FLUX_L is the converter's lookup in the
// written table.
TEST(Simobs, WholeSunFluxIsTheIntegralOfDiskRimAndSources) {
    TempFolder home;
    WriteFileBytes(home / "vm-fits.cfg", CalibrationTableText());
    const Day day = SunOnDate(2003, 11, 5);
    struct Case {
        double ghz, limb, amplitude;
    };
    for (const Case& c : {Case{1.1, 0, 0}, Case{2.8, 0, 0}, Case{7.3, 0, 0}, Case{19.0, 0, 0}, Case{2.8, 0.2, 0},
                          Case{9.0, 0, 0.8}, Case{1.4, 0.1, 1.2}}) {
        SCOPED_TRACE(std::to_string(c.ghz) + " GHz, rim " + std::to_string(c.limb));
        Scan scan;
        scan.n = 2000;
        scan.step = 4.4 * day.solarRadius / scan.n;
        scan.centre = 1010.3;
        scan.limbRim = c.limb;
        if (c.amplitude > 0) scan.sources.push_back(Source{300.0, 20.0, c.amplitude, 6.0, 0.2});
        Channel ch;
        ch.frequency = c.ghz;
        ModelBrightness(day, scan, ch);
        const CalibrationLookup lookup = FindCalibration(home / "vm-fits.cfg", NarrowFrequency(c.ghz));
        ASSERT_EQ(lookup.result, CalibrationResult::Found);
        double fluxFactor = 0, flux = 0;
        ASSERT_TRUE(TableFluxFactor(c.ghz, fluxFactor));
        EXPECT_EQ(fluxFactor, lookup.values.fluxFactor);
        const double r = ch.radius, inner = (1.0 - kLimbRimWidth) * r, root = std::sqrt(2.0 * kPi);
        double integral = ch.temperature * kPi * r * r / (2.0 * ch.diskNorm);
        integral += c.limb * ch.temperature * kPi * (r * r - inner * inner) / (2.0 * ch.diskNorm);
        if (c.amplitude > 0) integral += ch.sourcePeak[0] * ch.sourceSigma[0] * root;
        ASSERT_TRUE(WholeSunFlux(scan, ch, flux));
        EXPECT_NEAR(flux, fluxFactor * integral / (ch.beamSigma * root), 0.005 * flux);
    }
    Channel below;
    below.frequency = kBelowTableFrequency;
    ModelBrightness(day, Scan(), below);
    double flux = 0;
    EXPECT_FALSE(WholeSunFlux(Scan(), below, flux));
}

}  // namespace
