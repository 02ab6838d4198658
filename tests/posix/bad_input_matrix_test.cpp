// The converter end to end on recordings that each carry one defect: what a
// run does with a damaged header, sample, marker or table file, odd header
// fields, an output folder in the way, long paths and paths with bytes above
// 127. Each row gives the exit code, the status lines, the files written and
// their bytes where they are defined, and the warnings that explain, vm-fits
// and vm-batch's manifest show; fitsverify finds nothing in the FITS files
// vm-scan writes of its scan files. Whatever the row, a run that loses an
// output ends with exit code 2 and names the file, the index lists exactly
// the scan files written, and no scan file is left cut short.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "batch/manifest.h"
#include "inputs/calibration.h"
#include "inputs/observation_header.h"
#include "output/scan_reader.h"
#include "scan/explain.h"
#include "scan/fits_export.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const char* const kTable = "20 2 10000 10\n10 4 12000 20\n5 8 14000 40\n";
const std::string kIndex = "s05b03_05z.0hd";
const std::string kScan1 = "s05b03_05z.001";
const std::string kScan2 = "s05b03_05z.002";
constexpr int kSamples = 40;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

using Files = std::map<std::string, std::string>;  // output file name -> bytes
using Names = std::vector<std::string>;

// A recording, the converter's table and the arguments of one run.
struct Setup {
    ObservationHeader header;
    std::optional<std::string> headerBytes;  // instead of the encoded header
    std::string headerName = "sun.05h";
    std::string headerArgument;  // relative to the recording folder; empty: headerName
    std::map<std::string, std::string> files;  // in the recording folder
    std::optional<std::string> table = std::string(kTable);
    std::string obs = "obs", out = "out";  // relative to the run's home (out may be a full path)
    std::vector<std::string> extra;        // arguments after the output folder
    // vm-fits --cfg TABLE, given after the output folder (TABLE relative to
    // the run's home); none: the table vm-fits finds.
    std::optional<std::string> cfg;
    // Changes to the file system once the files are written.
    std::function<void(const std::string& obs, const std::string& out)> prepare;
};
using Edit = std::function<void(Setup&)>;

struct Outcome {
    int exitCode = -1;
    std::string status;  // standard error but its warnings, the folders written as {obs} and {out}
    Files files;         // the regular files of the output folder
    Names warnings;      // the ids of vm-fits's warnings, in order
    Names explained;     // the ids of the warnings vm-scan explain gives (none when it cannot read the header)
    std::string fitsProblems;  // what fitsverify finds in the FITS files of the scan files written
};

std::vector<float> Wave(int n, int phase) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i)
        v.push_back(static_cast<float>((i * 37 + phase) % 23 - 11) + static_cast<float>(i) / 4.0f);
    return v;
}

// Channel 0 jumps to twice its level at sample 20, marked for calibration
// index 1; channel 1 has no marker.
Setup GoodRecording() {
    Setup s;
    ObservationHeader& h = s.header;
    SetUsualRecordingFields(h);
    const struct {
        int16_t calibrationIndex;
        double frequency;
    } channels[] = {{1, 15.0}, {2, 12.5}};
    for (int c = 0; c < 2; ++c) {
        h.setup.channelEnabled[c] = 1;
        h.setup.calibrationIndex[c] = channels[c].calibrationIndex;
        h.receiver.channelFrequency[c] = channels[c].frequency;
    }
    std::vector<float> al0, ar1;
    for (int i = 0; i < kSamples; ++i) {
        al0.push_back(static_cast<float>(i < 20 ? i : 2 * i));
        ar1.push_back(static_cast<float>(i * i) / 8.0f);
    }
    s.files["al0"] = FloatBytes(al0);
    s.files["ar0"] = FloatBytes(Wave(kSamples, 3));
    s.files["al1"] = FloatBytes(Wave(kSamples, 0));
    s.files["ar1"] = FloatBytes(ar1);
    s.files["sun.05p"] = Int16Bytes({20, 8});
    return s;
}

std::string WaveBytes(int n, int phase) { return FloatBytes(Wave(n, phase)); }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Creates every folder level of `path` below `home` (each at most 255 bytes).
void MakeFolders(const std::string& path) { fs::create_directories(path); }

// What fitsverify finds in the FITS files that vm-scan fits writes of the
// scan files (with the recording, when given): "" when they are all clean.
std::string FitsProblems(const std::string& home, const std::vector<std::string>& scanFiles,
                         const std::string& recording, const std::vector<std::string>& extra,
                         const std::string& table) {
    if (scanFiles.empty() || !FileExists("/usr/bin/fitsverify")) return std::string();
    FitsOptions options;
    options.scanFiles = scanFiles;
    options.outputFolder = home + "/fits";
    options.recording = {recording, !extra.empty(), table};
    std::ostringstream out, err;
    if (FitsCommand(options, out, err) != 0) return "vm-scan fits: " + err.str();
    std::vector<std::string> verify{"/usr/bin/fitsverify", "-q"};
    for (const auto& entry : fs::directory_iterator(home + "/fits")) verify.push_back(entry.path().string());
    const ProcessResult verified = RunProcess(verify);
    std::string problems;
    std::istringstream lines(verified.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("verification OK") == std::string::npos) problems += line + "\n";
    return problems;
}

