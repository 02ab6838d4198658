// vm-archive's logic: the flux at a frequency, the reference series, the
// region linker and the comparison's statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "archive/archive_commands.h"
#include "archive/archive_time.h"
#include "archive/flux_comparison.h"
#include "archive/flux_series.h"
#include "archive/reference_flux.h"
#include "archive/region_catalog.h"
#include "archive/region_linking.h"
#include "solar/rotation.h"

namespace {

DailyFluxRow Channel(double frequency, double flux, double error) {
    DailyFluxRow row;
    row.recordingId = 7;
    row.header = "2024/sun.05h";
    row.observed = "2024-03-05T10:00:00.00";
    row.day = "2024-03-05";
    row.frequency = frequency;
    row.flux = flux;
    row.fluxError = error;
    return row;
}

TEST(FluxAtFrequency, InterpolatesInLogarithmsOrTakesTheNearestChannel) {
    const double middle = std::sqrt(8.0);  // halfway from 2 to 4 GHz in log(frequency)
    const double s = std::sqrt(100.0 * 200.0);
    struct Case {
        const char* name;
        std::vector<DailyFluxRow> channels;
        double frequency;
        bool nearest;
        double flux, error;
        std::vector<double> from;
        FluxMethod method;
    } cases[] = {
        {"halfway", {Channel(2, 100, 4), Channel(4, 200, 8)}, middle, false, s, s * 0.02 * std::sqrt(2.0), {2, 4},
         FluxMethod::Interpolated},
        {"at the lower channel", {Channel(2, 100, 4), Channel(4, 200, 8)}, 2.0, false, 100, 4, {2, 4},
         FluxMethod::Interpolated},
        {"a quarter of the way", {Channel(1, 100, 0), Channel(16, 1600, 0)}, 2.0, false, 200, 0, {1, 16},
         FluxMethod::Interpolated},
        {"a channel at the frequency", {Channel(2.8, 90, 3)}, 2.8, false, 90, 3, {2.8}, FluxMethod::Interpolated},
        {"channels on one side", {Channel(3.0, 90, 3)}, 2.8, false, 90, 3, {3.0}, FluxMethod::ExtrapolatedNearest},
        {"nearest below", {Channel(2, 100, 4), Channel(4, 200, 8)}, 2.5, true, 100, 4, {2}, FluxMethod::Nearest},
        {"nearest above", {Channel(2, 100, 4), Channel(4, 200, 8)}, 3.5, true, 200, 8, {4}, FluxMethod::Nearest},
        {"a tie takes the lower", {Channel(2, 100, 4), Channel(4, 200, 8)}, 3.0, true, 100, 4, {2},
         FluxMethod::Nearest},
        {"nearest of one side", {Channel(3.0, 90, 3)}, 2.8, true, 90, 3, {3.0}, FluxMethod::Nearest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DailyFlux flux;
        std::string reason;
        ASSERT_TRUE(FluxAtFrequency(c.channels, c.frequency, c.nearest, flux, reason)) << reason;
        EXPECT_NEAR(flux.flux, c.flux, 1e-9 * c.flux);
        EXPECT_NEAR(flux.fluxError, c.error, 1e-12 + 1e-9 * c.error);
        EXPECT_EQ(flux.from, c.from);
        EXPECT_EQ(flux.method, c.method);
        EXPECT_EQ(flux.frequency, c.frequency);
        EXPECT_EQ(flux.observed, "2024-03-05T10:00:00.00");
    }
    DailyFlux flux;
    std::string reason;
    EXPECT_FALSE(FluxAtFrequency({Channel(2, 0, 1), Channel(4, 200, 8)}, 3.0, false, flux, reason));
    EXPECT_EQ(reason, "a flux or frequency not above 0 cannot be interpolated in logarithms");
    EXPECT_FALSE(FluxAtFrequency({}, 3.0, false, flux, reason));
}

TEST(ReferenceFlux, ReadsBothFormsAndNamesTheBadLine) {
    const std::string table =
        "fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi\n"
        "20240305 170000 2460375.208 2281.583 152.3 150.1 135.1\n"
        "\n"
        "20240305   200000 2460375.333 2281.587 155.0 152.7 137.4\n";
    std::vector<ReferenceFlux> rows;
    std::string error;
    ASSERT_TRUE(ParseReferenceFlux(table, "ref.txt", rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].day, "2024-03-05");
    EXPECT_DOUBLE_EQ(rows[0].flux, 152.3);  // fluxobsflux, not fluxadjflux
    EXPECT_DOUBLE_EQ(rows[0].frequency, 2.8);
    EXPECT_NEAR(rows[1].time - rows[0].time, 3.0 / 24.0, 1e-9);
    EXPECT_EQ(rows[1].line, 4);

    ASSERT_TRUE(ParseReferenceFlux("# series\ndate,frequency_ghz,flux_sfu\r\n2024-03-05,2.8,150\r\n"
                                   "2024-03-06T06:00:00,3.75,99.5\n",
                                   "ref.csv", rows, error))
        << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].day, "2024-03-06");
    EXPECT_NEAR(rows[1].time - rows[0].time, 0.75, 1e-9);  // a date alone stands for noon
    EXPECT_DOUBLE_EQ(rows[1].frequency, 3.75);

