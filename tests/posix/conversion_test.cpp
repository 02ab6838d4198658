// The converter end to end on Linux: small recordings in a temporary folder,
// a copy of the program with its calibration table beside it, and whole
// output files compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "inputs/observation_header.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const char* const kTable = "20 2 10000 10\n10 4 12000 20\n5 8 14000 40\n";

// ---- Expected bytes ----

std::string MainCards(const std::string& naxis1, const std::string& pmcsun, const std::string& date,
                      const std::string& tcalibr) {
    return "SIMPLE  =              F\t/ FILE DOES NOT CONFORM TO FITS STANDARD\r\n"
           "BITPIX  =             16\t/ INTEGER WITH '(I2)' FORMAT\r\n"
           "NAXIS   =              1\t/ NUMBER OF DATA AXES\r\n"
           "NAXIS1  = " + naxis1 + "\t/ LENGTH OF DATA AXIS 1\r\n"
           "PMCSUN  = " + pmcsun + "\t/ POST MERIDIUM CENTER \r\n"
           "DATE-OBS= " + date + "\t/ \r\n"
           "TIME-OBS= '09:05:07.250'\t/ UT \r\n"
           "OBJECT  = 'SUN A15'\t/ \r\n"
           "TELESCOP= 'KAVOR-350'\t/ \r\n"
           "ORIGIN  = 'DORNIKA'\t/ \r\n"
           "RADIUS  =            961\t/ OPTICAL SOLAR RADIUS (ARCSECOND) \r\n"
           "AZIMUTH =   15.000000000\t/ Azimuth of observ. \r\n"
           "ALTITUDE=   45.250000000\t/ Altitude of source \r\n"
           "ANGLE   =   12.500000000\t/ Angle of decl. \r\n"
           "CDELT1  =         0.0996\t/ ARCSEC\t\r\n"
           "N_POLAR =              2\t/ NUMBER OF POLARIZATIONS [1 or 2]\r\n"
           "CALIBR  =              0\t/ FLAG OF CALIBRATION [ 0-NO 1-YES ] \r\n"
           "TCALIBR = " + tcalibr + "\t/ T OF CALIBRATION \r\n"
           "FLAG_IV =              1\t/ IF 1 => R,L; IF 0 => I,V \r\n"
           "COMMENT  TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE \r\n"
           "COMMENT   FORM OF THE DIAGRAM OF A ANTENNA AND KOEF. OF TRANSITION TO FLUX \r\n"
           "END\r\n";
}

// The channel group of the two frequencies the table covers.
std::string Group15GHz() {
    return "OBS-FREQ=         15.000\t/ GHz \r\n"
           "THETA-DG=          15.00\t/ DIMENSION OF DIAGRAMM (ARCSECOND) \r\n"
           "TQSUN   =          11000\t/ Ta[K] \r\n"
           "FLUX_L  =          3.000\t/ KOEF. Ta[K] -> FLUX[S.F.U.] \r\n"
           "END\r\n";
}
std::string Group12GHz() {
    return "OBS-FREQ=         12.500\t/ GHz \r\n"
           "THETA-DG=          17.50\t/ DIMENSION OF DIAGRAMM (ARCSECOND) \r\n"
           "TQSUN   =          11500\t/ Ta[K] \r\n"
           "FLUX_L  =          3.500\t/ KOEF. Ta[K] -> FLUX[S.F.U.] \r\n"
           "END\r\n";
}

struct Block {
    std::string bscale, bzero;
    std::vector<int16_t> values;
};

std::string Polarisations(const Block& al, const Block& ar) {
    return "POLARIZ =              1\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
           "BSCALE  = " + al.bscale + "\t/ \r\n"
           "BZERO   = " + al.bzero + "\t/ \r\n"
           "END\r\n" + Int16Bytes(al.values) + "\r\n"
           "POLARIZ =              0\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
           "BSCALE  = " + ar.bscale + "\t/ \r\n"
           "BZERO   = " + ar.bzero + "\t/ \r\n"
           "END\r\n" + Int16Bytes(ar.values) + "\r\n";
}

const char* const kNov2003 = "' 5/11/2003'";
const char* const kCal1 = "       12.3000";  // calibration index 1
const char* const kCal2 = "       -0.5000";  // calibration index 2

// ---- Recordings ----