// Convert() copies the folder of each recording that vm-fits converts with the
// usual table and rule into <archive>/<copyAs>, for one vm-batch run over all.
Outcome Convert(const Setup& s, const std::string& archive = "", const std::string& copyAs = "") {
    TempFolder home;
    fs::create_directories(home / "bin");
    const std::string program = home / "bin/vm-fits";
    fs::copy_file(VMFITS_BINARY, program);
    if (s.table) WriteFileBytes(home / "bin/vm-fits.cfg", *s.table);
    const std::string obs = home / s.obs, out = s.out.rfind('/', 0) == 0 ? s.out : home / s.out;
    MakeFolders(obs);
    WriteFileBytes(obs + "/" + s.headerName,
                   s.headerBytes ? *s.headerBytes : [&] {
                       const std::vector<uint8_t> b = EncodeObservationHeader(s.header);
                       return std::string(b.begin(), b.end());
                   }());
    for (const auto& [name, bytes] : s.files) WriteFileBytes(obs + "/" + name, bytes);
    if (s.prepare) s.prepare(obs, out);

    ProcessOptions options;
    options.setEnv["XDG_CONFIG_HOME"] = home / "config";
    options.setEnv["HOME"] = home.path();
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    std::vector<std::string> argv{program, obs + "/" + (s.headerArgument.empty() ? s.headerName : s.headerArgument),
                                  out};
    // The table vm-fits reads, for explain and the FITS export too.
    std::string table = DefaultCalibrationTablePath(program);
    if (s.cfg) {
        table = home / *s.cfg;
        argv.insert(argv.end(), {"--cfg", table});
    }
    argv.insert(argv.end(), s.extra.begin(), s.extra.end());
    const ProcessResult r = RunProcess(argv, options);

    Outcome outcome;
    outcome.exitCode = r.exitCode;
    std::istringstream lines(r.err);
    const std::string warning = "vm-fits: warning: ";
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, warning.size(), warning) == 0) {
            outcome.warnings.push_back(line.substr(warning.size(), line.find(':', warning.size()) - warning.size()));
        } else {
            outcome.status += Replaced(Replaced(Replaced(line, obs, "{obs}"), out, "{out}"), home.path(), "{home}") + "\n";
        }
    }
    RecordingExplanation explained;
    std::string error;
    if (ExplainRecording(argv[1], !s.extra.empty(), table, false, explained, error))
        for (const RunWarning& w : explained.warnings) outcome.explained.push_back(WarningName(w.id));
    std::vector<std::string> scanFiles;
    std::error_code failure;
    if (fs::is_directory(out, failure)) {
        for (const auto& entry : fs::directory_iterator(out)) {
            if (!entry.is_regular_file() || entry.is_symlink()) continue;
            const std::string name = entry.path().filename().string();
            outcome.files[name] = ReadFileBytes(entry.path().string());
            if (name.find(".0hd") == std::string::npos) scanFiles.push_back(entry.path().string());
        }
    }
    outcome.fitsProblems = FitsProblems(home.path(), scanFiles, r.exitCode == 1 ? argv[1] : "", s.extra, table);
    if (!archive.empty() && r.exitCode == 1 && s.table == std::string(kTable) && s.extra.empty() && !s.cfg)
        fs::copy(obs, archive + "/" + copyAs, fs::copy_options::recursive);
    return outcome;
}

Setup With(const Edit& edit) {
    Setup s = GoodRecording();
    if (edit) edit(s);
    return s;
}

const Outcome& GoodOutcome() {
    static const Outcome good = Convert(GoodRecording());
    return good;
}

Names NamesOf(const Files& files) {
    Names names;
    for (const auto& entry : files) names.push_back(entry.first);
    return names;
}

ScanFileContents Parsed(const Files& files, const std::string& name) {
    ScanFileContents scan;
    std::string error;
    const auto found = files.find(name);
    EXPECT_NE(found, files.end()) << name;
    if (found != files.end()) {
        EXPECT_TRUE(ParseScanFile(found->second, name, scan, error)) << error;
    }
    return scan;
}

// ---- What a row expects of the files ----

using Check = std::function<void(const Files& files, const Files& good)>;

struct Expect {
    std::optional<Edit> like;         // the files of the good recording with this edit (none: as it is)
    std::optional<Names> names;       // else: exactly these files,
    std::optional<std::string> index;  // the index with this text
    Check check;                      // and these bytes
};