    const std::string tableHeader = "fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi\n";
    struct Bad {
        std::string text, error;
    } bad[] = {
        {"", "r: no header line (the file is empty)"},
        {"day,flux\n", "r:1: the header line is neither 'fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux "
                       "fluxadjflux fluxursi' nor 'date,frequency_ghz,flux_sfu'"},
        {tableHeader + "20240305 170000 1 2 152.3 150.1\n", "r:2: 6 fields where the header names 7"},
        {tableHeader + "20240231 170000 1 2 152.3 150.1 135\n", "r:2: fluxdate '20240231' is not a date YYYYMMDD"},
        {tableHeader + "20240305 1700 1 2 152.3 150.1 135\n", "r:2: fluxtime '1700' is not a time HHMMSS"},
        {tableHeader + "20240305 170000 1 2 15x 150.1 135\n", "r:2: fluxobsflux '15x' is not a number"},
        {"date,frequency_ghz,flux_sfu\n2024-03-05,2.8,150\n2024-3-6,2.8,150\n",
         "r:3: date '2024-3-6' is not YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS"},
        {"date,frequency_ghz,flux_sfu\n2024-03-05,0,150\n", "r:2: frequency_ghz '0' is not a frequency above 0"},
        {"date,frequency_ghz,flux_sfu\n2024-03-05,2.8,nan\n", "r:2: flux_sfu 'nan' is not a number"},
        {"date,frequency_ghz,flux_sfu\n2024-03-05,2.8\n", "r:2: 2 fields where the header names 3"},
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(ParseReferenceFlux(b.text, "r", rows, error)) << b.text;
        EXPECT_EQ(error, b.error);
    }
    EXPECT_FALSE(ReadReferenceFlux("/nonexistent/ref.txt", rows, error));
    EXPECT_EQ(error, "/nonexistent/ref.txt: cannot be read");
}

// A feature of a region at `latitude` that crossed the central meridian at
// `meridianDay`, seen on day `day` of March 2024 at 10:00 UT.
RegionFeature Seen(long long recording, int day, double latitude, double meridianDay, int track = 0) {
    RegionFeature f;
    f.recordingId = recording;
    f.track = track;
    char date[32];
    std::snprintf(date, sizeof date, "2024-03-%02d", day);
    f.day = date;
    f.observed = f.day + "T10:00:00.00";
    DaysOfTime(f.observed, f.time);
    double start = 0.0;
    DaysOfTime("2024-03-01T10:00:00.00", start);
    const double elapsed = f.time - start;
    f.angleP = -22.0 + 0.4 * elapsed;  // P changes slowly from day to day
    f.radius = 965.0 - 0.2 * elapsed;
    f.offset = ScanOffsetOf(SynodicRotationRate(latitude) * (elapsed - meridianDay), latitude, f.angleP, f.radius);
    f.offsetError = 2.0;
    f.beamWidth = 60.0;
    return f;
}