std::vector<float> Ramp() {  // 3000 (i - 10): the ten first and ten last cancel
    std::vector<float> v;
    for (int i = 0; i <= 20; ++i) v.push_back(3000.0f * static_cast<float>(i - 10));
    return v;
}
std::vector<float> RampHead(int n) {
    std::vector<float> v = Ramp();
    v.resize(static_cast<std::size_t>(n));
    return v;
}
std::vector<float> Irregular(int n) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<float>((i * 37) % 23 - 11) + i / 4.0f);
    return v;
}

// The scaled ramp (BZERO 0, BSCALE exactly 1) and the scaled Irregular(21).
const Block kRampBlock{"  1.000000e+00", "  0.000000e+00",
                       {30000, 27000, 24000, 21000, 18000, 15000, 12000, 9000, 6000, 3000, 0,
                        -3000, -6000, -9000, -12000, -15000, -18000, -21000, -24000, -27000, -30000}};
const Block kIrregularBlock{"  4.416667e-04", " -4.499998e-01",
                            {-9622, 10188, 30000, -2264, 17547, -14716, 5094, 24905, -7358, 12452, -19811,
                             0, 19811, -12452, 7358, -24905, -5094, 14716, -17547, 2264, -30000}};

// One recording in a temporary folder, with a copy of the converter in its
// own folder beside the calibration table, and the settings kept inside.
class Recording {
public:
    Recording() : obs_(home_ / "obs"), out_(home_ / "out") {
        fs::create_directories(home_ / "bin");
        fs::create_directories(obs_);
        program_ = home_ / "bin/vm-fits";
        fs::copy_file(VMFITS_BINARY, program_);
        fs::permissions(program_, fs::perms::owner_all);
        WriteFileBytes(home_ / "bin/vm-fits.cfg", std::string(kTable));
        SetUsualRecordingFields(header_);
    }

