#include "batch/catalog_entries.h"

#include <cstdlib>
#include <map>

#include "batch/batch_run.h"
#include "batch/plan.h"
#include "platform/paths.h"

namespace {

CatalogInput CommonInput(const std::string& archive, const std::string& output, const Recording& r) {
    CatalogInput input;
    input.headerPath = JoinPath(archive, r.Path());
    input.header = r.Path();
    input.output = JoinPath(output, r.folder);
    return input;
}

std::string FullPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string full = resolved;
    std::free(resolved);
    return full;
}

}  // namespace

CatalogInput CatalogInputOfConversion(const std::string& archive, const std::string& output, const Recording& r,
                                      const ManifestEntry& entry) {
    CatalogInput input = CommonInput(archive, output, r);
    input.tablePath = entry.table.file.name;
    input.back = entry.back;
    for (const ConverterWarning& w : entry.warnings) input.warnings.push_back({w.id, -1, w.message});
    const bool converted = !entry.started && entry.exitCode == 1 && !entry.outputs.empty();
    if (!converted) {
        input.status = "failed";
        input.reason = entry.started ? "the conversion did not finish" : entry.status;
        if (input.reason.empty()) input.reason = "vm-fits exited with " + std::to_string(entry.exitCode);
        return input;
    }
    input.status = entry.warnings.empty() ? "converted" : "warnings";
    input.scanIndex = JoinPath(output, entry.outputs[0].path);
    for (std::size_t i = 1; i < entry.outputs.size(); ++i)  // the scan index comes first
        input.scanFiles.push_back(JoinPath(output, entry.outputs[i].path));
    return input;
}

CatalogInput CatalogInputOfFailure(const std::string& archive, const std::string& output, const Recording& r,
                                   const std::string& reason) {
    CatalogInput input = CommonInput(archive, output, r);
    input.status = "failed";
    input.reason = reason;
    return input;
}

bool AddCatalogEntry(Catalog& catalog, const CatalogInput& input, std::string& error) {
    return AddRecording(catalog, MakeCatalogRecording(input), error);
}

int RebuildCatalog(const std::string& catalogPath, const std::string& archiveArgument,
                   const std::string& outputArgument, std::ostream& out, std::ostream& err) {
    const std::string archive = FullPath(archiveArgument);
    const std::string output = FullPath(outputArgument);
    Discovery found;
    std::map<std::string, ManifestEntry> latest;
    std::string error;
    if (!FindRecordings(archive, output, found, error) || !ReadManifests(output, latest, error)) {
        err << "vm-batch: " << error << "\n";
        return kBatchCannotRun;
    }
    Catalog catalog;
    if (!OpenCatalog(catalogPath, catalog, error)) {
        err << "vm-batch: " << error << "\n";
        return kBatchCannotRun;
    }
    const std::map<std::size_t, std::string> clashes = NameClashes(found.recordings, archive);
    std::size_t added = 0, failed = 0;
    int code = kBatchAllDone;
    for (std::size_t i = 0; i < found.recordings.size(); ++i) {
        const Recording& r = found.recordings[i];
        const auto known = latest.find(r.Path());
        const auto clash = clashes.find(i);
        const Decision d =
            Decide(r, clash == clashes.end() ? "" : clash->second, latest, TableStamp(), false, output);
        CatalogInput input;
        if (d.action == Action::Fail) {
            input = CatalogInputOfFailure(archive, output, r, d.reason);
        } else if (known != latest.end() && !known->second.started) {
            input = CatalogInputOfConversion(archive, output, r, known->second);
        } else {
            continue;  // never converted: nothing to catalog
        }
        if (!AddCatalogEntry(catalog, input, error)) {
            err << "vm-batch: " << error << "\n";
            code = kBatchSomeFailed;
            continue;
        }
        ++added;
        if (input.status == "failed") ++failed;
    }
    out << catalogPath << ": " << added << " recordings (" << failed << " failed) from " << output << "\n";
    return code;
}
