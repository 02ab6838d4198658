#include "archive/archive_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "archive/flux_comparison.h"
#include "archive/flux_series.h"
#include "archive/region_catalog.h"
#include "batch/summary.h"
#include "platform/paths.h"
#include "scan/plots.h"

namespace {

// Opens an existing catalog: a missing one is an error here, not a new one.
bool OpenExisting(const std::string& path, Catalog& catalog, std::ostream& err) {
    struct stat status {};
    std::string error;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        err << "vm-archive: " << path << ": no such catalog file\n";
        return false;
    }
    if (!OpenCatalog(path, catalog, error)) {
        err << "vm-archive: " << error << "\n";
        return false;
    }
    return true;
}

// Writes `text` to the file, or to `out` when the path is empty.
bool Deliver(const std::string& path, const std::string& text, std::ostream& out, std::ostream& err) {
    if (path.empty()) {
        out << text;
        return true;
    }
    std::string error;
    if (WriteFileWhole(path, text, error)) return true;
    err << "vm-archive: " << error << "\n";
    return false;
}

bool Draw(const PlotPicture& picture, const std::string& path, std::ostream& err) {
    std::string error;
    if (WritePicture(picture, PictureSize(), path, error)) return true;
    err << "vm-archive: " << error << "\n";
    return false;
}

}  // namespace

int RunFluxCommand(const FluxCommand& command, std::ostream& out, std::ostream& err) {
    Catalog catalog;
    if (!OpenExisting(command.catalog, catalog, err)) return 1;
    std::vector<DailyFlux> series;
    std::vector<std::string> notes;
    std::string error;
    if (!ReadDailyFlux(catalog, command.frequencies, command.nearest, series, notes, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    for (const std::string& note : notes) err << "vm-archive: " << note << "\n";
    if (!Deliver(command.csv, DailyFluxCsv(series), out, err)) return 1;
    if (command.picture.empty()) return 0;
    PlotPicture picture;
    if (!DailyFluxPicture(series, command.catalog, picture, error)) {
        err << "vm-archive: no picture: " << error << "\n";
        return 0;
    }
    return Draw(picture, command.picture, err) ? 0 : 1;
}

int RunDumpCommand(const std::string& catalogPath, std::ostream& out, std::ostream& err) {
    Catalog catalog;
    if (!OpenExisting(catalogPath, catalog, err)) return 1;
    std::string dump, error;
    if (!CatalogDump(catalog, dump, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    out << dump;
    return 0;
}

int RunRegionsCommand(const RegionsCommand& command, std::ostream& out, std::ostream& err) {
    Catalog catalog;
    if (!OpenExisting(command.catalog, catalog, err)) return 1;
    CatalogFeatures features;
    std::string error;
    if (!ReadFeatures(catalog, features, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    const std::vector<LinkedRegion> regions = LinkRegions(features.features);
    if (!WriteRegions(catalog, features, regions, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    if (!Deliver(command.csv, RegionsCsv(features, regions), out, err)) return 1;
    if (command.pictureDir.empty()) return 0;
    if (mkdir(command.pictureDir.c_str(), 0777) != 0 && errno != EEXIST) {
        err << "vm-archive: " << command.pictureDir << ": cannot create the folder\n";
        return 1;
    }
    for (std::size_t r = 0; r < regions.size(); ++r) {
        PlotPicture picture;
        if (!RegionPicture(features, regions, r, picture, error)) {
            err << "vm-archive: no picture: " << error << "\n";
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof name, "region-%04zu.png", r + 1);
        if (!Draw(picture, JoinPath(command.pictureDir, name), err)) return 1;
    }
    return 0;
}

int RunCompareCommand(const CompareCommand& command, std::ostream& out, std::ostream& err) {
    std::vector<ReferenceFlux> reference;
    std::string error;
    if (!ReadReferenceFlux(command.reference, reference, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    Catalog catalog;
    if (!OpenExisting(command.catalog, catalog, err)) return 1;
    std::set<double> frequencies;
    for (const ReferenceFlux& r : reference) frequencies.insert(r.frequency);
    std::vector<DailyFlux> ours;
    std::vector<std::string> notes;
    if (!ReadDailyFlux(catalog, {frequencies.begin(), frequencies.end()}, false, ours, notes, error)) {
        err << "vm-archive: " << error << "\n";
        return 1;
    }
    for (const std::string& note : notes) err << "vm-archive: " << note << "\n";
    std::vector<ComparedDay> days = PairDays(ours, reference);
    const ComparisonSummary summary = SummariseComparison(days);
    out << ComparisonReport(summary);
    if (!command.csv.empty() && !Deliver(command.csv, ComparisonCsv(days), out, err)) return 1;
    if (command.picture.empty()) return 0;
    PlotPicture picture;
    if (!ComparisonPicture(days, summary, command.reference, picture, error)) {
        err << "vm-archive: no picture: " << error << "\n";
        return 0;
    }
    return Draw(picture, command.picture, err) ? 0 : 1;
}