    ObservationHeader& header() { return header_; }
    const std::string& obs() const { return obs_; }
    const std::string& out() const { return out_; }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }
    const TempFolder& home() const { return home_; }

    // Moves the recording into another folder below the temporary one.
    void UseFolder(const std::string& relative) {
        obs_ = home_ / relative;
        fs::create_directories(obs_);
    }

    // An enabled channel; a null sample list leaves that file out.
    void Channel(int c, int16_t calibrationIndex, double frequency, const std::vector<float>* al,
                 const std::vector<float>* ar) {
        header_.setup.channelEnabled[c] = 1;
        header_.setup.calibrationIndex[c] = calibrationIndex;
        header_.receiver.channelFrequency[c] = frequency;
        if (al) WriteFileBytes(obs_ + "/al" + std::to_string(c), FloatBytes(*al));
        if (ar) WriteFileBytes(obs_ + "/ar" + std::to_string(c), FloatBytes(*ar));
    }

    void Markers(const std::string& bytes, const std::string& name = "sun.05p") {
        WriteFileBytes(obs_ + "/" + name, bytes);
    }

    // Writes the header and runs the converter on it with `extra` arguments
    // after the header path and the output folder.
    ProcessResult Run(const std::string& name = "sun.05h", const std::vector<std::string>& extra = {},
                      bool bareName = false) {
        WriteFileBytes(obs_ + "/" + name, EncodeObservationHeader(header_));
        ProcessOptions options;
        options.setEnv["XDG_CONFIG_HOME"] = home_ / "config";
        options.setEnv["HOME"] = home_.path();
        options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
        std::vector<std::string> argv{program_, bareName ? name : obs_ + "/" + name, out_};
        if (bareName) options.workingFolder = obs_;
        argv.insert(argv.end(), extra.begin(), extra.end());
        return RunProcess(argv, options);
    }

    std::vector<std::string> OutputNames() const {
        std::vector<std::string> names;
        if (!fs::exists(out_)) return names;
        for (const auto& e : fs::directory_iterator(out_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempFolder home_;
    std::string obs_, out_, program_;
    ObservationHeader header_;
};

using Names = std::vector<std::string>;

// ---- Conversions ----

// Two channels with markers of their own, under both repair rules. The marker
// file also holds an ignored pair of each kind and an odd last byte.
TEST(Conversion, TwoChannelsUnderBothRepairRules) {
    std::vector<float> al0, ar0, al1;
    for (int i = 0; i < 20; ++i) {
        al0.push_back(i < 8 ? i : i == 8 ? 100 : 2 * i);
        ar0.push_back(i < 8 ? i * i / 4.0f : i == 8 ? -50 : 3 * i * i / 4.0f);
        al1.push_back(i < 6 ? i : i == 6 ? -7 : i < 13 ? 2 * i : i == 13 ? 1000 : 6 * i);
    }
    const std::vector<float> ar1 = Irregular(20);
    // Both rules bring al0 and al1 to p[i] = i, and the baseline to i - 9.5.
    const Block repairedAl{"  3.166667e-04", "  0.000000e+00",
                           {29999, 26842, 23684, 20526, 17368, 14210, 11052, 7894, 4736, 1578, -1578,
                            -4736, -7894, -11052, -14210, -17368, -20526, -23684, -26842, -29999}};
    const struct {
        const char* rule;
        std::vector<std::string> extra;
        Block ar0, ar1;
    } rules[] = {
        {"two-sided extrapolation",
         {},
         {"  1.504167e-03", "  1.427500e+01",
          {29999, 23850, 18033, 12548, 7396, 2576, -1911, -6066, -9889, -13379, -16537, -19695,
           -21855, -24016, -25844, -27340, -28504, -29335, -29833, -29999}},
         {"  4.750000e-04", " -4.957552e-01",
          {-3614, -17169, 4905, -8649, 13426, -129, -13684, 4736, 23157, -6842, 11578, 29999, 0,
           -29999, -11578, 6842, 25263, -4736, 13684, -16315}}},
        {"back extrapolation",
         {"back"},
         {"  2.095970e-03", "  2.064816e+01",
          {30000, 23850, 18033, 12548, 7396, 2576, -1911, -6066, -9889, -13379, -16537, -20346,
           -24155, -25706, -27018, -28091, -28926, -29522, -29880, -30000}},
         {"  3.666667e-04", "  1.222692e+00",
          {-7646, -17559, -1416, -11328, 4814, -5097, -3912, -2727, 21136, -17727, 6136, 29999,
           -8863, -16363, -23863, 0, 23863, -14999, 8863, -29999}}},
    };
    for (const auto& rule : rules) {
        Recording rec;
        rec.Channel(0, 1, 15.0, &al0, &ar0);
        rec.Channel(1, 2, 12.5, &al1, &ar1);
        rec.Markers(Int16Bytes({-1, 8, 8, 8 + 3, 0, 16, 6, 16, 13, 16 + 7}) + "\x05");
        const ProcessResult r = rec.Run("sun.05h", rule.extra);
        EXPECT_EQ(r.exitCode, 1) << rule.rule << r.err;
        EXPECT_EQ(r.err, "vm-fits: warning: marker-odd-length: sun.05p holds 21 bytes, not a whole number of "
                         "4-byte position/tag pairs: its last 1 byte is not used\n")
            << rule.rule;
        EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.002", "s05b03_05z.0hd"}));
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.0hd")),
                  "s05b03_05z.001\t15.000[GHz]\r\ns05b03_05z.002\t12.500[GHz]\r\n");
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
                  MainCards("            20", "     -379.5000", kNov2003, kCal1) + Group15GHz() +
                      Polarisations(repairedAl, rule.ar0))
            << rule.rule;
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.002")),
                  MainCards("            20", "     -379.5000", kNov2003, kCal2) + Group12GHz() +
                      Polarisations(repairedAl, rule.ar1))
            << rule.rule;
    }
}

// The run of the overview: channels 0 and 4 become .001 and .002; a disabled
// channel, a missing ar file (with a warning) and a frequency below the table
// are passed over.
TEST(Conversion, TypicalRunSkipsUnusableChannels) {
    Recording rec;
    const std::vector<float> ramp = Ramp(), irregular = Irregular(21);
    std::vector<float> al4, ar4;
    for (int i = 0; i < 12; ++i) {
        al4.push_back(i * i / 4.0f);
        ar4.push_back(-i / 2.0f);
    }
    rec.Channel(0, 1, 15.0, &ramp, &irregular);
    rec.Channel(1, 1, 15.0, &ramp, &irregular);
    rec.header().setup.channelEnabled[1] = 0;
    rec.Channel(2, 1, 15.0, &ramp, nullptr);
    rec.Channel(3, 1, 2.8, &ramp, &irregular);
    rec.Channel(4, 2, 12.5, &al4, &ar4);
    rec.Markers("");
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "vm-fits: warning: ar-missing: ar2 cannot be opened: channel 2 gets no scan file\n");
    EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.002", "s05b03_05z.0hd"}));
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.0hd")),
              "s05b03_05z.001\t15.000[GHz]\r\ns05b03_05z.002\t12.500[GHz]\r\n");
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
              MainCards("            21", "     -378.5000", kNov2003, kCal1) + Group15GHz() +
                  Polarisations(kRampBlock, kIrregularBlock));
    const Block scaledAl4{"  5.041666e-04", "  5.250000e+00",
                          {30000, 19586, 10165, 1735, -5702, -12148, -17603, -22066, -25537, -28016,
                           -29504, -30000}};
    const Block scaledAr4{"  9.166667e-05", "  0.000000e+00",
                          {-29999, -24545, -19090, -13636, -8181, -2727, 2727, 8181, 13636, 19090,
                           24545, 29999}};
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.002")),
              MainCards("            12", "     -387.5000", kNov2003, kCal2) + Group12GHz() +
                  Polarisations(scaledAl4, scaledAr4));
}

