// vm-scan fits: standard files (fitsverify, astropy), the same bytes for the
// same input, literal file names, and every failure named.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "scan/fits_export.h"
#include "scan/scan_file_commands.h"
#include "scan/scan_fixtures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = VMFITS_SOURCE_DIR "/samples/sun-2003-11-05";

struct ExportRun {
    int code;
    std::string out, err;
};

ExportRun Export(const std::vector<std::string>& files, const std::string& folder,
           const std::string& index = "", const char* epoch = nullptr) {
    FitsOptions options;
    options.scanFiles = files;
    options.indexPath = index;
    options.outputFolder = folder;
    options.sourceDateEpochSet = epoch != nullptr;
    options.sourceDateEpoch = epoch ? epoch : "";
    std::ostringstream out, err;
    const int code = FitsCommand(options, out, err);
    return {code, out.str(), err.str()};
}

// The sample converted by vm-fits, plus a few scan files made by the writer.
class FitsExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Convert(home_, kSample + "/sun.05h", home_ / "scans", kSample + "/vm-fits.cfg").exitCode, 1);
        for (const auto& [name, bytes] : FolderContents(home_ / "scans"))
            if (name.find(".0hd") == std::string::npos) scans_.push_back(home_ / ("scans/" + name));
        ASSERT_EQ(scans_.size(), 7u);
        made_ = {home_ / "made/empty.001", home_ / "made/long-object.002", home_ / "made/odd-object.003",
                 home_ / "made/not-finite.004"};
        fs::create_directories(home_ / "made");
        WriteFileBytes(made_[0], MadeScanFile(0));
        WriteFileBytes(made_[1], MadeScanFile(5, std::string(40, 'S') + " 'A12' " + std::string(40, 'N')));
        WriteFileBytes(made_[2], MadeScanFile(5, "Sonne \xfc\x01 A3"));
        std::string bytes = MadeScanFile(5);
        bytes.replace(bytes.find("AZIMUTH = ") + 10, 14, "          -nan");
        bytes.replace(bytes.find("FLUX_L  = ") + 10, 14, "           inf");
        WriteFileBytes(made_[3], bytes);
    }

    std::vector<std::string> All() const {
        std::vector<std::string> all = scans_;
        all.insert(all.end(), made_.begin(), made_.end());
        return all;
    }
    static std::string FitsName(const std::string& folder, const std::string& scan) {
        return folder + "/" + fs::path(scan).filename().string() + ".fits";
    }

    TempFolder home_;
    std::vector<std::string> scans_, made_;
};

TEST_F(FitsExport, ChecksumsHoldAndTheFilesAreTheSameEveryTime) {
    const ExportRun first = Export(All(), home_ / "fits-1", "", "1700000000");
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(first.out.find("wrote " + FitsName(home_ / "fits-1", scans_[0]) + "\n"), 0u);
    const ExportRun second = Export(All(), home_ / "fits-2", "", "1700000000");
    ASSERT_EQ(second.code, 0) << second.err;
    for (const std::string& scan : All()) {
        const std::string one = FitsName(home_ / "fits-1", scan), two = FitsName(home_ / "fits-2", scan);
        EXPECT_TRUE(ReadFileBytes(one) == ReadFileBytes(two)) << scan;
        EXPECT_EQ(ReadFileBytes(one).size() % 2880, 0u);
        fitsfile* file = nullptr;
        int status = 0, dataOk = 0, hduOk = 0;
        fits_open_diskfile(&file, one.c_str(), READONLY, &status);
        fits_verify_chksum(file, &dataOk, &hduOk, &status);
        fits_close_file(file, &status);
        EXPECT_EQ(status, 0) << scan;
        EXPECT_EQ(dataOk, 1) << scan;
        EXPECT_EQ(hduOk, 1) << scan;
    }
    EXPECT_FALSE(FileExists(FitsName(home_ / "fits-1", scans_[0]) + ".part"));
}

// DATE is when the file is written; SOURCE_DATE_EPOCH sets it and nothing else.
TEST_F(FitsExport, SourceDateEpochSetsTheDate) {
    const std::string before = CurrentInstant();
    ASSERT_EQ(Export({scans_[0]}, home_ / "observed").code, 0);
    ASSERT_EQ(Export({scans_[0]}, home_ / "epoch", "", "1700000000").code, 0);
    const std::string observed = ReadFileBytes(FitsName(home_ / "observed", scans_[0]));
    const std::string epoch = ReadFileBytes(FitsName(home_ / "epoch", scans_[0]));
    const std::size_t date = observed.find("DATE    = '");
    ASSERT_NE(date, std::string::npos);
    EXPECT_GE(observed.substr(date + 11, 19), before);
    EXPECT_NE(observed.find("BUNIT   = 'adu     '"), std::string::npos);
    EXPECT_NE(epoch.find("DATE    = '2023-11-14T22:13:20'"), std::string::npos);
    EXPECT_NE(epoch.find("DATE-OBS= '2003-11-05T09:13:21.060'"), std::string::npos);
    ASSERT_EQ(observed.size(), epoch.size());
    std::vector<std::string> differing;  // the keywords of the cards that differ
    for (std::size_t at = 0; at + 80 <= observed.size(); at += 80)
        if (observed.compare(at, 80, epoch, at, 80) != 0) differing.push_back(observed.substr(at, 8));
    EXPECT_EQ(differing, (std::vector<std::string>{"DATE    ", "CHECKSUM"}));

    const ExportRun bad = Export({scans_[0]}, home_ / "bad", "", "yesterday");
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "SOURCE_DATE_EPOCH 'yesterday' is not a whole number of seconds up to the year 9999\n");
}