Expect AsGood() { return Expect{Edit(), std::nullopt, std::nullopt, Check()}; }
Expect Like(Edit edit) { return Expect{std::move(edit), std::nullopt, std::nullopt, Check()}; }
Expect Exactly(Names names, std::optional<std::string> index = std::nullopt, Check check = Check()) {
    return Expect{std::nullopt, std::move(names), std::move(index), std::move(check)};
}

const std::string kLine1 = kScan1 + "\t15.000[GHz]\r\n";
const std::string kLine2 = kScan2 + "\t12.500[GHz]\r\n";

Check Same(const std::string& name, const std::string& goodName) {
    return [name, goodName](const Files& files, const Files& good) {
        EXPECT_EQ(files.at(name), good.at(goodName)) << name << " differs from the good " << goodName;
    };
}
Check Both(Check a, Check b) {
    return [a, b](const Files& files, const Files& good) {
        a(files, good);
        b(files, good);
    };
}
std::vector<std::string> CardTexts(const ScanFileContents& scan) {
    std::vector<std::string> texts;
    for (const auto& group : scan.groups)
        for (const ScanCard& card : group) texts.push_back(card.text);
    return texts;
}
// Channel 1 as in the good run except the first block's value at `place`.
Check FirstBlockPlaceZero(std::size_t place) {
    return [place](const Files& files, const Files& good) {
        const ScanFileContents scan = Parsed(files, kScan2), expected = Parsed(good, kScan2);
        EXPECT_EQ(CardTexts(scan), CardTexts(expected));
        std::vector<int16_t> values = expected.blocks[0].values;
        values.at(place) = 0;
        EXPECT_EQ(scan.blocks[0].values, values);
        EXPECT_EQ(scan.blocks[1].values, expected.blocks[1].values);
    };
}
// Channel 1's scan file has n points and both blocks whole.
Check Points(int32_t n) {
    return [n](const Files& files, const Files&) { EXPECT_EQ(Parsed(files, kScan2).naxis1, n); };
}
// A block of zeros with the given BSCALE, BZERO 0.
void ExpectZeroBlock(const ScanBlock& block, double bscale, std::size_t n) {
    EXPECT_EQ(block.values, std::vector<int16_t>(n, 0));
    EXPECT_EQ(block.bscale, bscale);
    EXPECT_EQ(block.bzero, 0.0);
}

// ---- Defects ----

Edit HeaderBytes(std::string bytes) {
    return [bytes](Setup& s) { s.headerBytes = bytes; };
}
std::string GoodHeaderBytes() {
    const std::vector<uint8_t> b = EncodeObservationHeader(GoodRecording().header);
    return std::string(b.begin(), b.end());
}
Edit File(const std::string& name, std::string bytes) {
    return [name, bytes](Setup& s) { s.files[name] = bytes; };
}
Edit NoFile(const std::string& name) {
    return [name](Setup& s) { s.files.erase(name); };
}
Edit FolderAt(const std::string& name) {
    return [name](Setup& s) {
        s.files.erase(name);
        s.prepare = [name](const std::string& obs, const std::string&) { fs::create_directory(obs + "/" + name); };
    };
}
Edit Samples(const std::string& name, std::vector<float> values) { return File(name, FloatBytes(values)); }
Edit SampleAt(const std::string& name, int at, float value) {
    return [name, at, value](Setup& s) {
        std::vector<float> v = Wave(kSamples, 0);
        v.at(static_cast<std::size_t>(at)) = value;
        s.files[name] = FloatBytes(v);
    };
}
Edit Markers(std::vector<int16_t> values) { return File("sun.05p", Int16Bytes(values)); }
// Channel 1 (calibration index 2: tags 16 to 23) gets one marker at `position`.
Edit Channel1MarkerAt(int16_t position) { return Markers({20, 8, position, 16}); }
Edit CalibrationIndex1(int16_t index) {
    return [index](Setup& s) { s.header.setup.calibrationIndex[1] = index; };
}
Edit Frequency1(double frequency) {
    return [frequency](Setup& s) { s.header.receiver.channelFrequency[1] = frequency; };
}
Edit Table(std::optional<std::string> table) {
    return [table](Setup& s) { s.table = table; };
}
// Something in the way of an output, made once the output folder exists.
Edit InTheWay(const std::string& name, bool linkToDiskFull) {
    return [name, linkToDiskFull](Setup& s) {
        s.prepare = [name, linkToDiskFull](const std::string&, const std::string& out) {
            fs::create_directories(out);
            if (linkToDiskFull) {
                fs::create_symlink("/dev/full", out + "/" + name);
            } else {
                fs::create_directory(out + "/" + name);
            }
        };
    };
}

std::string PathOfLength(const std::string& start, std::size_t length) {
    std::string path = start;
    while (path.size() < length) path += "/" + std::string(std::min<std::size_t>(100, length - path.size() - 1), 'd');
    return path;
}