// The names of the outputs: a dot in a folder name gives the scan number, and
// a year before 2000 a negative two-digit year.
TEST(Conversion, NamesFromFolderDotAndEarlyYear) {
    const std::vector<float> ramp = Ramp(), irregular = Irregular(21);
    {
        Recording rec;
        rec.UseFolder("data.2");
        rec.Channel(0, 1, 15.0, &ramp, &irregular);
        rec.Markers("", "sun.07p");
        const ProcessResult r = rec.Run("sun.07h");
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_07z.001", "s05b03_07z.0hd"}));
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_07z.0hd")), "s05b03_07z.001\t15.000[GHz]\r\n");
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_07z.001")),
                  MainCards("            21", "     -378.5000", kNov2003, kCal1) + Group15GHz() +
                      Polarisations(kRampBlock, kIrregularBlock));
    }
    {
        Recording rec;
        rec.header().setup.day = 31;
        rec.header().setup.month = 1;
        rec.header().setup.year = 1999;
        rec.Channel(0, 1, 15.0, &ramp, &irregular);
        rec.Markers("", "sun.123p");
        const ProcessResult r = rec.Run("sun.123h");
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.err, "vm-fits: warning: year-before-2000: the year is 1999, before 2000: the files are named "
                         "s311-1_123z.0hd, s311-1_123z.001, ... (the year written as 1999 - 2000)\n");
        EXPECT_EQ(rec.OutputNames(), (Names{"s311-1_123z.001", "s311-1_123z.0hd"}));
        EXPECT_EQ(ReadFileBytes(rec.Out("s311-1_123z.0hd")), "s311-1_123z.001\t15.000[GHz]\r\n");
        EXPECT_EQ(ReadFileBytes(rec.Out("s311-1_123z.001")),
                  MainCards("            21", "     -378.5000", "'31/01/1999'", kCal1) + Group15GHz() +
                      Polarisations(kRampBlock, kIrregularBlock));
    }
}

// Sample files at the edges of the format, one channel each.
TEST(Conversion, SampleFileEdges) {
    const Block zeros21{"  0.000000e+00", "  0.000000e+00", std::vector<int16_t>(21, 0)};
    const struct {
        const char* name;
        std::vector<float> al, ar;
        const char* naxis1;
        const char* pmcsun;
        Block left, right;
    } cases[] = {
        // After the baseline all samples are 0: BSCALE 0 and a block of zeros.
        {"all-equal polarisation", Ramp(), std::vector<float>(21, 5.0f), "            21",
         "     -378.5000", kRampBlock, zeros21},
        // Positions 15 to 20 keep the repaired al samples.
        {"short ar file", Irregular(21), RampHead(15),
         "            21", "     -378.5000", kIrregularBlock,
         {"  7.000000e-01", " -2.250553e+03",
          {12850, 12862, 12875, 12855, 12867, 12847, 30000, 25714, 21428, 17142, 12857, 8571, 4285,
           0, -4285, -8571, -12857, -17142, -21428, -25714, -30000}}},
        // The seeds stay as max and min: a negative BSCALE over two empty blocks.
        {"no samples", {}, {}, "             0", "     -399.5000", {" -3.333333e+05", "  0.000000e+00", {}},
         {" -3.333333e+06", "  0.000000e+00", {}}},
        {"one sample", {7.0f}, {-3.0f}, "             1", "     -398.5000",
         {"  0.000000e+00", "  0.000000e+00", {0}}, {"  0.000000e+00", "  0.000000e+00", {0}}},
    };
    for (const auto& c : cases) {
        Recording rec;
        rec.Channel(0, 1, 15.0, &c.al, &c.ar);
        rec.Markers(Int16Bytes({30, 8}));  // a marker of the channel beyond its samples
        const ProcessResult r = rec.Run();
        EXPECT_EQ(r.exitCode, 1) << c.name << r.err;
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.0hd")), "s05b03_05z.001\t15.000[GHz]\r\n") << c.name;
        EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
                  MainCards(c.naxis1, c.pmcsun, kNov2003, kCal1) + Group15GHz() +
                      Polarisations(c.left, c.right))
            << c.name;
    }
}