TEST_F(FitsExport, FitsverifyFindsNothing) {
    if (!FileExists("/usr/bin/fitsverify")) GTEST_SKIP() << "fitsverify is not installed";
    ASSERT_EQ(Export(All(), home_ / "fits").code, 0);
    for (const std::string& scan : All()) {
        const ProcessResult r = RunProcess({"/usr/bin/fitsverify", FitsName(home_ / "fits", scan)});
        EXPECT_NE(r.out.find("**** Verification found 0 warning(s) and 0 error(s). ****"), std::string::npos)
            << scan << "\n" << r.out;
    }
}

TEST_F(FitsExport, AstropyReadsShapeAxesDateAndData) {
    const std::string python = AstropyPython();
    if (python.empty()) GTEST_SKIP() << "no /usr/bin/python3 with astropy";
    ASSERT_EQ(Export(All(), home_ / "fits").code, 0);
    for (const std::string& scan : All()) {
        std::ostringstream csv, err;
        ASSERT_EQ(DataCommand(scan, csv, err), 0);
        WriteFileBytes(home_ / "data.csv", csv.str());
        ScanFileContents contents;
        std::string error, date;
        ASSERT_TRUE(ReadScanFile(scan, contents, error));
        ASSERT_TRUE(ObservationInstant(contents, date));
        const ProcessResult r = RunProcess({python, VMFITS_SOURCE_DIR "/tests/scan/check_fits.py",
                                            FitsName(home_ / "fits", scan), home_ / "data.csv", date});
        EXPECT_EQ(r.exitCode, 0) << scan << "\n" << r.out << r.err;
        EXPECT_EQ(r.out, "ok\n");
    }
}

// With the recording: its warnings as cards, and the points of channel 0's
// LL block that hold repaired al values (ar0 is short) flagged in QUALITY.
TEST_F(FitsExport, RecordingWarningsAndQuality) {
    FitsOptions options;
    options.scanFiles = {scans_[0], scans_[1]};
    options.outputFolder = home_ / "quality";
    options.recording.headerPath = kSample + "/sun.05h";
    options.recording.tablePath = kSample + "/vm-fits.cfg";
    std::ostringstream out, err;
    ASSERT_EQ(FitsCommand(options, out, err), 0) << err.str();
    const struct {
        std::size_t scan;
        long warnings, flaggedRR, flaggedLL;
    } expected[] = {{0, 1, 0, 1024}, {1, 0, 0, 0}};
    for (const auto& e : expected) {
        fitsfile* file = nullptr;
        int status = 0;
        long warnings = -1;
        char id[FLEN_VALUE] = {};
        fits_open_diskfile(&file, FitsName(home_ / "quality", scans_[e.scan]).c_str(), READONLY, &status);
        fits_read_key(file, TLONG, "NQWARN", &warnings, nullptr, &status);
        if (e.warnings > 0) fits_read_key(file, TSTRING, "QWARN1", id, nullptr, &status);
        fits_movnam_hdu(file, IMAGE_HDU, const_cast<char*>("QUALITY"), 0, &status);
        const long n = 2048;
        std::vector<unsigned char> flags(2 * n);
        fits_read_img(file, TBYTE, 1, 2 * n, nullptr, flags.data(), nullptr, &status);
        fits_close_file(file, &status);
        ASSERT_EQ(status, 0) << scans_[e.scan];
        EXPECT_EQ(warnings, e.warnings);
        if (e.warnings > 0) {
            EXPECT_STREQ(id, "ar-short");
        }
        EXPECT_EQ(std::count(flags.begin(), flags.begin() + n, kQualityFromAl), e.flaggedRR);
        EXPECT_EQ(std::count(flags.begin() + n, flags.end(), kQualityFromAl), e.flaggedLL);
    }
    options.scanFiles = {home_ / "made/empty.001"};
    std::ostringstream out2, err2;
    EXPECT_EQ(FitsCommand(options, out2, err2), 1);
    EXPECT_EQ(err2.str(), "empty.001 is not a scan file that " + kSample + "/sun.05h gives\n");

    // Without the recording no count of warnings is claimed: the file says it was not checked.
    ASSERT_EQ(Export({scans_[0]}, home_ / "unchecked").code, 0);
    const std::string unchecked = ReadFileBytes(FitsName(home_ / "unchecked", scans_[0]));
    EXPECT_EQ(unchecked.find("NQWARN"), std::string::npos);
    EXPECT_NE(unchecked.find("COMMENT the recording was not checked (no --recording): warnings unknown"),
              std::string::npos);
}