struct Row {
    const char* name;
    Edit defect;
    int exitCode;
    std::string status;
    Expect expect;
    // The ids of the warnings that explain, vm-fits (when it converts) and
    // vm-batch's manifest show.
    Names warnings{};
    bool needsUnprivileged = false;  // permission bits do not stop root
};

std::vector<Row> Rows() {
    const std::string header = GoodHeaderBytes();
    const std::string openHeader = "Can't open {obs}/sun.05h\n";
    const std::string openMarker = "Can't open {obs}/sun.05p\n";
    const auto openIndex = [](const char* reason) { return "Can't open {out}/" + kIndex + ": " + reason + "\n"; };
    const Expect noScanFiles = Exactly({kIndex}, "");
    const Expect noChannel1 = Exactly({kScan1, kIndex}, kLine1, Same(kScan1, kScan1));
    std::vector<int16_t> manyPairs{20, 8}, firstNineteen{20, 8};
    for (int16_t k = 0; k < 25; ++k) {
        for (std::vector<int16_t>* list : {&manyPairs, &firstNineteen}) {
            if (list == &firstNineteen && k >= 19) continue;
            list->push_back(static_cast<int16_t>(5 + k));
            list->push_back(static_cast<int16_t>(16 + k % 8));
        }
    }
    std::vector<int16_t> longMarkers{20, 8};
    while (longMarkers.size() < 20000) longMarkers.insert(longMarkers.end(), {100, 30 * 8});
    std::string junk;
    for (int i = 0; i < 2000; ++i) junk += static_cast<char>(0x80 + (i * 37) % 128);
    const std::string longLine = "20 2 10000 10 " + std::string(10000 - 14, 'x') + "\n10 4 12000 20\n5 8 14000 40\n";

    return {
        // The observation header.
        {"header empty", HeaderBytes(""), 1, "", Exactly({"s000-2000_05z.0hd"}, ""),
         {"header-short", "year-before-2000", "marker-unused", "pointing-degenerate"}},
        {"header of 1 byte", HeaderBytes("\xff"), 1, "", Exactly({"s000-2000_05z.0hd"}, ""),
         {"header-short", "year-before-2000", "marker-unused", "pointing-degenerate"}},
        {"header of 1477 bytes", HeaderBytes(header.substr(0, 1477)), 1, "", AsGood(), {"header-short"}},
        {"header of 1 MiB", HeaderBytes(header + std::string((1 << 20) - header.size(), '\xa5')), 1, "",
         AsGood(), {"header-long"}},
        {"header a folder", [](Setup& s) { s.headerName = "x"; s.headerArgument = "sun.05h";
             s.prepare = [](const std::string& obs, const std::string&) { fs::create_directory(obs + "/sun.05h"); }; },
         2, openHeader, Exactly({})},
        {"header missing", [](Setup& s) { s.headerName = "x"; s.headerArgument = "sun.05h"; }, 2,
         openHeader, Exactly({})},
        {"header below a file", [](Setup& s) { s.headerArgument = "sun.05h/sun.05h"; }, 2,
         "Can't open {obs}/sun.05h/sun.05h\n", Exactly({})},
        {"header without read permission",
         [](Setup& s) { s.prepare = [](const std::string& obs, const std::string&) { chmod((obs + "/sun.05h").c_str(), 0); }; },
         2, openHeader, Exactly({}), {}, true},
        {"object name without its zero byte",
         [](Setup& s) { s.header.setup.objectName = "SUN A15" + std::string(81, 'x'); }, 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files& good) {
             const ScanFileContents scan = Parsed(files, kScan1), expected = Parsed(good, kScan1);
             EXPECT_EQ(scan.object, "SUN A15" + std::string(81, 'x'));
             EXPECT_EQ(scan.azimuth, 15.0);
             EXPECT_EQ(scan.blocks[0].values, expected.blocks[0].values);
         })},
        // The names keep the year less 2000 as the stored format writes it.
        {"year 1999", [](Setup& s) { s.header.setup.year = 1999; }, 1, "",
         Exactly({"s05b-1_05z.001", "s05b-1_05z.002", "s05b-1_05z.0hd"},
                 "s05b-1_05z.001\t15.000[GHz]\r\ns05b-1_05z.002\t12.500[GHz]\r\n"),
         {"year-before-2000"}},

        // Sample files.
        {"al empty", File("al1", ""), 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, Both(Same(kScan1, kScan1), [](const Files& files, const Files&) {
             const ScanFileContents scan = Parsed(files, kScan2);
             EXPECT_EQ(scan.naxis1, 0);
             ExpectZeroBlock(scan.blocks[0], -3.333333e+05, 0);
             ExpectZeroBlock(scan.blocks[1], -3.333333e+06, 0);
         })), {"al-empty"}},
        {"al of 1 byte", File("al1", "\x01"), 1, "", Like(File("al1", "")), {"al-empty", "sample-trailing-bytes"}},
        {"al of 2 bytes", File("al1", "\x01\x02"), 1, "", Like(File("al1", "")), {"al-empty", "sample-trailing-bytes"}},
        {"al of 3 bytes", File("al1", "\x01\x02\x03"), 1, "", Like(File("al1", "")), {"al-empty", "sample-trailing-bytes"}},
        {"al and ar of 32767 bytes", [](Setup& s) { s.files["al1"] = WaveBytes(8191, 0) + "abc"; s.files["ar1"] = WaveBytes(8191, 5) + "abc"; },
         1, "", Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, Points(8191)), {"sample-trailing-bytes", "sample-trailing-bytes"}},
        {"al and ar of 32768 bytes", [](Setup& s) { s.files["al1"] = WaveBytes(8192, 0); s.files["ar1"] = WaveBytes(8192, 5); },
         1, "", Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, Points(8192))},
        {"al and ar of 1 MiB", [](Setup& s) { s.files["al1"] = WaveBytes(1 << 18, 0); s.files["ar1"] = WaveBytes(1 << 18, 5); },
         1, "", Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, Points(1 << 18))},
        {"ar missing", NoFile("ar1"), 1, "", noChannel1, {"ar-missing"}},
        {"al missing", NoFile("al1"), 1, "", noChannel1, {"al-missing"}},
        {"al a folder", FolderAt("al1"), 1, "", noChannel1, {"al-missing"}},
        {"ar a folder", FolderAt("ar1"), 1, "", noChannel1, {"ar-missing"}},
        {"ar shorter than al", [](Setup& s) { s.files["ar1"].resize(4 * 20); }, 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files& good) {
             const ScanFileContents scan = Parsed(files, kScan2), expected = Parsed(good, kScan2);
             EXPECT_EQ(scan.naxis1, kSamples);
             EXPECT_EQ(scan.blocks[0].values, expected.blocks[0].values);
         }), {"ar-short"}},
        {"ar longer than al", [](Setup& s) { s.files["ar1"] += FloatBytes({1e6f, -1e6f, 3.0f}); }, 1, "", AsGood(), {"ar-long"}},
        // A sample that is not a number is stored as 0; place 19 of the block
        // holds sample 20 (the block runs from the last sample to the first).
        {"NaN sample", SampleAt("al1", 20, kNaN), 1, "", Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, FirstBlockPlaceZero(19)), {"samples-not-finite"}},
        {"+infinity sample", SampleAt("al1", 20, kInfinity), 1, "", Like(SampleAt("al1", 20, kNaN)), {"samples-not-finite"}},
        {"-infinity sample", SampleAt("al1", 20, -kInfinity), 1, "", Like(SampleAt("al1", 20, kNaN)), {"samples-not-finite"}},
        // Among the ten first samples it spoils the baseline, and with it every sample.
        {"NaN sample in the baseline", SampleAt("al1", 3, kNaN), 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files&) {
             ExpectZeroBlock(Parsed(files, kScan2).blocks[0], -3.333333e+05, kSamples);
         }), {"samples-not-finite"}},
        {"all-equal samples", Samples("ar1", std::vector<float>(kSamples, 7.5f)), 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files& good) {
             const ScanFileContents scan = Parsed(files, kScan2);
             EXPECT_EQ(scan.blocks[0].values, Parsed(good, kScan2).blocks[0].values);
             ExpectZeroBlock(scan.blocks[1], 0.0, kSamples);
         })},
        {"enabled channel without sample files", [](Setup& s) { s.header.setup.channelEnabled[5] = 1; }, 1, "",
         AsGood(), {"al-missing"}},

        // The marker file.
        {"marker file missing", NoFile("sun.05p"), 2, openMarker, Exactly({})},
        {"marker file a folder", FolderAt("sun.05p"), 2, openMarker, Exactly({})},
        {"marker file empty", File("sun.05p", ""), 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files& good) {
             EXPECT_NE(files.at(kScan1), good.at(kScan1));  // the jump stays
             EXPECT_EQ(files.at(kScan2), good.at(kScan2));
         })},
        {"marker file of odd length", File("sun.05p", Int16Bytes({20, 8}) + "\x07"), 1, "", AsGood(), {"marker-odd-length"}},
        {"marker file of 40000 bytes", Markers(longMarkers), 1, "", AsGood(), {"marker-unused"}},
        {"marker at position -2", Channel1MarkerAt(-2), 1, "", AsGood(), {"marker-before-start"}},
        {"marker at position 1", Channel1MarkerAt(1), 1, "", AsGood()},
        {"marker at position n-1", Channel1MarkerAt(kSamples - 1), 1, "", AsGood()},
        {"marker at position n", Channel1MarkerAt(kSamples), 1, "", AsGood(), {"marker-past-end"}},
        {"marker at position 32767", Channel1MarkerAt(32767), 1, "", AsGood(), {"marker-past-end"}},
        {"duplicate markers", Markers({20, 8, 20, 8}), 1, "", AsGood()},
        {"duplicate markers, back extrapolation", [](Setup& s) { s.files["sun.05p"] = Int16Bytes({20, 8, 20, 8}); s.extra = {"back"}; },
         1, "", Like([](Setup& s) { s.extra = {"back"}; })},
        {"25 matching pairs", Markers(manyPairs), 1, "", Like(Markers(firstNineteen))},

        // Header fields: the calibration index and the frequency of channel 1.
        {"calibrationIndex 58", CalibrationIndex1(58), 1, "", Like(CalibrationIndex1(0))},
        {"calibrationIndex -1", CalibrationIndex1(-1), 1, "", Like(CalibrationIndex1(0))},
        {"calibrationIndex 32767", CalibrationIndex1(32767), 1, "", Like(CalibrationIndex1(0))},
        {"channelFrequency NaN", Frequency1(std::nan("")), 1, "", noChannel1},
        {"channelFrequency 0", Frequency1(0.0), 1, "", noChannel1},
        {"channelFrequency negative", Frequency1(-12.5), 1, "", noChannel1},
        {"channelFrequency 1e300", Frequency1(1e300), 1, "", noChannel1},

        // The calibration table: without values no channel gets a scan file.
        {"table missing", Table(std::nullopt), 1, "", noScanFiles, {"no-calibration-table"}},
        {"table empty", Table(""), 1, "", noScanFiles, {"no-calibration-table"}},
        {"table of binary junk", Table(junk), 1, "", noScanFiles, {"no-calibration-table"}},
        {"table a folder", [](Setup& s) { s.table = std::nullopt;
             s.prepare = [](const std::string& obs, const std::string&) { fs::create_directory(obs + "/../bin/vm-fits.cfg"); }; },
         1, "", noScanFiles, {"no-calibration-table"}},
        {"table with a 10,000-character line", Table(longLine), 1, "", AsGood()},
        {"table in rising order", Table("5 8 4000 40\n10 4 12000 20\n20 2 10000 10\n"), 1, "",
         Exactly({kScan1, kScan2, kIndex}, kLine1 + kLine2, [](const Files& files, const Files& good) {
             // The first row scaled through zero: by 15/5 and by 12.5/5.
             const ScanFileContents first = Parsed(files, kScan1), second = Parsed(files, kScan2);
             EXPECT_EQ(std::vector<double>({first.fluxL, first.thetaDg, second.fluxL, second.thetaDg}),
                       std::vector<double>({24.0, 120.0, 20.0, 100.0}));
             EXPECT_EQ(std::vector<int32_t>({first.tqsun, second.tqsun}), std::vector<int32_t>({12000, 10000}));
             EXPECT_EQ(first.blocks[0].values, Parsed(good, kScan1).blocks[0].values);
         })},
        {"table whose first row is at 0 GHz", Table("0 1 1000 5\n10 4 12000 20\n5 8 14000 40\n"), 1, "", noScanFiles},
        {"table with CR LF line ends", Table("20 2 10000 10\r\n10 4 12000 20\r\n5 8 14000 40\r\n"), 1, "", AsGood()},
        {"table with Ctrl-Z after its first row", Table("20 2 10000 10\n\x1a" "10 4 12000 20\n5 8 14000 40\n"), 1, "",
         noScanFiles},
        {"table with Ctrl-Z after its last row", Table(std::string(kTable) + "\x1a" "1 1 1 1\n"), 1, "", AsGood()},
        // Found as the tools find it: the tools of a build tree lie one folder below vm-fits.
        {"table in the folder above vm-fits", [](Setup& s) { s.table = std::nullopt;
             s.prepare = [](const std::string& obs, const std::string&) { WriteFileBytes(obs + "/../vm-fits.cfg", kTable); }; },
         1, "", AsGood()},
        // --cfg is no third argument: the repair stays two-sided.
        {"table given with --cfg after the output folder", [](Setup& s) { s.table = std::nullopt; s.cfg = "other.cfg";
             s.prepare = [](const std::string& obs, const std::string&) { WriteFileBytes(obs + "/../other.cfg", kTable); }; },
         1, "", AsGood()},

        // The output folder.
        {"output folder whose parent is missing", [](Setup& s) { s.out = "missing/out"; }, 2,
         "Can't create {out}: the folder {home}/missing does not exist\n" + openIndex("No such file or directory"),
         Exactly({})},
        // /proc is there but takes no new folder.
        {"output folder below /proc", [](Setup& s) { s.out = "/proc/vm-fits-out"; }, 2,
         "Can't create {out}: No such file or directory\n" + openIndex("No such file or directory"), Exactly({})},
        {"output folder is a file", [](Setup& s) { s.prepare = [](const std::string&, const std::string& out) { WriteFileBytes(out, "x"); }; },
         2, openIndex("Not a directory"), Exactly({})},
        {"read-only output folder", [](Setup& s) { s.prepare = [](const std::string&, const std::string& out) {
             fs::create_directory(out); chmod(out.c_str(), 0555); }; },
         2, openIndex("Permission denied"), Exactly({}), {}, true},
        {"index name taken by a folder", InTheWay(kIndex, false), 2, openIndex("Is a directory"), Exactly({})},
        // Both channels try the first number in turn.
        {"scan file name taken by a folder", InTheWay(kScan1, false), 2,
         "Can't open {out}/s05b03_05z.001\nCan't open {out}/s05b03_05z.001\n", Exactly({kIndex}, "")},
        // The file cut short is removed; channel 1 then takes its number.
        {"disk full at the first scan file", InTheWay(kScan1, true), 2, "Can't write {out}/s05b03_05z.001\n",
         Exactly({kScan1, kIndex}, kScan1 + "\t12.500[GHz]\r\n", Same(kScan1, kScan2))},
        {"disk full at the second scan file", InTheWay(kScan2, true), 2, "Can't write {out}/s05b03_05z.002\n",
         Exactly({kScan1, kIndex}, kLine1, Same(kScan1, kScan1))},
        {"disk full at the index", InTheWay(kIndex, true), 2, "Can't write {out}/s05b03_05z.0hd\n",
         Exactly({kScan1}, std::nullopt, Same(kScan1, kScan1))},

        // Paths.
        // The output folder is created one level deep: its parent exists.
        {"paths of 300 characters", [](Setup& s) { s.obs = PathOfLength("obs", 300); s.out = PathOfLength("out", 300);
             s.prepare = [](const std::string&, const std::string& out) { fs::create_directories(fs::path(out).parent_path()); }; },
         1, "", AsGood()},
        {"paths with bytes above 127", [](Setup& s) { s.obs = "obs-\xc3\xa9\xff"; s.out = "out-\xe9\x80"; }, 1, "", AsGood()},
    };
}