RegionFeature Polarised(RegionFeature f, double vOverI) {
    f.vOverI = vOverI;
    f.vOverIError = 0.02;
    return f;
}

TEST(RegionLinking, FollowsTwoRegionsAcrossAMissingDayWithoutMerging) {
    // Region north at +18 degrees crosses the meridian on day 5, region south
    // at -24 degrees on day 3 and passes the west limb after day 9. Day 6 is missing.
    std::vector<RegionFeature> features;
    std::vector<int> truth;
    for (int day = 1; day <= 11; ++day) {
        if (day == 6) continue;
        features.push_back(Seen(day, day, 18.0, 4.0, 0));
        truth.push_back(1);
        if (day <= 9) {
            features.push_back(Seen(day, day, -24.0, 2.0, 1));
            truth.push_back(2);
        }
    }
    const std::vector<LinkedRegion> regions = LinkRegions(features);
    ASSERT_EQ(regions.size(), 2u);
    for (std::size_t r = 0; r < regions.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(regions[r].features.size(), r == 0 ? 10u : 8u);
        for (const std::size_t k : regions[r].features) EXPECT_EQ(truth[k], static_cast<int>(r) + 1);
    }
    EXPECT_LE(regions[0].latitudeLow, 18.0);
    EXPECT_GE(regions[0].latitudeHigh, 18.0);
    EXPECT_LE(regions[1].latitudeLow, -24.0);
    EXPECT_GE(regions[1].latitudeHigh, -24.0);
    EXPECT_LT(regions[1].latitudeHigh - regions[1].latitudeLow, 40.0);  // the links narrowed the band
}