TEST_F(FitsExport, ByIndexAndWithLiteralNames) {
    const ExportRun byIndex = Export({}, home_ / "index", home_ / "scans/s05b03_05z.0hd");
    ASSERT_EQ(byIndex.code, 0) << byIndex.err;
    for (const std::string& scan : scans_) EXPECT_TRUE(FileExists(FitsName(home_ / "index", scan)));

    const std::string odd = home_ / "made/a[1]!b.001";
    fs::copy_file(scans_[0], odd);
    const ExportRun literal = Export({odd}, home_ / "odd[x]");
    ASSERT_EQ(literal.code, 0) << literal.err;
    EXPECT_TRUE(FileExists(home_ / "odd[x]/a[1]!b.001.fits"));
}

TEST_F(FitsExport, FailuresAreNamedAndTheOthersWritten) {
    WriteFileBytes(home_ / "made/cut.001", ReadFileBytes(scans_[0]).substr(0, 500));
    std::string bytes = MadeScanFile(3);
    bytes.replace(bytes.find("' 5/11/2003'"), 12, "'31/13/2003'");
    WriteFileBytes(home_ / "made/month.001", bytes);
    bytes = MadeScanFile(3);
    bytes.replace(bytes.find("FLAG_IV =              1"), 24, "FLAG_IV =              0");
    WriteFileBytes(home_ / "made/iv.001", bytes);
    const std::string cut = home_ / "made/cut.001", month = home_ / "made/month.001", iv = home_ / "made/iv.001";
    const ExportRun run = Export({cut, scans_[1], month, iv, home_ / "made/none.001", scans_[1]}, home_ / "fits");
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, cut + ": cut short in the main header (no END card)\n" +
                           month + ": DATE-OBS '31/13/2003' and TIME-OBS '09:05:07.250' are not a calendar date and time\n" +
                           iv + ": FLAG_IV is 0; only R and L polarisations (FLAG_IV 1) are exported\n" +
                           "Can't open " + (home_ / "made/none.001") + "\n" +
                           scans_[1] + ": " + FitsName(home_ / "fits", scans_[1]) +
                           " was already written from " + scans_[1] + "\n");
    EXPECT_EQ(run.out, "wrote " + FitsName(home_ / "fits", scans_[1]) + "\n");
    EXPECT_FALSE(FileExists(home_ / "fits/cut.001.fits"));
    EXPECT_FALSE(FileExists(home_ / "fits/month.001.fits.part"));

    WriteFileBytes(home_ / "file", std::string("x"));
    const ExportRun folder = Export({scans_[0]}, home_ / "file");
    EXPECT_EQ(folder.code, 1);
    EXPECT_EQ(folder.err, "Can't create " + (home_ / "file") + ": a file of that name is in the way\n");
    const ExportRun noIndex = Export({}, home_ / "fits", home_ / "none.0hd");
    EXPECT_EQ(noIndex.code, 1);
    EXPECT_EQ(noIndex.err, "Can't open " + (home_ / "none.0hd") + "\n");
}

TEST(ObservationInstant, CalendarAndCarries) {
    const struct {
        int day, month, year, hour, minute;
        double second;
        const char* iso;  // nullptr: not a calendar date and time
    } cases[] = {
        {5, 11, 2003, 9, 13, 21.06, "2003-11-05T09:13:21.060"},
        {31, 12, 1999, 23, 59, 59.9996, "2000-01-01T00:00:00.000"},
        {29, 2, 2004, 0, 0, 0.0, "2004-02-29T00:00:00.000"},
        {29, 2, 2003, 0, 0, 0.0, nullptr},
        {0, 1, 2003, 0, 0, 0.0, nullptr},
        {1, 13, 2003, 0, 0, 0.0, nullptr},
        {1, 1, 2003, 24, 0, 0.0, nullptr},
        {1, 1, 2003, 0, 60, 0.0, nullptr},
        {1, 1, 2003, 0, 0, -0.5, nullptr},
        {1, 1, 2003, 0, 0, std::nan(""), nullptr},
        {1, 1, 0, 0, 0, 0.0, nullptr},
        {31, 12, 9999, 23, 59, 59.9999, nullptr},  // carries into the year 10000
    };
    for (const auto& c : cases) {
        ScanFileContents scan;
        scan.day = c.day;
        scan.month = c.month;
        scan.year = c.year;
        scan.hour = c.hour;
        scan.minute = c.minute;
        scan.second = c.second;
        std::string iso;
        EXPECT_EQ(ObservationInstant(scan, iso), c.iso != nullptr) << c.year << "-" << c.month << "-" << c.day;
        if (c.iso) {
            EXPECT_EQ(iso, c.iso);
        }
    }
    std::string iso;
    EXPECT_TRUE(EpochInstant("0", iso));
    EXPECT_EQ(iso, "1970-01-01T00:00:00");
    EXPECT_FALSE(EpochInstant("-1", iso));
    EXPECT_FALSE(EpochInstant("", iso));
    EXPECT_FALSE(EpochInstant("999999999999", iso));  // past the year 9999
}

}  // namespace