// What holds in every row: the index lists exactly the scan files there, and
// every scan file is whole.
void ExpectNothingCutShort(const Outcome& outcome) {
    Names scanFiles;
    for (const auto& [name, bytes] : outcome.files) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".0hd") == 0) continue;
        scanFiles.push_back(name);
        ScanFileContents scan;
        std::string error;
        EXPECT_TRUE(ParseScanFile(bytes, name, scan, error)) << error;
    }
    for (const auto& [name, bytes] : outcome.files) {
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".0hd") != 0) continue;
        std::vector<ScanIndexEntry> entries;
        std::string error;
        ASSERT_TRUE(ParseScanIndex(bytes, name, entries, error)) << error;
        Names listed;
        for (const ScanIndexEntry& entry : entries) listed.push_back(entry.name);
        EXPECT_EQ(listed, scanFiles) << name;
    }
}

// The table of warnings by id, and the README's list of them: the same
// names in the same order, each with the meaning of its row (less the
// backquotes of its code).
TEST(BadInputMatrix, WarningTableAndTheReadmesList) {
    const std::vector<WarningKind>& kinds = WarningKinds();
    ASSERT_EQ(kinds.size(), static_cast<std::size_t>(WarningId::MarkerBeforeStart) + 1);
    std::set<std::string> names;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const WarningId id = static_cast<WarningId>(i);
        EXPECT_EQ(kinds[i].id, id) << i;
        EXPECT_EQ(std::string(WarningName(id)), kinds[i].name);
        EXPECT_EQ(std::string(WarningMeaning(id)), kinds[i].meaning);
        WarningId named = WarningId::MarkerBeforeStart;
        EXPECT_TRUE(WarningIdOfName(kinds[i].name, named));
        EXPECT_EQ(named, id) << kinds[i].name;
        EXPECT_TRUE(names.insert(kinds[i].name).second) << kinds[i].name << " twice";
    }
    WarningId untouched = WarningId::ArLong;
    for (const char* name : {"", "ar", "ar-short ", "AR-SHORT", "ar-short: x"}) {
        EXPECT_FALSE(WarningIdOfName(name, untouched)) << name;
        EXPECT_EQ(untouched, WarningId::ArLong);
    }

    const std::string readme = ReadFileBytes(VMFITS_SOURCE_DIR "/README.md");
    const std::size_t from = readme.find("\n## Warnings\n");
    ASSERT_NE(from, std::string::npos);
    std::istringstream section(readme.substr(from + 1, readme.find("\n## ", from + 1) - from));
    const auto plain = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '`'), text.end());
        return text;
    };
    std::vector<std::pair<std::string, std::string>> listed, tabled;
    for (std::string line; std::getline(section, line);) {
        if (line.rfind("| `", 0) != 0) continue;  // a row of ids
        const std::size_t bar = line.find(" | ", 2);
        ASSERT_NE(bar, std::string::npos) << line;
        ASSERT_EQ(line.substr(line.size() - 2), " |") << line;
        const std::string meaning = plain(line.substr(bar + 3, line.size() - 2 - (bar + 3)));
        std::istringstream ids(line.substr(2, bar - 2));
        for (std::string id; std::getline(ids, id, ',');) {
            if (!id.empty() && id[0] == ' ') id.erase(0, 1);
            listed.emplace_back(plain(id), meaning);
        }
    }
    for (const WarningKind& kind : kinds) tabled.emplace_back(kind.name, kind.meaning);
    EXPECT_EQ(listed, tabled);
}

