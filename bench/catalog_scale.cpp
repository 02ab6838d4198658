// The catalog at scale: N recordings of 12 scan files each, made directly
// (no conversions), then the one-frequency daily series (DailyFluxRows) and
// the addition of one more day's recording (AddRecording) timed.
//   catalog-scale FOLDER N...   prints one line per N
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "catalog/catalog.h"
#include "catalog/catalog_sql.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

CatalogRecording Day(long n) {
    CatalogRecording r;
    const long year = 1990 + n / 360, month = n / 30 % 12 + 1, day = n % 30 + 1;
    char text[64];
    std::snprintf(text, sizeof text, "%04ld/%02ld/%02ld/sun.05h", year, month, day);
    r.header = text;
    r.output = std::string("/out/") + text;
    std::snprintf(text, sizeof text, "%04ld-%02ld-%02ldT08:%02ld:00.00", year, month, day, n % 60);
    r.observed = text;
    r.object = "SUN";
    r.status = "converted";
    for (int c = 0; c < 12; ++c) {
        CatalogScanFile f;
        f.name = "sun05_" + std::to_string(c) + ".scan";
        f.channel = c;
        f.frequency = 3.0 + 1.1 * c;
        f.calibrated = true;
        f.hasFlux = true;
        f.flux = 100.0 + static_cast<double>(n % 97) + c;
        f.fluxError = 2.0;
        f.sources.resize(c % 3);
        r.scanFiles.push_back(f);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: catalog-scale FOLDER N...\n");
        return 2;
    }
    std::printf("%-10s %-14s %-16s %-12s\n", "recordings", "scan files", "daily series ms", "add one ms");
    for (int a = 2; a < argc; ++a) {
        const long count = std::atol(argv[a]);
        const std::string path = std::string(argv[1]) + "/catalog-" + argv[a] + ".sqlite";
        unlink(path.c_str());
        unlink((path + "-wal").c_str());
        unlink((path + "-shm").c_str());
        Catalog catalog;
        std::string error;
        if (!OpenCatalog(path, catalog, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        // Made faster than a run adds them: no sync while filling.
        ExecSql(catalog, "PRAGMA synchronous=OFF", error);
        for (long n = 0; n < count; ++n) {
            if (!AddRecording(catalog, Day(n), error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
        }
        ExecSql(catalog, "PRAGMA synchronous=FULL", error);
        ExecSql(catalog, "PRAGMA wal_checkpoint(TRUNCATE)", error);
        ExecSql(catalog, "ANALYZE", error);

        std::vector<DailyFluxRow> rows;
        double query = 1e9;
        for (int repeat = 0; repeat < 5; ++repeat) {  // the best of five
            const auto start = std::chrono::steady_clock::now();
            if (!DailyFluxRows(catalog, 9.2, rows, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            query = std::min(query, Since(start));
        }
        const auto start = std::chrono::steady_clock::now();
        if (!AddRecording(catalog, Day(count), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const double add = Since(start);
        std::printf("%-10ld %-14ld %-16.1f %-12.1f (%zu rows)\n", count, count * 12, query * 1e3, add * 1e3,
                    rows.size());
    }
    return 0;
}
