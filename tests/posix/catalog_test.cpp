// The catalog's safety: any bytes in and out as they were, and nothing
// committed lost when a writer is killed. A recording's entry made with its
// quick-look products is the one MakeCatalogRecording makes, and the
// products are what vm-scan writes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "catalog/catalog.h"
#include "output/scan_reader.h"
#include "scan/fits_export.h"
#include "scan/scan_file_commands.h"
#include "site/products.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace {

CatalogRecording Entry(const std::string& header, const std::string& object, int scanFiles) {
    CatalogRecording r;
    r.header = header;
    r.output = "/out/" + header;
    r.observed = "2003-11-05T08:13:07.52";
    r.object = object;
    r.status = "converted";
    r.warnings = {{"ar-short", 2, object}};
    for (int c = 0; c < scanFiles; ++c) {
        CatalogScanFile f;
        f.name = "scan" + std::to_string(c);
        f.channel = c;
        f.frequency = 3.0 + c;
        f.calibrated = c % 2 == 0;
        f.refusal = f.calibrated ? "" : object;
        f.hasFlux = f.calibrated;
        f.flux = 100.0 + c;
        f.sources.resize(1);
        r.scanFiles.push_back(f);
    }
    return r;
}

TEST(Catalog, AwkwardTextIsStoredAndReadBackAsItIs) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    const std::vector<std::string> texts = {
        "it's \"quoted\"/sun.05h",
        "'); DROP TABLE recordings; --/sun.05h",
        std::string("\xff\xfe latin \xe9/sun\x01.05h"),
        std::string("zero\0byte/sun.05h", 17),
    };
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
    for (const std::string& text : texts) ASSERT_TRUE(AddRecording(catalog, Entry(text, text, 2), error)) << error;
    std::vector<std::string> headers;
    ASSERT_TRUE(CatalogHeaders(catalog, headers, error)) << error;
    EXPECT_EQ(headers.size(), texts.size());
    for (const std::string& text : texts) {
        CatalogRecording back;
        bool found = false;
        ASSERT_TRUE(ReadRecording(catalog, text, back, found, error)) << error;
        ASSERT_TRUE(found) << text;
        EXPECT_EQ(back.header, text);
        EXPECT_EQ(back.object, text);
        EXPECT_EQ(back.warnings.at(0).message, text);
        EXPECT_EQ(back.scanFiles.at(1).refusal, text);
    }
    // Added again, an entry replaces the one before.
    ASSERT_TRUE(AddRecording(catalog, Entry(texts[1], "SUN", 1), error)) << error;
    CatalogRecording back;
    bool found = false;
    ASSERT_TRUE(ReadRecording(catalog, texts[1], back, found, error)) << error;
    EXPECT_EQ(back.object, "SUN");
    EXPECT_EQ(back.scanFiles.size(), 1u);
}

// A converted recording observed on `day` at `time` whose scan files at
// `frequencies` have a whole-Sun flux of 10 x frequency (and one more at 99
// GHz that the calibration refused).
CatalogRecording Observed(const std::string& header, const std::string& day, const std::string& time,
                          const std::vector<double>& frequencies) {
    CatalogRecording r;
    r.header = header;
    r.output = "/out/" + header;
    r.observed = day + "T" + time;
    r.object = "SUN";
    r.status = "converted";
    for (double f : frequencies) {
        CatalogScanFile file;
        file.name = header + std::to_string(f);
        file.frequency = f;
        file.calibrated = file.hasFlux = true;
        file.flux = 10.0 * f;
        file.fluxError = f;
        r.scanFiles.push_back(file);
    }
    CatalogScanFile refused;
    refused.name = header + "-refused";
    refused.frequency = 99.0;
    refused.refusal = "no disk";
    r.scanFiles.push_back(refused);
    return r;
}