TEST(RegionLinking, LeavesUnexplainedFeaturesAndLongGapsUnlinked) {
    struct Case {
        const char* name;
        std::vector<RegionFeature> features;
        std::size_t regions;
    } cases[] = {
        // Day 4's feature lies 150 arcsec east of where the rotation carries the region.
        {"moving east", {Seen(1, 1, 10, 3), Seen(2, 2, 10, 3), Seen(3, 3, 10, 3), [] {
             RegionFeature f = Seen(4, 4, 10, 3);
             f.offset -= 150.0;
             return f;
         }()}, 2},
        {"two missing days bridged", {Seen(1, 1, 10, 3), Seen(2, 2, 10, 3), Seen(5, 5, 10, 3)}, 1},
        {"three missing days end it", {Seen(1, 1, 10, 3), Seen(2, 2, 10, 3), Seen(6, 6, 10, 3)}, 2},
        // At 75 degrees on day 3, behind the west limb (102 degrees) on day 5, where
        // the scan would see it at 78 degrees, had it not set.
        {"past the limb", {Seen(1, 1, 10, -3.49), Seen(2, 2, 10, -3.49), Seen(3, 3, 10, -3.49),
                           Seen(5, 5, 10, -3.49)}, 2},
        // Day 3's feature lies where the rotation carries the region, but its
        // circular polarisation has the other sign (a region born there).
        {"polarity flips", {Polarised(Seen(1, 1, 10, 3), 0.2), Polarised(Seen(2, 2, 10, 3), 0.2),
                            Polarised(Seen(3, 3, 10, 3), -0.2)}, 2},
        {"polarity within its errors", {Polarised(Seen(1, 1, 10, 3), 0.2), Polarised(Seen(2, 2, 10, 3), 0.01),
                                        Polarised(Seen(3, 3, 10, 3), -0.01)}, 1},
        // Beyond the optical limb at every latitude: no region.
        {"beyond the limb", {Seen(1, 1, 10, 3), Seen(2, 2, 10, 3), [] {
             RegionFeature f = Seen(3, 3, 10, 3);
             f.offset = 1.01 * f.radius;
             return f;
         }()}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<LinkedRegion> regions = LinkRegions(c.features);
        EXPECT_EQ(regions.size(), c.regions);
        const std::size_t linked = std::string(c.name) == "beyond the limb" ? 2u : c.features.size();
        EXPECT_EQ(regions.back().features.size(), c.regions == 1 ? linked : 1u);
    }
}

TEST(FluxComparison, FindsAnInjectedScaleAndNamesTheOutliers) {
    const double scale = 1.0873;
    std::vector<DailyFlux> ours;
    std::vector<ReferenceFlux> reference;
    for (int day = 1; day <= 28; ++day) {
        char date[32];
        std::snprintf(date, sizeof date, "2024-02-%02d", day);
        const double truth = 100.0 + 30.0 * std::sin(day * 0.4);
        DailyFlux f;
        f.day = date;
        f.observed = f.day + "T09:30:00.00";
        f.frequency = 2.8;
        f.flux = truth * scale * (day == 17 ? 1.3 : 1.0) * (1.0 + 1e-9 * (day % 3 - 1));
        f.fluxError = 2.0;
        ours.push_back(f);
        for (const int hour : {3, 12, 20}) {  // the nearest in time is the one at 12:00
            ReferenceFlux r;
            r.day = date;
            DaysOfTime(f.day, r.time);
            r.time += hour / 24.0;
            r.frequency = 2.8;
            r.flux = hour == 12 ? truth : truth * 0.5;
            reference.push_back(r);
        }
    }
    ReferenceFlux other;  // a day we have no recording of
    other.day = "2024-03-02";
    other.frequency = 2.8;
    other.flux = 50.0;
    reference.push_back(other);

    std::vector<ComparedDay> days = PairDays(ours, reference);
    const ComparisonSummary summary = SummariseComparison(days);
    EXPECT_EQ(summary.days, 28u);
    EXPECT_NEAR(summary.median, scale, 1e-6);
    EXPECT_LT(summary.scatter, 1e-6);
    EXPECT_EQ(summary.outliers, std::vector<std::string>{"2024-02-17"});
    EXPECT_TRUE(days[16].outlier);
    EXPECT_EQ(ComparisonReport(summary).substr(0, 16), "days compared: 2");
    EXPECT_EQ(MedianOf({3.0, 1.0, 2.0, 10.0}), 2.5);
}

}  // namespace

