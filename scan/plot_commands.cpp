#include "scan/plot_commands.h"

#include <optional>
#include <vector>

#include "scan/scan_file_commands.h"
#include "platform/paths.h"

namespace {

int Failed(const std::string& error, std::ostream& err) {
    err << error << "\n";
    return 1;
}

// The recording planned, or 2 with the message when its header cannot be read.
int PlannedRecording(const RecordingOptions& options, RecordingExplanation& recording, std::ostream& err) {
    std::string error;
    if (PlanRecordingOfScanFiles(options.headerPath, options.thirdArgument, options.tablePath, recording, error))
        return 0;
    err << error << "\n";
    return 2;
}

}  // namespace

int WrittenPicture(const PlotPicture& picture, const PictureOptions& options, std::ostream& out, std::ostream& err) {
    std::string error;
    if (!WritePicture(picture, options.size, options.outputPath, error)) {
        err << error << "\n";
        return 1;
    }
    out << "wrote " << options.outputPath << "\n";
    return 0;
}

bool ReadNamedScans(const std::vector<std::string>& paths, std::vector<NamedScan>& scans, std::string& error) {
    for (const std::string& path : paths) {
        NamedScan named;
        named.name = path;
        if (!ReadScanFile(path, named.scan, error)) return false;
        scans.push_back(std::move(named));
    }
    return true;
}

bool AddPictureQualities(const RecordingExplanation& recording, std::vector<NamedScan>& scans, std::string& error) {
    for (NamedScan& named : scans) {
        named.quality.emplace();
        if (!PictureQualityOf(recording, FileNameOfPath(named.name), named.scan, *named.quality, error)) return false;
    }
    return true;
}

int PlotCommand(const std::string& scanPath, const RecordingOptions& recording, const PictureOptions& options,
                std::ostream& out, std::ostream& err) {
    ScanFileContents scan;
    std::string error;
    if (!ReadScanFile(scanPath, scan, error)) return Failed(error, err);
    std::optional<PictureQuality> quality;
    if (!recording.headerPath.empty()) {
        RecordingExplanation planned;
        if (const int code = PlannedRecording(recording, planned, err)) return code;
        quality.emplace();
        if (!PictureQualityOf(planned, FileNameOfPath(scanPath), scan, *quality, error)) return Failed(error, err);
    }
    PlotPicture picture;
    if (!ScanPicture(scan, scanPath, picture, error, quality ? &*quality : nullptr)) return Failed(error, err);
    return WrittenPicture(picture, options, out, err);
}

int OverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                    const RecordingOptions& recording, const PictureOptions& options, std::ostream& out,
                    std::ostream& err) {
    std::vector<ScanIndexEntry> entries;
    std::string error;
    if (!ReadScanIndex(indexPath, entries, error)) return Failed(error, err);
    if (entries.empty()) return Failed(indexPath + ": the index lists no scan files", err);
    std::vector<NamedScan> scans;
    if (!ReadNamedScans(ScanFilePathsOfIndex(indexPath, entries), scans, error)) return Failed(error, err);
    if (!recording.headerPath.empty()) {
        RecordingExplanation planned;
        if (const int code = PlannedRecording(recording, planned, err)) return code;
        if (!AddPictureQualities(planned, scans, error)) return Failed(error, err);
    }
    PlotPicture picture;
    if (!OverviewPicture(scans, polarisation, picture, error)) return Failed(error, err);
    return WrittenPicture(picture, options, out, err);
}

int PlotCommand(const std::string& scanPath, const PictureOptions& options, std::ostream& out,
                std::ostream& err) {
    return PlotCommand(scanPath, RecordingOptions(), options, out, err);
}

int OverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                    const PictureOptions& options, std::ostream& out, std::ostream& err) {
    return OverviewCommand(indexPath, polarisation, RecordingOptions(), options, out, err);
}

int RepairPlotCommand(const std::string& headerPath, int channel, bool thirdArgument,
                      const std::string& tablePath, const PictureOptions& options, std::ostream& out,
                      std::ostream& err) {
    RecordingExplanation explanation;
    std::string error;
    if (!ExplainRecording(headerPath, thirdArgument, tablePath, true, explanation, error)) {
        err << error << "\n";
        return 2;
    }
    PlotPicture picture;
    if (!RepairPicture(explanation, channel, picture, error)) return Failed(error, err);
    return WrittenPicture(picture, options, out, err);
}