// The daily series takes each recording's nearest channel on either side of
// the frequency (one at it alone), in the order of day, time and header,
// whatever channels each recording has; a recording without a whole-Sun
// flux, or none on either side, is not in it.
TEST(Catalog, DailySeriesBracketsTheFrequencyInEveryRecording) {
    TempFolder folder;
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(folder / "catalog.sqlite", catalog, error)) << error;
    const CatalogRecording recordings[] = {
        Observed("d/b", "2003-11-06", "09:00:00.00", {1.0, 2.0, 4.0, 8.0}),
        Observed("d/a", "2003-11-06", "09:00:00.00", {2.5, 3.5}),
        Observed("c", "2003-11-05", "10:00:00.00", {1.0, 2.8, 9.0}),
        Observed("only-below", "2003-11-07", "08:00:00.00", {1.0, 2.0}),
        Observed("only-above", "2003-11-04", "08:00:00.00", {5.0, 6.0}),
        Observed("nothing", "2003-11-03", "08:00:00.00", {}),
    };
    for (const CatalogRecording& r : recordings) ASSERT_TRUE(AddRecording(catalog, r, error)) << error;
    CatalogRecording failed = Observed("failed", "2003-11-08", "08:00:00.00", {});
    failed.status = "failed";
    failed.reason = "marker file missing";
    ASSERT_TRUE(AddRecording(catalog, failed, error)) << error;

    const struct {
        double frequency;
        std::vector<std::pair<std::string, double>> rows;  // header, frequency
    } cases[] = {
        {2.8, {{"only-above", 5.0}, {"c", 2.8}, {"d/a", 2.5}, {"d/a", 3.5}, {"d/b", 2.0}, {"d/b", 4.0},
               {"only-below", 2.0}}},
        {0.5, {{"only-above", 5.0}, {"c", 1.0}, {"d/a", 2.5}, {"d/b", 1.0}, {"only-below", 1.0}}},
        {50.0, {{"only-above", 6.0}, {"c", 9.0}, {"d/a", 3.5}, {"d/b", 8.0}, {"only-below", 2.0}}},
        {4.0, {{"only-above", 5.0}, {"c", 2.8}, {"c", 9.0}, {"d/a", 3.5}, {"d/b", 4.0}, {"only-below", 2.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        std::vector<DailyFluxRow> rows;
        ASSERT_TRUE(DailyFluxRows(catalog, c.frequency, rows, error)) << error;
        std::vector<std::pair<std::string, double>> got;
        for (const DailyFluxRow& row : rows) {
            got.emplace_back(row.header, row.frequency);
            EXPECT_EQ(row.flux, 10.0 * row.frequency);
            EXPECT_EQ(row.fluxError, row.frequency);
            EXPECT_EQ(row.observed.substr(0, 10), row.day);
        }
        EXPECT_EQ(got, c.rows);
    }
}

TEST(Catalog, AnotherSchemaVersionIsRefusedNamingTheFile) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    {
        Catalog catalog;
        std::string error;
        ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
        ASSERT_EQ(sqlite3_exec(catalog.db, "UPDATE catalog_info SET value = '2' WHERE key = 'schema_version'",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    Catalog catalog;
    std::string error;
    EXPECT_FALSE(OpenCatalog(path, catalog, error));
    EXPECT_EQ(error, path + ": holds catalog schema version 2, this program reads version 1");
}

TEST(Catalog, KillDuringWritesLosesNothingCommitted) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        Catalog catalog;
        std::string error;
        if (!OpenCatalog(path, catalog, error)) _exit(3);
        for (int n = 0;; ++n) {
            if (!AddRecording(catalog, Entry("rec" + std::to_string(n), "SUN", 40), error)) _exit(4);
            if (n == 20) (void)!write(ready[1], "x", 1);
        }
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    usleep(50000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(catalog.db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    std::vector<std::string> headers;
    ASSERT_TRUE(CatalogHeaders(catalog, headers, error)) << error;
    // Every recording up to the last committed one, each complete.
    EXPECT_GT(headers.size(), 20u);
    for (std::size_t n = 0; n < headers.size(); ++n) {
        CatalogRecording back;
        bool found = false;
        ASSERT_TRUE(ReadRecording(catalog, "rec" + std::to_string(n), back, found, error)) << error;
        ASSERT_TRUE(found) << n;
        EXPECT_EQ(back.scanFiles.size(), 40u) << n;
        EXPECT_EQ(back.scanFiles.back().sources.size(), 1u) << n;
    }
}

// A simulated recording of 12 channels (10 scan files), 3 sources, converted
// by vm-batch, as the catalog takes it.
CatalogInput SimulatedRecording(const TempFolder& root) {
    const std::string tools = VMFITS_TOOLS_DIR;
    const std::string archive = root / "arch", out = root / "out";
    EXPECT_EQ(RunProcess({tools + "/vm-simobs", "--out", archive, "--cfg", "--sources", "3"}).exitCode, 0);
    const ProcessResult batch = RunProcess({tools + "/vm-batch", "--cfg", archive + "/vm-fits.cfg", archive, out});
    EXPECT_EQ(batch.exitCode, 0) << batch.err;
    CatalogInput input;
    input.headerPath = archive + "/sun.05h";
    input.header = "sun.05h";
    input.tablePath = archive + "/vm-fits.cfg";
    input.status = "converted";
    for (const auto& file : std::filesystem::recursive_directory_iterator(out)) {
        std::vector<ScanIndexEntry> entries;
        std::string error;
        if (file.path().extension() != ".0hd" || !ReadScanIndex(file.path(), entries, error)) continue;
        input.scanIndex = file.path();
        input.output = file.path().parent_path();
        input.scanFiles = ScanFilePathsOfIndex(input.scanIndex, entries);
    }
    EXPECT_EQ(input.scanFiles.size(), 10u);
    return input;
}

// The catalog's text of one entry.
std::string DumpOfEntry(const TempFolder& folder, const std::string& name, const CatalogRecording& entry) {
    Catalog catalog;
    std::string error, dump;
    EXPECT_TRUE(OpenCatalog(folder / name, catalog, error)) << error;
    EXPECT_TRUE(AddRecording(catalog, entry, error)) << error;
    EXPECT_TRUE(CatalogDump(catalog, dump, error)) << error;
    return dump;
}

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder))
        names.insert(std::filesystem::relative(file.path(), folder).string());
    return names;
}

TEST(RecordingProducts, AreVmScansOutputsAndTheEntryIsTheCatalogs) {
    TempFolder root;
    const CatalogInput input = SimulatedRecording(root);
    ASSERT_FALSE(input.scanFiles.empty());
    ProductsRequest request{input, root / "products", 0, ""};
    ASSERT_TRUE(EpochInstant("1700000000", request.fitsDate));
    std::filesystem::create_directories(request.folder + "/stale");                  // an earlier folder
    std::filesystem::create_directories(request.folder + ".tmp-999999/fits");        // a killed run's
    CatalogRecording entry;
    std::string error;
    ASSERT_TRUE(MakeRecordingProducts(request, entry, error)) << error;
    EXPECT_EQ(DumpOfEntry(root, "a.sqlite", entry), DumpOfEntry(root, "b.sqlite", MakeCatalogRecording(input)));

    std::set<std::string> expected = {"calibrated-i.png", "calibrated-v.png", "explain.json", "fits", "overview.png",
                                      "sources.csv", "spectrum.png", "whole-sun.csv", "whole-sun.png"};
    for (const std::string& path : input.scanFiles)
        expected.insert("fits/" + std::filesystem::path(path).filename().string() + ".fits");
    EXPECT_EQ(Listing(request.folder), expected);  // no notes: everything made
    for (const auto& file : std::filesystem::directory_iterator(root.path()))
        EXPECT_EQ(file.path().filename().string().find(".tmp-"), std::string::npos) << file.path() << " left behind";

    // Each file as vm-scan writes it.
    const std::string vmScan = VMFITS_TOOLS_DIR "/vm-scan", theirs = root / "vm-scan";
    const std::vector<std::string> recording = {"--recording", input.headerPath, "--cfg", input.tablePath};
    struct Case {
        std::string product;
        std::vector<std::string> args;  // then the recording's options; "-o" products write to `theirs`
    };
    const std::vector<Case> cases = {
        {"explain.json", {"explain", "--json", input.headerPath, "--cfg", input.tablePath}},
        {"sources.csv", {"sources", input.scanIndex}},
        {"whole-sun.csv", {"flux", input.scanIndex}},
        {"overview.png", {"overview", "--index", input.scanIndex}},
        {"calibrated-i.png", {"overview", "--pol", "I", "--calibrated", "--index", input.scanIndex}},
        {"calibrated-v.png", {"overview", "--pol", "V", "--calibrated", "--index", input.scanIndex}},
        {"spectrum.png", {"spectrum", input.scanIndex}},
        {"fits", {"fits", "--index", input.scanIndex}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {vmScan};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (c.args[0] != "explain") argv.insert(argv.end(), recording.begin(), recording.end());
        const bool picture = c.product.size() > 4 && c.product.substr(c.product.size() - 4) == ".png";
        if (picture) argv.insert(argv.end(), {"--size", "1000x650", "-o", theirs + "." + c.product});
        if (c.product == "fits") argv.insert(argv.end(), {"-o", theirs + ".fits"});
        ProcessOptions options;
        options.setEnv["SOURCE_DATE_EPOCH"] = "1700000000";
        const ProcessResult r = RunProcess(argv, options);
        EXPECT_EQ(r.exitCode, 0) << c.product << ": " << r.err;
        const std::string ours = request.folder + "/" + c.product;
        if (c.product == "fits") {
            for (const std::string& path : input.scanFiles) {
                const std::string name = std::filesystem::path(path).filename().string() + ".fits";
                EXPECT_TRUE(ReadFileBytes(ours + "/" + name) == ReadFileBytes(theirs + ".fits/" + name)) << name;
            }
        } else {
            EXPECT_TRUE(ReadFileBytes(ours) == (picture ? ReadFileBytes(theirs + "." + c.product) : r.out)) << c.product;
        }
    }

    // A failed recording: explain and the notes only.
    CatalogInput failed = input;
    failed.status = "failed";
    failed.reason = "the conversion did not finish";
    failed.scanFiles.clear();
    ASSERT_TRUE(MakeRecordingProducts({failed, root / "products", 1, ""}, entry, error)) << error;
    EXPECT_EQ(DumpOfEntry(root, "c.sqlite", entry), DumpOfEntry(root, "d.sqlite", MakeCatalogRecording(failed)));
    EXPECT_EQ(Listing(root / "products"), (std::set<std::string>{"explain.json", "notes.txt"}));
    const std::string notes = ReadFileBytes(root / "products/notes.txt");
    EXPECT_EQ(notes.substr(0, notes.find('\n')),
              "overview.png: not made: the conversion failed: the conversion did not finish");
}

}  // namespace