TEST(BadInputMatrix, EachDefectHasItsOutcome) {
    const Outcome& good = GoodOutcome();
    ASSERT_EQ(good.exitCode, 1) << good.status;
    ASSERT_EQ(good.status, "");
    ASSERT_EQ(NamesOf(good.files), (Names{kScan1, kScan2, kIndex}));
    EXPECT_EQ(good.files.at(kIndex), kLine1 + kLine2);
    // Channel 0's jump is repaired: p[i] = i, less the baseline 19.5 (and
    // 19.5 / BSCALE truncates to 29999).
    const ScanFileContents repaired = Parsed(good.files, kScan1);
    EXPECT_EQ(repaired.blocks[0].bzero, 0.0);
    EXPECT_EQ(repaired.blocks[0].values.front(), 29999);
    EXPECT_EQ(repaired.blocks[0].values.back(), -29999);

    const std::vector<Row> rows = Rows();
    EXPECT_GE(rows.size(), 50u);
    const bool root = geteuid() == 0;
    TempFolder archive;
    std::map<std::string, const Row*> batchRows;  // recording in the archive -> its row
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsUnprivileged && root) {
            std::printf("row \"%s\" not run: running as root, whom permission bits do not stop; "
                        "the same failure is covered by a folder or a file in the way\n", row.name);
            continue;
        }
        const std::string copyAs = "row" + std::to_string(&row - rows.data());
        const Outcome outcome = Convert(With(row.defect), archive.path(), copyAs);
        if (FileExists(archive / copyAs)) batchRows[copyAs + "/sun.05h"] = &row;
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_EQ(outcome.explained, row.warnings);
        // vm-fits says each as it comes to it: a run that ends early says the first ones.
        if (outcome.exitCode == 1) {
            EXPECT_EQ(outcome.warnings, row.warnings);
        } else {
            EXPECT_LE(outcome.warnings.size(), row.warnings.size());
            EXPECT_TRUE(std::equal(outcome.warnings.begin(), outcome.warnings.end(), row.warnings.begin()));
        }
        EXPECT_EQ(outcome.fitsProblems, "");
        // Nothing lost silently: a failed run says which file, a good one says nothing.
        EXPECT_EQ(outcome.exitCode == 2, !outcome.status.empty());
        ExpectNothingCutShort(outcome);
        const Expect& expect = row.expect;
        if (expect.like) {
            const Outcome reference = *expect.like ? Convert(With(*expect.like)) : good;
            EXPECT_EQ(NamesOf(outcome.files), NamesOf(reference.files));
            EXPECT_EQ(outcome.files, reference.files);
            continue;
        }
        EXPECT_EQ(NamesOf(outcome.files), *expect.names);
        if (expect.index) {
            const auto index = std::find_if(outcome.files.begin(), outcome.files.end(), [](const auto& file) {
                return file.first.size() > 4 && file.first.compare(file.first.size() - 4, 4, ".0hd") == 0;
            });
            ASSERT_NE(index, outcome.files.end());
            EXPECT_EQ(index->second, *expect.index);
        }
        if (expect.check && NamesOf(outcome.files) == *expect.names) expect.check(outcome.files, good.files);
    }

    // Every warning of the table comes from some row.
    std::set<std::string> warned;
    for (const Row& row : rows) warned.insert(row.warnings.begin(), row.warnings.end());
    for (const WarningKind& kind : WarningKinds())
        EXPECT_EQ(warned.count(kind.name), 1u) << "no row of the matrix gets " << kind.name;

    // vm-batch over the recordings converted with the usual table: each
    // recording's manifest line holds the row's warnings.
    WriteFileBytes(archive / "vm-fits.cfg", kTable);
    const ProcessResult batch =
        RunProcess({VMFITS_TOOLS_DIR "/vm-batch", archive.path(), archive / "out", "--cfg", archive / "vm-fits.cfg"});
    EXPECT_EQ(batch.exitCode, 0) << batch.err;
    std::map<std::string, ManifestEntry> latest;
    std::string error;
    ASSERT_TRUE(ReadManifests(archive / "out", latest, error)) << error;
    EXPECT_GE(batchRows.size(), 40u);
    for (const auto& [recording, row] : batchRows) {
        Names ids;
        for (const ConverterWarning& warning : latest[recording].warnings) ids.push_back(warning.id);
        EXPECT_EQ(ids, row->warnings) << row->name;
    }
}

}  // namespace