namespace {

CatalogScanFile ScanAt(const std::string& name, double frequency, double flux, double error) {
    CatalogScanFile scan;
    scan.name = name;
    scan.frequency = frequency;
    scan.beamWidth = 60.0;
    scan.calibrated = true;
    scan.hasFlux = true;
    scan.flux = flux;
    scan.fluxError = error;
    return scan;
}

CatalogRecording RecordingOn(const std::string& header, const std::string& observed) {
    CatalogRecording recording;
    recording.header = header;
    recording.output = "out/" + header;
    recording.observed = observed;
    recording.angleP = -20.0;
    recording.solarRadius = 965.0;
    recording.status = "converted";
    return recording;
}

struct TemporaryCatalog {
    std::string path = ::testing::TempDir() + "archive-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite";
    TemporaryCatalog() { Remove(); }
    ~TemporaryCatalog() { Remove(); }
    void Remove() const {
        for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
    }
};

TEST(ArchiveCommands, FluxAndRegionsFromASmallCatalog) {
    const TemporaryCatalog file;
    {
        Catalog catalog;
        std::string error;
        ASSERT_TRUE(OpenCatalog(file.path, catalog, error)) << error;
        CatalogRecording later = RecordingOn("b/sun.06h", "2024-03-06T10:00:00.00");
        later.scanFiles = {ScanAt("s2", 2.0, 100, 4), ScanAt("s4", 4.0, 200, 8)};
        CatalogRecording earlier = RecordingOn("a/sun.05h", "2024-03-05T10:00:00.00");
        earlier.scanFiles = {ScanAt("s3", 3.0, 90, 3), ScanAt("s5", 5.0, 120, 3)};
        // One region seen on both days: a track of two sources each day.
        for (CatalogRecording* r : {&earlier, &later}) {
            const double offset = ScanOffsetOf(r == &earlier ? -10.0 : 3.6, 12.0, -20.0, 965.0);
            for (CatalogScanFile& scan : r->scanFiles) {
                CatalogSource source;
                source.track = 0;
                source.offset = offset;
                source.offsetError = 1.0;
                source.flux = 5.0;
                source.fluxError = 0.5;
                scan.sources.push_back(source);
            }
        }
        ASSERT_TRUE(AddRecording(catalog, later, error)) << error;
        ASSERT_TRUE(AddRecording(catalog, earlier, error)) << error;
    }
    FluxCommand flux{file.path, {2.0, 3.0}, false, "", ""};
    std::ostringstream out, err;
    ASSERT_EQ(RunFluxCommand(flux, out, err), 0) << err.str();
    EXPECT_EQ(out.str(),
              "observed,date,frequency_ghz,flux_sfu,flux_error_sfu,from_ghz,method\n"
              "2024-03-05T10:00:00.00,2024-03-05,2,90.0000,3.0000,3,extrapolated-nearest\n"
              "2024-03-05T10:00:00.00,2024-03-05,3,90.0000,3.0000,3,interpolated\n"
              "2024-03-06T10:00:00.00,2024-03-06,2,100.0000,4.0000,2,interpolated\n"
              "2024-03-06T10:00:00.00,2024-03-06,3,150.0000,4.3035,2 4,interpolated\n");  // S = 100 x 2^w, w = ln 1.5 / ln 2

    RegionsCommand regions{file.path, "", ""};
    for (int run = 0; run < 2; ++run) {  // a second run replaces the first's regions
        std::ostringstream csv;
        ASSERT_EQ(RunRegionsCommand(regions, csv, err), 0) << err.str();
        const std::string rows = csv.str();
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 5) << rows;
        EXPECT_EQ(rows.substr(rows.find('\n') + 1, 47), "1,2024-03-05T10:00:00.00,2024-03-05,0,-85.40,3,");
        EXPECT_EQ(rows.substr(rows.rfind("\n1,") + 1, 37), "1,2024-03-06T10:00:00.00,2024-03-06,0");
    }
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(file.path, catalog, error)) << error;
    CatalogFeatures features;
    ASSERT_TRUE(ReadFeatures(catalog, features, error)) << error;
    EXPECT_EQ(features.features.size(), 2u);

    FluxCommand missing{file.path + ".none", {2.0}, false, "", ""};
    std::ostringstream none;
    EXPECT_EQ(RunFluxCommand(missing, out, none), 1);
    EXPECT_EQ(none.str(), "vm-archive: " + missing.catalog + ": no such catalog file\n");

    // The dump: the recordings by header whatever order they went in, the regions just linked.
    std::ostringstream dump;
    ASSERT_EQ(RunDumpCommand(file.path, dump, err), 0) << err.str();
    const std::string text = dump.str();
    EXPECT_EQ(text.rfind("recording a/sun.05h\n", 0), 0u) << text;
    EXPECT_LT(text.find("recording a/sun.05h\n"), text.find("recording b/sun.06h\n"));
    EXPECT_NE(text.find("region_track a/sun.05h 0 "), std::string::npos) << text;
    std::ostringstream noDump;
    EXPECT_EQ(RunDumpCommand(missing.catalog, dump, noDump), 1);
    EXPECT_EQ(noDump.str(), none.str());
    CompareCommand compare{file.path, file.path + ".reference", "", ""};
    std::ostringstream noReference;
    EXPECT_EQ(RunCompareCommand(compare, out, noReference), 1);
    EXPECT_NE(noReference.str().find(compare.reference), std::string::npos) << noReference.str();
}

}  // namespace