// A header given as a bare file name: the sample files are read beside it.
TEST(Conversion, BareHeaderNameReadsSamplesBesideIt) {
    Recording rec;
    const std::vector<float> ramp = Ramp(), irregular = Irregular(21);
    rec.Channel(0, 1, 15.0, &ramp, &irregular);
    rec.Markers("");
    const ProcessResult r = rec.Run("sun.05h", {}, true);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.0hd"}));
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
              MainCards("            21", "     -378.5000", kNov2003, kCal1) + Group15GHz() +
                  Polarisations(kRampBlock, kIrregularBlock));
}

// ---- Failures: never reported as success ----

TEST(ConversionFailure, MissingMarkerFileWritesNothing) {
    Recording rec;
    const std::vector<float> ramp = Ramp();
    rec.Channel(0, 1, 15.0, &ramp, &ramp);
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Can't open " + rec.obs() + "/sun.05p\n");
    EXPECT_EQ(rec.OutputNames(), Names{});
}

TEST(ConversionFailure, IndexThatCannotBeCreatedWritesNothing) {
    Recording rec;
    const std::vector<float> ramp = Ramp();
    rec.Channel(0, 1, 15.0, &ramp, &ramp);
    rec.Markers("");
    fs::create_directories(rec.Out("s05b03_05z.0hd"));  // a folder in its place
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Can't open " + rec.Out("s05b03_05z.0hd") + ": Is a directory\n");
    EXPECT_EQ(rec.OutputNames(), Names{"s05b03_05z.0hd"});
}

// A scan file that cannot be created gives its number back, so the next
// channel tries the same name again.
TEST(ConversionFailure, ScanFileThatCannotBeCreated) {
    Recording rec;
    const std::vector<float> ramp = Ramp();
    rec.Channel(0, 1, 15.0, &ramp, &ramp);
    rec.Channel(4, 1, 12.5, &ramp, &ramp);
    rec.Markers("");
    fs::create_directories(rec.Out("s05b03_05z.001"));
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 2);
    const std::string message = "Can't open " + rec.Out("s05b03_05z.001") + "\n";
    EXPECT_EQ(r.err, message + message);
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.0hd")), "");
    EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.0hd"}));
}

// A scan file cut short by a full disk is removed and its number given back;
// the next channel's scan file takes it.
TEST(ConversionFailure, ScanFileWriteFailureRemovesTheFile) {
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Recording rec;
    const std::vector<float> ramp = Ramp(), irregular = Irregular(21);
    rec.Channel(0, 1, 15.0, &ramp, &ramp);
    rec.Channel(4, 1, 12.5, &ramp, &irregular);
    rec.Markers("");
    fs::create_directories(rec.out());
    fs::create_symlink("/dev/full", rec.Out("s05b03_05z.001"));
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Can't write " + rec.Out("s05b03_05z.001") + "\n");
    EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.0hd"}));
    EXPECT_FALSE(fs::is_symlink(rec.Out("s05b03_05z.001")));
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.0hd")), "s05b03_05z.001\t12.500[GHz]\r\n");
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
              MainCards("            21", "     -378.5000", kNov2003, kCal1) + Group12GHz() +
                  Polarisations(kRampBlock, kIrregularBlock));
}

// An index line that cannot be written ends the run; the scan file written
// before it stays whole.
TEST(ConversionFailure, IndexWriteFailureEndsTheRun) {
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Recording rec;
    const std::vector<float> ramp = Ramp(), irregular = Irregular(21);
    rec.Channel(0, 1, 15.0, &ramp, &irregular);
    rec.Channel(4, 1, 12.5, &ramp, &irregular);
    rec.Markers("");
    fs::create_directories(rec.out());
    fs::create_symlink("/dev/full", rec.Out("s05b03_05z.0hd"));
    const ProcessResult r = rec.Run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Can't write " + rec.Out("s05b03_05z.0hd") + "\n");
    EXPECT_EQ(rec.OutputNames(), (Names{"s05b03_05z.001", "s05b03_05z.0hd"}));
    EXPECT_EQ(ReadFileBytes(rec.Out("s05b03_05z.001")),
              MainCards("            21", "     -378.5000", kNov2003, kCal1) + Group15GHz() +
                  Polarisations(kRampBlock, kIrregularBlock));
}

}  // namespace
